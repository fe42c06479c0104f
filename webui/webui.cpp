#include "webui.h"

#include "csettings.h"
#include "server.h"
#include "settingskeys.h"
#include "webapplication.h"
#include "weblimits.h"
#include "webtexts.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>

namespace {
const QString ANY_ADDRESS = QStringLiteral("*");
constexpr int DEFAULT_PORT = 8899;
const QString DEFAULT_LOGIN = QStringLiteral("admin");
const QString DEFAULT_PASSWORD = QStringLiteral("6273");

QVariant readSetting(const QString& name, const QVariant& defaultValue)
{
    return CSettings::readValue(SETT::SETT_SECT_WEB + name, defaultValue);
}

// The start of the file; a file that is not set or cannot be opened counts as empty.
QByteArray readTlsFile(const QString& fileName)
{
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(MAX_TLS_FILE_SIZE);
}
} // namespace

WebUI::WebUI()
{
    configure();
}

bool WebUI::isErrored() const
{
    return errored;
}

void WebUI::configure()
{
    errored = false;
    address = readSetting(SETT::SETT_WEB_IP, ANY_ADDRESS).toString();
    port = readSetting(SETT::SETT_WEB_PORT, DEFAULT_PORT).toInt();
    const QHostAddress listenAddress = (address.isEmpty() || address == ANY_ADDRESS)
        ? QHostAddress(QHostAddress::Any)
        : QHostAddress(address);

    if (server && server->isListening()
        && (server->serverAddress() != listenAddress || server->serverPort() != port)) {
        server->close();
    }
    // An existing server keeps its application: new credentials need a new process.
    if (!server)
        createServer();
    configureHttps();
    if (!server->isListening())
        listen(listenAddress);
}

void WebUI::createServer()
{
    const QString login = readSetting(SETT::SETT_WEB_LOGIN, DEFAULT_LOGIN).toString();
    const QString password = readSetting(SETT::SETT_WEB_PASSWORD, DEFAULT_PASSWORD).toString();
    application = new WebApplication(login, password, this);
    server = new Http::Server(application, this);
}

// HTTPS applies to connections accepted from now on; the cookie follows at once.
void WebUI::configureHttps()
{
    if (readSetting(SETT::SETT_WEB_HTTPS, false).toBool())
        setupHttps();
    else
        server->disableHttps();
    application->setSecureCookie(server->isHttps());
}

void WebUI::setupHttps()
{
    const QByteArray certificates
        = readTlsFile(readSetting(SETT::SETT_HOST_CERTFILE, QString()).toString());
    const QByteArray key = readTlsFile(readSetting(SETT::SETT_HOST_KEYFILE, QString()).toString());
    if (server->setupHttps(certificates, key))
        qDebug() << WebTexts::HTTPS_SETUP_SUCCESSFUL;
    else
        qDebug() << WebTexts::HTTPS_SETUP_FAILED;
}

void WebUI::listen(const QHostAddress& listenAddress)
{
    if (server->listen(listenAddress, static_cast<quint16>(port))) {
        qDebug() << WebTexts::NOW_LISTENING.arg(address).arg(port);
        return;
    }
    const QString message
        = WebTexts::UNABLE_TO_BIND.arg(address).arg(port).arg(server->errorString());
    qDebug() << message;
    qCritical() << message;
    errored = true;
    emit fatalError();
}
