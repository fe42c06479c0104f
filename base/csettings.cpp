#include "csettings.h"

#include "basetexts.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <sys/stat.h>

namespace {
// Far above any real settings file; a larger one is a mistake, or someone else's file.
const qint64 MAX_FILE_SIZE = 1024 * 1024;

CSettings* instance = nullptr;
// Serialises creation, reads and writes: the main and web threads share the one instance.
QMutex settingsMutex;

// A missing file is readable: it holds every default. A huge file would be read into memory
// whole, and a device such as /dev/zero or a FIFO never ends.
bool isReadable(const QString& fileName)
{
    struct stat status;
    if (::stat(QFile::encodeName(fileName).constData(), &status) != 0)
        return true;
    return S_ISREG(status.st_mode) && status.st_size <= MAX_FILE_SIZE;
}

CSettings* createInstance(const QString& fileName)
{
    if (instance)
        return instance;
    if (fileName.isEmpty()) {
        qDebug().noquote() << BaseTexts::SETTINGS_INVALID_FILE_NAME;
        return nullptr;
    }
    if (!isReadable(fileName)) {
        qDebug().noquote() << BaseTexts::SETTINGS_NOT_READ.arg(fileName).arg(MAX_FILE_SIZE);
        instance = new CSettings(QString()); // no file: every read gives its default
        return instance;
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
