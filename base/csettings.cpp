#include "csettings.h"

#include "basetexts.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>

namespace {
CSettings* instance = nullptr;
// Serialises creation, reads and writes: the main and web threads share the one instance.
QMutex settingsMutex;

CSettings* createInstance(const QString& fileName)
{
    if (instance)
        return instance;
    if (fileName.isEmpty()) {
        qDebug().noquote() << BaseTexts::SETTINGS_INVALID_FILE_NAME;
        return nullptr;
    }
    instance = new CSettings(fileName);
    return instance;
}
} // namespace

CSettings::CSettings(const QString& fileName) : QSettings(fileName, QSettings::IniFormat)
{
}

CSettings* CSettings::getInstance(const QString& fileName)
{
    QMutexLocker locker(&settingsMutex);
    return createInstance(fileName);
}

QVariant CSettings::readValue(const QString& key, const QVariant& defaultValue)
{
    QMutexLocker locker(&settingsMutex);
    CSettings* settings = createInstance(QString());
    if (!settings) {
        qDebug().noquote() << BaseTexts::SETTINGS_READ_WITHOUT_OBJECT;
        return QVariant();
    }
    return settings->value(key, defaultValue);
}

bool CSettings::writeValue(const QString& key, const QVariant& value)
{
    QMutexLocker locker(&settingsMutex);
    CSettings* settings = createInstance(QString());
    if (!settings) {
        qDebug().noquote() << BaseTexts::SETTINGS_WRITE_WITHOUT_OBJECT;
        return false;
    }
    settings->setValue(key, value);
    settings->sync();
    return true;
}
