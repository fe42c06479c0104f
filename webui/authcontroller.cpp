#include "authcontroller.h"

#include "apierror.h"
#include "password.h"
#include "webtexts.h"

namespace {
const QString PARAM_USERNAME = QStringLiteral("username");
const QString PARAM_PASSWORD = QStringLiteral("password");
} // namespace

AuthController::AuthController(
    ISessionManager* sessionManager, QObject* parent, std::chrono::milliseconds banDuration)
    : APIController(parent), sessionManager(sessionManager), banDuration(banDuration)
{
}

void AuthController::setUsername(const QString& username)
{
    this->username = username;
}

void AuthController::setPasswordHash(const QByteArray& passwordHash)
{
    this->passwordHash = passwordHash;
}

int AuthController::trackedClientCount() const
{
    return failedLogins.size();
}

void AuthController::loginAction()
{
    if (sessionManager->session()) {
        setResult(WebTexts::LOGIN_OK);
        return;
    }

    const QString clientAddress = sessionManager->clientId();
    const QString givenUsername = params().value(PARAM_USERNAME);
    const QString givenPassword = params().value(PARAM_PASSWORD);
    if (isBanned(clientAddress))
        throw APIError(APIErrorType::Refused, WebTexts::LOGIN_BANNED);

    // Both checks always run, so the answer time does not tell which one failed.
    const bool usernameMatches
        = Utils::Password::slowEquals(givenUsername.toUtf8(), username.toUtf8());
    const bool passwordMatches = Utils::Password::PBKDF2::verify(passwordHash, givenPassword);
    if (usernameMatches && passwordMatches) {
        failedLogins.remove(clientAddress);
        sessionManager->sessionStart();
        setResult(WebTexts::LOGIN_OK);
    } else {
        countFailedLogin(clientAddress);
        setResult(WebTexts::LOGIN_FAILED);
    }
}

void AuthController::logoutAction()
{
    sessionManager->sessionEnd();
}

bool AuthController::isBanned(const QString& clientAddress)
{
    const auto entry = failedLogins.constFind(clientAddress);
    if (entry == failedLogins.constEnd() || entry->banTimer.isForever())
        return false;
    if (!entry->banTimer.hasExpired())
        return true;
    // The ban is over: the address starts counting from zero again.
    failedLogins.erase(entry);
    return false;
}

void AuthController::countFailedLogin(const QString& clientAddress)
{
    purgeExpiredBans();
    FailedLogin& entry = failedLogins[clientAddress];
    ++entry.failedAttempts;
    if (entry.failedAttempts >= MAX_FAILED_LOGINS)
        entry.banTimer.setRemainingTime(banDuration, Qt::CoarseTimer);
}

// Addresses whose ban is over need not come back to be forgotten, so banning many addresses
// cannot grow the table without bound.
void AuthController::purgeExpiredBans()
{
    for (auto it = failedLogins.begin(); it != failedLogins.end();) {
        if (!it->banTimer.isForever() && it->banTimer.hasExpired())
            it = failedLogins.erase(it);
        else
            ++it;
    }
}
