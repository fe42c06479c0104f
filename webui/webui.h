#pragma once

#include <QObject>
#include <QPointer>

class QHostAddress;
class WebApplication;

namespace Http {
class Server;
}

// Turns the webui/ settings into a listening web server. Built on the main thread, then moved
// with its children to the web thread, whose event loop serves all HTTP traffic.
class WebUI : public QObject
{
    Q_OBJECT
public:
    WebUI();

    // Listening failed; nothing retries.
    bool isErrored() const;

signals:
    void fatalError();

public slots:
    // Reads the settings again; may restart listening and switch HTTPS for new connections.
    void configure();

private:
    void createServer();
    void configureHttps();
    void setupHttps();
    void listen(const QHostAddress& listenAddress);

    bool errored = false;
    QPointer<Http::Server> server;
    QPointer<WebApplication> application;
    QString address;
    int port = 0;
};
