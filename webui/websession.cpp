#include "websession.h"

WebSession::WebSession(const QString& id) : sessionId(id)
{
    lastUse.start();
}

QString WebSession::id() const
{
    return sessionId;
}

QVariant WebSession::getData(const QString& key) const
{
    return data.value(key);
}

void WebSession::setData(const QString& key, const QVariant& value)
{
    data[key] = value;
}

bool WebSession::hasExpired(qint64 seconds) const
{
    return seconds > 0 && lastUse.hasExpired(seconds * 1000);
}

void WebSession::updateTimestamp()
{
    lastUse.start();
}
