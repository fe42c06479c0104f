#include "websession.h"

#include <QDeadlineTimer>

// The clock of QElapsedTimer: wall-clock changes do not end or prolong a session.
qint64 WebSession::monotonicMsecs()
{
    return QDeadlineTimer::current().deadline();
}

WebSession::WebSession(const QString& id, Clock clock)
    : sessionId(id), clock(std::move(clock)), lastUse(this->clock())
{
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
    return seconds > 0 && clock() - lastUse > seconds * 1000;
}

void WebSession::updateTimestamp()
{
    lastUse = clock();
}
