#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// One HTTP answer as curl received it; status 0 when curl got none.
struct HttpAnswer
{
    int status = 0;
    // Lower-case header name to value.
    QMap<QString, QString> headers;
    QByteArray body;
};

// Sends requests with curl to a server that runs in the calling thread: the thread's event loop
// keeps running while curl waits for the answer.
class CurlClient
{
public:
    explicit CurlClient(const QString& baseUrl);

    // Requests leave from this local address; any 127.x.y.z works on loopback.
    void setSourceAddress(const QString& address);
    // Further curl options for every request, e.g. --cacert.
    void addOptions(const QStringList& options);

    HttpAnswer get(const QString& path) const;
    HttpAnswer post(const QString& path) const;
    HttpAnswer postForm(const QString& path, const QString& form) const;
    HttpAnswer postJson(const QString& path, const QByteArray& json) const;
    HttpAnswer send(const QStringList& options, const QString& path) const;

    // Logs in and keeps the session cookie for later requests; false when refused.
    bool login(const QString& username, const QString& password);

private:
    QString baseUrl;
    QStringList commonOptions;
    QString cookie;
};
