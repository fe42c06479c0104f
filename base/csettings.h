#pragma once

#include <QSettings>
#include <QVariant>

// The process-wide access point to settings.conf. Callers use the two static operations only.
class CSettings : public QSettings
{
    Q_OBJECT
public:
    static CSettings* getInstance(const QString& fileName);
    static QVariant readValue(const QString& key, const QVariant& defaultValue);
    static bool writeValue(const QString& key, const QVariant& value);

    explicit CSettings(const QString& fileName);
};
