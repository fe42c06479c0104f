#pragma once

#include "irequesthandler.h"
#include "isessionmanager.h"
#include "responsebuilder.h"
#include "websession.h"

#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QRegularExpression>
#include <QSet>

#include <map>
#include <memory>

class APIController;
class AuthController;
class QNetworkCookie;

// The request handler of the web server: serves the files of the browser interface, public ones
// to everybody and private ones to logged-in sessions, and dispatches /api/v1/<scope>/<action>
// to the controller of the scope. Every response carries the same security headers.
class WebApplication : public QObject,
                       public Http::IRequestHandler,
                       public ISessionManager,
                       private Http::ResponseBuilder
{
    Q_OBJECT
public:
    // Sessions measure their idle time on the given clock.
    WebApplication(const QString& login, const QString& password, QObject* parent = nullptr,
        WebSession::Clock sessionClock = WebSession::monotonicMsecs);
    ~WebApplication() override;

    Http::Response processRequest(
        const Http::Request& request, const Http::Environment& env) override;

    QString clientId() const override;
    ISession* session() override;
    void sessionStart() override;
    void sessionEnd() override;

    // The request being processed and its socket addresses, for the controllers.
    const Http::Request& request() const;
    const Http::Environment& env() const;

    // The controller takes the scope's calls, replacing an earlier one.
    void registerAPIController(const QString& scope, APIController* controller);
    // "scope/action" becomes callable without a session.
    void declarePublicAPI(const QString& api);
    bool isPublicAPI(const QString& scope, const QString& action) const;

    // Marks the session cookie Secure; meant for while the server speaks HTTPS.
    void setSecureCookie(bool secure);

private:
    void configure();
    void doProcessRequest();
    void processAPIRequest(const QString& scope, const QString& action);
    void checkMethod(const QString& scope, const QString& action) const;
    void printResult(const QVariant& result);
    void sendWebUIFile();
    void sendFile(const QString& path);

    void sessionInitialize();
    QString generateSid() const;
    void purgeExpiredSessions();
    void setSessionCookie(QNetworkCookie cookie);

    std::map<QString, std::unique_ptr<WebSession>> sessions;
    WebSession* currentSession = nullptr;
    Http::Request currentRequest;
    Http::Environment environment;
    QMap<QString, QString> requestParams;
    const QRegularExpression apiPathPattern;
    QHash<QString, APIController*> apiControllers;
    QSet<QString> publicAPIs;
    QHash<QPair<QString, QString>, QString> allowedMethods;
    QString rootFolder;
    qint64 sessionTimeout = 0;
    WebSession::Clock sessionClock;
    QList<Http::Header> securityHeaders;
    QHostAddress clientAddress;
    AuthController* authController;
    bool secureCookie = false;
    QMutex requestMutex;
};
