#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// One browser of the service's web API: one keep-alive HTTP/1.1 connection, opened again when
// the service closed it, one request at a time, and the session cookie of its login. Each
// request goes out in one write with Nagle's delay off, as browsers send it: a client that
// writes the body apart waits for the service's delayed acknowledgement (40 ms) every time.
class CWebClient : public QObject
{
    Q_OBJECT
public:
    struct SAnswer
    {
        bool ok = false; // status 200 and a whole body
        bool timedOut = false;
        QByteArray body;
        qint64 latencyUs = 0;
    };
    using Done = std::function<void(const SAnswer&)>;

    explicit CWebClient(quint16 port);

    void post(const QString& path, const QByteArray& body, const QByteArray& contentType,
        const Done& done);
    bool busy() const { return bool(done); }
    // Waits for the answer of a JSON POST, the rest of the program running meanwhile.
    QJsonObject call(const QString& path, const QJsonObject& body = {});
    bool logIn(const QString& login, const QString& password);

private:
    void readAnswer();
    void finish(SAnswer answer);

    QTcpSocket socket;
    QTimer timeout;
    QElapsedTimer clock;
    QByteArray request;
    QByteArray received;
    QByteArray sessionCookie;
    Done done;
    quint16 port;
};
