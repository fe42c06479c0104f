#pragma once

#include "isession.h"

#include <QHash>

#include <functional>

// A session of the web application, kept in memory until logout or expiry.
class WebSession : public ISession
{
public:
    // Milliseconds on a clock that never goes back; a session measures its idle time with it.
    using Clock = std::function<qint64()>;
    static qint64 monotonicMsecs();

    explicit WebSession(const QString& id, Clock clock = monotonicMsecs);

    QString id() const override;
    QVariant getData(const QString& key) const override;
    void setData(const QString& key, const QVariant& value) override;

    // True when unused for longer than the given time; a time of 0 or less never expires.
    bool hasExpired(qint64 seconds) const;
    void updateTimestamp();

private:
    const QString sessionId;
    const Clock clock;
    qint64 lastUse;
    QHash<QString, QVariant> data;
};
