#pragma once

#include <QString>
#include <QVariant>

// One browser's login, as the controllers see it.
class ISession
{
public:
    virtual ~ISession() = default;
    virtual QString id() const = 0;
    virtual QVariant getData(const QString& key) const = 0;
    virtual void setData(const QString& key, const QVariant& value) = 0;
};
