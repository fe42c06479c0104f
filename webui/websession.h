#pragma once

#include "isession.h"

#include <QElapsedTimer>
#include <QHash>

// A session of the web application, kept in memory until logout or expiry.
class WebSession : public ISession
{
public:
    explicit WebSession(const QString& id);

    QString id() const override;
    QVariant getData(const QString& key) const override;
    void setData(const QString& key, const QVariant& value) override;

    // True when unused for longer than the given time; a time of 0 or less never expires.
    bool hasExpired(qint64 seconds) const;
    void updateTimestamp();

private:
    const QString sessionId;
    QElapsedTimer lastUse;
    QHash<QString, QVariant> data;
};
