#include "curlclient.h"

#include <QProcess>
#include <QtTest>

namespace {
// Generous for a loaded machine; each login costs a password hash on the server side.
constexpr int CURL_TIMEOUT_MS = 60000;

HttpAnswer parseAnswer(const QByteArray& output)
{
    HttpAnswer answer;
    const int end = output.indexOf("\r\n\r\n");
    if (!output.startsWith("HTTP/") || end < 0)
        return answer;
    const QList<QByteArray> lines = output.left(end).split('\n');
    answer.status = lines.first().split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        answer.headers.insert(QString::fromLatin1(line.left(colon)).toLower(),
            QString::fromLatin1(line.mid(colon + 1).trimmed()));
    }
    answer.body = output.mid(end + 4);
    return answer;
}
} // namespace

CurlClient::CurlClient(const QString& baseUrl) : baseUrl(baseUrl)
{
}

void CurlClient::setSourceAddress(const QString& address)
{
    commonOptions << QStringLiteral("--interface") << address;
}

void CurlClient::addOptions(const QStringList& options)
{
    commonOptions << options;
}

HttpAnswer CurlClient::get(const QString& path) const
{
    return send({}, path);
}

HttpAnswer CurlClient::post(const QString& path) const
{
    return send({QStringLiteral("-X"), QStringLiteral("POST")}, path);
}

HttpAnswer CurlClient::postForm(const QString& path, const QString& form) const
{
    return send({QStringLiteral("--data-raw"), form}, path);
}

HttpAnswer CurlClient::postJson(const QString& path, const QByteArray& json) const
{
    return send({QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
                    QStringLiteral("--data-raw"), QString::fromUtf8(json)},
        path);
}

HttpAnswer CurlClient::send(const QStringList& options, const QString& path) const
{
    QStringList arguments = {QStringLiteral("-sS"), QStringLiteral("-i"),
        QStringLiteral("--path-as-is"), QStringLiteral("--max-time"), QStringLiteral("30")};
    arguments << commonOptions << options;
    if (!cookie.isEmpty())
        arguments << QStringLiteral("-H") << QStringLiteral("Cookie: ") + cookie;
    arguments << baseUrl + path;

    QProcess process;
    process.start(QStringLiteral("curl"), arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, CURL_TIMEOUT_MS);
    return parseAnswer(process.readAllStandardOutput());
}

bool CurlClient::login(const QString& username, const QString& password)
{
    const HttpAnswer answer = postForm(QStringLiteral("/api/v1/auth/login"),
        QStringLiteral("username=%1&password=%2").arg(username, password));
    const QString setCookie = answer.headers.value(QStringLiteral("set-cookie"));
    if (answer.body != "Ok." || setCookie.isEmpty())
        return false;
    cookie = setCookie.section(QLatin1Char(';'), 0, 0);
    return true;
}
