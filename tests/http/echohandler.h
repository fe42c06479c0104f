#pragma once

// A request handler for tests and benchmarks: answers with what it was asked, one line per item,
// and serves generated bodies of a requested size and type at /bytes?n=<size>&type=<type>.

#include "irequesthandler.h"
#include "responsebuilder.h"

#include <QCryptographicHash>
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
        const auto& query = request.query;
        if (request.path == QLatin1String("/bytes")) {
            const int size = query.value(QStringLiteral("n")).toInt();
            print(bytes(size),
                QString::fromLatin1(query.value(QStringLiteral("type"), "text/plain")));
            return response();
        }
        QString text = request.method + ' ' + request.path + '\n';
        for (auto it = query.cbegin(); it != query.cend(); ++it)
            text += "query " + it.key() + '=' + QString::fromUtf8(it.value()) + '\n';
        for (auto it = request.form.cbegin(); it != request.form.cend(); ++it) {
            const QByteArray value = it.value().toUtf8();
            text += "form " + it.key() + ' ' + QString::number(value.size()) + ' '
                + QCryptographicHash::hash(value, QCryptographicHash::Md5).toHex() + '\n';
        }
        print(text, Http::CONTENT_TYPE_TXT);
        return response();
    }

    // The body served at /bytes?n=<size>.
    static QByteArray bytes(int size)
    {
        return QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(size / 26 + 1).left(size);
    }

    // The benchmark turns this off so that memory stays flat over millions of requests.
    bool recordRequests = true;
    QList<quint16> clientPorts;
    QStringList methods;
};
