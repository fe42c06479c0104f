#include "cwebclient.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

namespace {
const int ANSWER_TIMEOUT_MS = 10000;
const QByteArray HEADER_END = "\r\n\r\n";

QByteArray headerValue(const QByteArray& head, const QString& name)
{
    const QRegularExpression header("^" + name + ":\\s*([^\r]*)",
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    return header.match(QString::fromLatin1(head)).captured(1).toLatin1();
}
} // namespace

CWebClient::CWebClient(quint16 port) : port(port)
{
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, [this] {
        socket.abort();
        finish({false, true, {}, 0});
    });
    connect(&socket, &QTcpSocket::connected, this, [this] {
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.write(request);
    });
    connect(&socket, &QTcpSocket::readyRead, this, &CWebClient::readAnswer);
    connect(&socket, &QTcpSocket::errorOccurred, this, [this] {
        socket.abort();
        finish({});
    });
}

void CWebClient::post(
    const QString& path, const QByteArray& body, const QByteArray& contentType, const Done& done)
{
    this->done = done;
    request = "POST /api/v1/" + path.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1:"
        + QByteArray::number(port) + "\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size())
        + (sessionCookie.isEmpty() ? QByteArray() : "\r\nCookie: SID=" + sessionCookie) + HEADER_END
        + body;
    received.clear();
    clock.start();
    timeout.start(ANSWER_TIMEOUT_MS);
    if (socket.state() == QAbstractSocket::ConnectedState)
        socket.write(request);
    else if (socket.state() == QAbstractSocket::UnconnectedState)
        socket.connectToHost(QHostAddress::LocalHost, port);
}

void CWebClient::readAnswer()
{
    received += socket.readAll();
    const int headEnd = received.indexOf(HEADER_END);
    if (headEnd < 0 || !done)
        return;
    const QByteArray head = received.left(headEnd);
    const int bodySize = headerValue(head, "content-length").toInt();
    if (received.size() < headEnd + HEADER_END.size() + bodySize)
        return;
    const QByteArray cookie = headerValue(head, "set-cookie");
    if (cookie.startsWith("SID="))
        sessionCookie = cookie.mid(4, cookie.indexOf(';') - 4);
    finish({head.startsWith("HTTP/1.1 200 "), false,
        received.mid(headEnd + HEADER_END.size(), bodySize), 0});
}

void CWebClient::finish(SAnswer answer)
{
    timeout.stop();
    received.clear();
    if (!done)
        return;
    answer.latencyUs = clock.nsecsElapsed() / 1000;
    // The callback may send the next request, which sets a new one.
    const Done finished = std::move(done);
    done = nullptr;
    finished(answer);
}

QJsonObject CWebClient::call(const QString& path, const QJsonObject& body)
{
    QEventLoop loop;
    QByteArray answerBody;
    post(path, QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json",
        [&](const SAnswer& answer) {
            answerBody = answer.body;
            loop.quit();
        });
    if (busy())
        loop.exec();
    return QJsonDocument::fromJson(answerBody).object();
}

bool CWebClient::logIn(const QString& login, const QString& password)
{
    QEventLoop loop;
    bool loggedIn = false;
    post("auth/login",
        "username=" + QUrl::toPercentEncoding(login)
            + "&password=" + QUrl::toPercentEncoding(password),
        "application/x-www-form-urlencoded", [&](const SAnswer& answer) {
            loggedIn = answer.ok && answer.body == "Ok.";
            loop.quit();
        });
    if (busy())
        loop.exec();
    return loggedIn;
}
