#pragma once

#include "isession.h"

#include <QString>

// What the authentication controller may do with the sessions of the web application.
class ISessionManager
{
public:
    virtual ~ISessionManager() = default;
    // The address the current request is attributed to, as text.
    virtual QString clientId() const = 0;
    // The current request's session; null when the request is anonymous.
    virtual ISession* session() = 0;
    // Logs the current request in: a new session with its cookie in the response.
    virtual void sessionStart() = 0;
    // Logs the current session out and tells the browser to drop its cookie.
    virtual void sessionEnd() = 0;
};
