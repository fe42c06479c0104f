#pragma once

#include "apicontroller.h"
#include "isessionmanager.h"
#include "weblimits.h"

#include <QDeadlineTimer>
#include <QHash>

#include <chrono>

// The API scope "auth": logs a browser in with the one configured web account, and out again.
class AuthController : public APIController
{
    Q_OBJECT
public:
    AuthController(ISessionManager* sessionManager, QObject* parent = nullptr,
        std::chrono::milliseconds banDuration = LOGIN_BAN_DURATION);

    void setUsername(const QString& username);
    void setPasswordHash(const QByteArray& passwordHash);

    // Addresses whose failed attempts are remembered right now.
    int trackedClientCount() const;

private slots:
    void loginAction();
    void logoutAction();

private:
    struct FailedLogin
    {
        int failedAttempts = 0;
        // Never expires until the attempts reach the limit: no ban.
        QDeadlineTimer banTimer {QDeadlineTimer::Forever, Qt::CoarseTimer};
    };

    bool isBanned(const QString& clientAddress);
    void countFailedLogin(const QString& clientAddress);
    void purgeExpiredBans();

    ISessionManager* sessionManager;
    QString username;
    QByteArray passwordHash;
    QHash<QString, FailedLogin> failedLogins;
    std::chrono::milliseconds banDuration;
};
