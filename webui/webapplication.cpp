#include "webapplication.h"

#include "apicontroller.h"
#include "apierror.h"
#include "appcontroller.h"
#include "authcontroller.h"
#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "cserverhandler.h"
#include "httperror.h"
#include "password.h"
#include "random.h"
#include "servercontroller.h"
#include "stringutils.h"
#include "weblimits.h"
#include "websession.h"
#include "webtexts.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QMimeDatabase>
#include <QMutexLocker>
#include <QNetworkCookie>

#include <array>
#include <cmath>

namespace {
const QString WWW_FOLDER = QStringLiteral(":/www");
const QString PUBLIC_FOLDER = QStringLiteral("/public");
const QString PRIVATE_FOLDER = QStringLiteral("/private");
const QString INDEX_PAGE = QStringLiteral("/index.html");

const QString C_SID = QStringLiteral("SID");
const QString HEADER_COOKIE = QStringLiteral("cookie");
// Keeps the cookie off requests that other sites make the browser send.
const QString COOKIE_SAME_SITE = QStringLiteral("; SameSite=Strict");

const QString API_PATH_PATTERN = QStringLiteral(
    "^/api/v1/(?<scope>[A-Za-z_][A-Za-z_0-9]*)/(?<action>[A-Za-z_][A-Za-z_0-9]*)$");
const QString API_NAME = QStringLiteral("%1/%2");

const QString SCOPE_AUTH = QStringLiteral("auth");
const QString SCOPE_SERVER = QStringLiteral("server");
const QString SCOPE_APP = QStringLiteral("app");

struct AllowedMethod
{
    QString scope;
    QString action;
    QString method;
};

// Listed actions accept only their method; all others accept GET and POST. Built on use: the
// method names are constants of another file, not yet there while this one is initialised.
QList<AllowedMethod> allowedMethodTable()
{
    return {
        {SCOPE_AUTH, QStringLiteral("login"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_AUTH, QStringLiteral("logout"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_SERVER, QStringLiteral("auth"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_SERVER, QStringLiteral("reqServerState"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_SERVER, QStringLiteral("getDeviceList"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("getTemplates"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("getDevices"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("addDevice"), Http::HEADER_REQUEST_METHOD_POST},
        // A removal by GET could be made by any page the operator's browser shows.
        {SCOPE_APP, QStringLiteral("removeDevice"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("getRegisterValues"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("about"), Http::HEADER_REQUEST_METHOD_POST},
        {SCOPE_APP, QStringLiteral("getLastFreeRegister"), Http::HEADER_REQUEST_METHOD_POST},
    };
}

QList<Http::Header> securityHeaderTable()
{
    return {
        {Http::HEADER_X_XSS_PROTECTION, QStringLiteral("1; mode=block")},
        {Http::HEADER_X_CONTENT_TYPE_OPTIONS, QStringLiteral("nosniff")},
        {Http::HEADER_REFERRER_POLICY, QStringLiteral("same-origin")},
        {Http::HEADER_X_FRAME_OPTIONS, QStringLiteral("SAMEORIGIN")},
        {Http::HEADER_CONTENT_SECURITY_POLICY,
            QStringLiteral("default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' "
                           "data:; script-src 'self' 'unsafe-inline'; object-src 'none'; "
                           "form-action 'self';")
                + QStringLiteral(" frame-ancestors 'self';")},
    };
}

const QString MIME_TEXT_PLAIN = QStringLiteral("text/plain");
const QString CACHE_IMAGES = QStringLiteral("private, max-age=604800");
const QString CACHE_STYLES_AND_SCRIPTS = QStringLiteral("private, max-age=43200");
const QString CACHE_NONE = QStringLiteral("no-store");

QString cacheControlFor(const QString& mimeTypeName)
{
    const QString type = mimeTypeName.toLower();
    if (type.startsWith(QLatin1String("image/")))
        return CACHE_IMAGES;
    if (type == Http::CONTENT_TYPE_CSS || type == Http::CONTENT_TYPE_JS)
        return CACHE_STYLES_AND_SCRIPTS;
    return CACHE_NONE;
}

// The size in 1024-based units, truncated to the unit's decimals, e.g. 10.0 MiB.
QString sizeWithUnit(qint64 bytes)
{
    static const QStringList units
        = {QStringLiteral("B"), QStringLiteral("KiB"), QStringLiteral("MiB"), QStringLiteral("GiB"),
            QStringLiteral("TiB"), QStringLiteral("PiB"), QStringLiteral("EiB")};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < units.size() - 1) {
        value /= 1024;
        ++unit;
    }
    const int decimals = (unit == 0) ? 0 : (unit <= 2) ? 1 : (unit == 3) ? 2 : 3;
    const double scale = std::pow(10.0, decimals);
    const double truncated = std::floor(value * scale) / scale;
    return QLocale::system().toString(truncated, 'f', decimals) + QLatin1Char(' ') + units[unit];
}

// Cookie name to value; a later cookie of the same name wins.
QMap<QString, QString> parseCookies(const QString& header)
{
    QMap<QString, QString> cookies;
    for (const QString& item : header.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int equals = item.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        cookies[item.left(equals).trimmed()]
            = Utils::String::unquote(item.mid(equals + 1).trimmed());
    }
    return cookies;
}

QMap<QString, QString> requestParameters(const Http::Request& request)
{
    if (request.method != Http::HEADER_REQUEST_METHOD_GET)
        return request.form;
    QMap<QString, QString> params;
    for (auto it = request.query.cbegin(); it != request.query.cend(); ++it)
        params[it.key()] = QString::fromUtf8(it.value());
    return params;
}
} // namespace

// Resource initialisers live in the global namespace.
static void registerWebResources()
{
    Q_INIT_RESOURCE(webui);
}

WebApplication::WebApplication(
    const QString& login, const QString& password, QObject* parent, WebSession::Clock sessionClock)
    : QObject(parent), apiPathPattern(API_PATH_PATTERN), sessionClock(std::move(sessionClock))
{
    registerWebResources();
    for (const AllowedMethod& entry : allowedMethodTable())
        allowedMethods.insert({entry.scope, entry.action}, entry.method);

    // The plain password is not kept, only its hash.
    authController = new AuthController(this, this);
    authController->setUsername(login);
    authController->setPasswordHash(Utils::Password::PBKDF2::generate(password));

    // One controller per scope of the API, each a child of the application.
    registerAPIController(SCOPE_AUTH, authController);
    registerAPIController(SCOPE_SERVER,
        new ServerController(CServerHandler::getInstance(), CAllDeviceHandler::getInstance(),
            CDataBaseHandler::getInstance(), this));
    registerAPIController(SCOPE_APP,
        new AppController(CAllDeviceHandler::getInstance(), CDataBaseHandler::getInstance(), this));
    declarePublicAPI(API_NAME.arg(SCOPE_AUTH, QStringLiteral("login")));

    configure();
}

WebApplication::~WebApplication() = default;

void WebApplication::configure()
{
    rootFolder = QDir::cleanPath(QDir(WWW_FOLDER).absolutePath());
    sessionTimeout = SESSION_TIMEOUT_S;
    securityHeaders = securityHeaderTable();
}

Http::Response WebApplication::processRequest(
    const Http::Request& request, const Http::Environment& env)
{
    QMutexLocker locker(&requestMutex);
    currentSession = nullptr;
    currentRequest = request;
    environment = env;
    requestParams = requestParameters(request);
    clear();

    try {
        // Forwarding headers are not trusted: the request belongs to its TCP peer.
        clientAddress = env.clientAddress;
        sessionInitialize();
        doProcessRequest();
    } catch (const HTTPError& error) {
        // Whatever was placed in the response before the error stays, a cookie for example.
        status(error.statusCode(), error.statusText());
        print(error.message().isEmpty() ? error.statusText() : error.message(),
            Http::CONTENT_TYPE_TXT);
    }

    for (const Http::Header& header : qAsConst(securityHeaders))
        setHeader(header);
    return response();
}

const Http::Request& WebApplication::request() const
{
    return currentRequest;
}

const Http::Environment& WebApplication::env() const
{
    return environment;
}

QString WebApplication::clientId() const
{
    return clientAddress.toString();
}

void WebApplication::registerAPIController(const QString& scope, APIController* controller)
{
    apiControllers.insert(scope, controller);
}

void WebApplication::declarePublicAPI(const QString& api)
{
    publicAPIs.insert(api);
}

bool WebApplication::isPublicAPI(const QString& scope, const QString& action) const
{
    return publicAPIs.contains(API_NAME.arg(scope, action));
}

void WebApplication::setSecureCookie(bool secure)
{
    secureCookie = secure;
}

void WebApplication::doProcessRequest()
{
    const QRegularExpressionMatch match = apiPathPattern.match(currentRequest.path);
    if (!match.hasMatch()) {
        sendWebUIFile();
        return;
    }
    processAPIRequest(
        match.captured(QStringLiteral("scope")), match.captured(QStringLiteral("action")));
}

void WebApplication::processAPIRequest(const QString& scope, const QString& action)
{
    APIController* controller = apiControllers.value(scope);
    if (!controller)
        throw NotFoundHTTPError();
    if (!currentSession && !isPublicAPI(scope, action))
        throw ForbiddenHTTPError();
    checkMethod(scope, action);

    APIController::Files files;
    for (const Http::UploadedFile& file : qAsConst(currentRequest.files))
        files[file.filename] = file.data;

    QVariant result;
    try {
        result = controller->run(action, requestParams, files, currentRequest.json);
    } catch (const APIError& error) {
        throw error.toHTTPError();
    }
    printResult(result);
}

void WebApplication::checkMethod(const QString& scope, const QString& action) const
{
    const QString& method = currentRequest.method;
    const auto allowed = allowedMethods.constFind({scope, action});
    if (allowed != allowedMethods.constEnd()) {
        if (method != *allowed)
            throw MethodNotAllowedHTTPError();
        return;
    }
    if (method != Http::HEADER_REQUEST_METHOD_GET && method != Http::HEADER_REQUEST_METHOD_POST)
        throw MethodNotAllowedHTTPError();
}

void WebApplication::printResult(const QVariant& result)
{
    if (result.userType() == qMetaTypeId<QJsonDocument>()) {
        print(
            result.value<QJsonDocument>().toJson(QJsonDocument::Compact), Http::CONTENT_TYPE_JSON);
        return;
    }
    if (result.userType() == qMetaTypeId<SJsonText>()) {
        print(result.value<SJsonText>().bytes, Http::CONTENT_TYPE_JSON);
        return;
    }
    print(result.toString(), Http::CONTENT_TYPE_TXT);
}

void WebApplication::sendWebUIFile()
{
    const QStringList items = currentRequest.path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (items.contains(QStringLiteral(".")) || items.contains(QStringLiteral("..")))
        throw InternalServerErrorHTTPError();

    const QString path
        = (currentRequest.path == QLatin1String("/")) ? INDEX_PAGE : currentRequest.path;
    QString candidate = rootFolder + (currentSession ? PRIVATE_FOLDER : PUBLIC_FOLDER) + path;
    // A logged-in browser still reaches the public files, the login page's images for example.
    if (currentSession && !QFile::exists(candidate))
        candidate = rootFolder + PUBLIC_FOLDER + path;
    sendFile(candidate);
}

void WebApplication::sendFile(const QString& path)
{
    QFile file(path);
    // A folder of the resource tree would open as an empty file.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        qDebug(WebTexts::FILE_NOT_FOUND, qUtf8Printable(path));
        throw NotFoundHTTPError();
    }
    if (file.size() > MAX_STATIC_FILE_SIZE) {
        qWarning(WebTexts::FILE_TOO_LARGE, qUtf8Printable(path));
        throw InternalServerErrorHTTPError(
            WebTexts::FILE_TOO_LARGE_ANSWER.arg(sizeWithUnit(MAX_STATIC_FILE_SIZE)));
    }

    QByteArray data = file.readAll();
    const QMimeType mimeType = QMimeDatabase().mimeTypeForFileNameAndData(path, data);
    // Text goes out as UTF-8 and ends at a zero byte.
    if (mimeType.inherits(MIME_TEXT_PLAIN))
        data = QString::fromUtf8(data.constData()).toUtf8();
    print(data, mimeType.name());
    setHeader({Http::HEADER_CACHE_CONTROL, cacheControlFor(mimeType.name())});
}

ISession* WebApplication::session()
{
    return currentSession;
}

void WebApplication::sessionInitialize()
{
    const QString sid = parseCookies(currentRequest.headers.value(HEADER_COOKIE)).value(C_SID);
    if (sid.isEmpty())
        return;
    const auto found = sessions.find(sid);
    if (found == sessions.end())
        return;
    if (found->second->hasExpired(sessionTimeout)) {
        sessions.erase(found);
        return;
    }
    found->second->updateTimestamp();
    currentSession = found->second.get();
}

QString WebApplication::generateSid() const
{
    QString sid;
    do {
        std::array<quint32, 6> words;
        for (quint32& word : words)
            word = Utils::Random::rand(0, 4294967295u);
        const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
        sid = QString::fromLatin1(bytes.toBase64());
    } while (sessions.count(sid) > 0);
    return sid;
}

void WebApplication::purgeExpiredSessions()
{
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (it->second->hasExpired(sessionTimeout))
            it = sessions.erase(it);
        else
            ++it;
    }
}

void WebApplication::sessionStart()
{
    purgeExpiredSessions();
    const QString sid = generateSid();
    auto session = std::make_unique<WebSession>(sid, sessionClock);
    currentSession = session.get();
    sessions[sid] = std::move(session);

    QNetworkCookie cookie(C_SID.toLatin1(), sid.toLatin1());
    cookie.setHttpOnly(true);
    cookie.setPath(QStringLiteral("/"));
    setSessionCookie(cookie);
}

void WebApplication::sessionEnd()
{
    if (currentSession)
        sessions.erase(currentSession->id());
    currentSession = nullptr;

    // An empty value that expired yesterday makes the browser drop the cookie.
    QNetworkCookie cookie(C_SID.toLatin1());
    cookie.setPath(QStringLiteral("/"));
    cookie.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(-1));
    setSessionCookie(cookie);
}

void WebApplication::setSessionCookie(QNetworkCookie cookie)
{
    cookie.setSecure(secureCookie);
    const QString value = QString::fromLatin1(cookie.toRawForm(QNetworkCookie::Full));
    setHeader({Http::HEADER_SET_COOKIE, value + COOKIE_SAME_SITE});
}
