#pragma once

#include "curlclient.h"

#include <QString>
#include <QThread>

#include <functional>

class APIController;
class QTemporaryDir;
class WebApplication;

// The one device template the web API suites load, and its application EUI.
extern const QByteArray METER_TEMPLATE;
extern const QString METER_APP_EUI;

// Makes dir the working directory and starts the database file and the registry there, with
// METER_TEMPLATE in the device folder and devEui registered in the database (not opened).
bool startStorage(const QTemporaryDir& dir, const QString& devEui);

// The web application and its HTTP server on loopback, serving from a thread of their own as in
// the service, so the test's thread is free for the peers that the controllers talk to.
class WebThreadFixture
{
public:
    WebThreadFixture();
    ~WebThreadFixture();
    WebThreadFixture(const WebThreadFixture&) = delete;
    WebThreadFixture& operator=(const WebThreadFixture&) = delete;

    // The controller is made, and takes over the scope, in the web thread between requests.
    void replaceController(
        const QString& scope, const std::function<APIController*(WebApplication*)>& make);
    // A client logged in with a session of its own.
    CurlClient loggedInClient() const;

private:
    QThread thread;
    WebApplication* application;
    quint16 port = 0;
};
