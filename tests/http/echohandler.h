#pragma once

// A request handler for tests and benchmarks: answers with what it was asked, one line per item,
// and serves generated bodies of a requested size and type at /bytes?n=<size>&type=<type>.

#include "http/irequesthandler.h"
#include "http/responsebuilder.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QList>

class EchoHandler : public Http::IRequestHandler, private Http::ResponseBuilder
{
public:
    Http::Response processRequest(
        const Http::Request& request, const Http::Environment& env) override
    {
        if (recordRequests) {
            clientPorts.append(env.clientPort);
            methods.append(request.method);
        }
        clear();
        if (request.path == QLatin1String("/bytes"))
            printBytes(request);
        else
            printEcho(request);
        return response();
    }

    // The benchmark turns this off so that memory stays flat over millions of requests.
    bool recordRequests = true;
    QList<quint16> clientPorts;
    QStringList methods;

private:
    void printBytes(const Http::Request& request)
    {
        const int size = request.query.value(QStringLiteral("n")).toInt();
        const QByteArray type = request.query.value(QStringLiteral("type"), "text/plain");
        QByteArray body;
        body.reserve(size);
        for (int i = 0; i < size; ++i)
            body.append(char('a' + (i * 7 + i / 26) % 26));
        print(body, QString::fromLatin1(type));
    }

    void printEcho(const Http::Request& request)
    {
        QString text = request.method + QLatin1Char(' ') + request.path + QLatin1Char('\n');
        for (auto it = request.query.cbegin(); it != request.query.cend(); ++it)
            text += QStringLiteral("query %1=%2\n").arg(it.key(), QString::fromUtf8(it.value()));
        for (auto it = request.form.cbegin(); it != request.form.cend(); ++it) {
            const QByteArray md5
                = QCryptographicHash::hash(it.value().toUtf8(), QCryptographicHash::Md5);
            text += QStringLiteral("form %1 %2 %3\n")
                        .arg(it.key())
                        .arg(it.value().toUtf8().size())
                        .arg(QString::fromLatin1(md5.toHex()));
        }
        for (const Http::UploadedFile& file : request.files)
            text += QStringLiteral("file %1 %2 %3\n")
                        .arg(file.filename, file.type)
                        .arg(file.data.size());
        if (!request.json.isNull())
            text += QStringLiteral("json %1\n")
                        .arg(QString::fromUtf8(request.json.toJson(QJsonDocument::Compact)));
        print(text, Http::CONTENT_TYPE_TXT);
    }
};
