#include "calldevicehandler.h"

#include "cdatabasehandler.h"
#include "cdevicehandler.h"
#include "clogfile.h"
#include "cpayloaddecoder.h"
#include "registrytexts.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>

#include <sys/stat.h>

namespace {
const QString TEMPLATE_FILE_PATTERN = QStringLiteral("*.json");
// Real templates take a few kilobytes.
const qint64 MAX_TEMPLATE_SIZE = 1024 * 1024;

// Only regular files of a sensible size are read: a FIFO would block start-up, a device such as
// /dev/zero never ends, and a huge file would be held in memory whole.
bool isTemplateFile(const QString& path, const QString& fileName)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        addLog(RegistryTexts::FILE_NOT_REGULAR.arg(fileName), CLogFile::LOG_TYPE_WARNING, true);
        return false;
    }
    if (status.st_size <= MAX_TEMPLATE_SIZE)
        return true;
    addLog(RegistryTexts::FILE_TOO_LARGE.arg(fileName).arg(MAX_TEMPLATE_SIZE),
        CLogFile::LOG_TYPE_WARNING, true);
    return false;
}
} // namespace

CAllDeviceHandler::CAllDeviceHandler() : QObject(nullptr)
{
}

CAllDeviceHandler* CAllDeviceHandler::getInstance()
{
    static CAllDeviceHandler* instance = new CAllDeviceHandler();
    return instance;
}

void CAllDeviceHandler::init(const QString& templateFolder, CDataBaseHandler* database)
{
    this->database = database;
    const QDir folder(templateFolder);
    if (!folder.exists()) {
        addLog(RegistryTexts::FOLDER_MISSING, CLogFile::LOG_TYPE_DEFAULT, true);
        return;
    }
    // Entries that are not files are listed too, so that skipping them is logged.
    const QStringList fileNames = folder.entryList(QStringList {TEMPLATE_FILE_PATTERN},
        QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (fileNames.isEmpty()) {
        addLog(RegistryTexts::FOLDER_EMPTY, CLogFile::LOG_TYPE_DEFAULT, true);
        return;
    }
    for (const QString& fileName : fileNames)
        loadTemplateFile(folder.path(), fileName);
    qDebug().noquote() << RegistryTexts::TEMPLATES_LOADED.arg(templates.size());
}

// Adds one template file; a later file with an already loaded app EUI is skipped.
void CAllDeviceHandler::loadTemplateFile(const QString& folder, const QString& fileName)
{
    const QString path = folder + "/" + fileName;
    QFile file(path);
    if (!file.exists()) {
        addLog(RegistryTexts::FILE_MISSING.arg(fileName));
        return;
    }
    if (!isTemplateFile(path, fileName))
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        addLog(RegistryTexts::FILE_NOT_OPENED.arg(fileName));
        return;
    }
    QJsonParseError error;
    // A file that grew since it was looked at is cut short, and then fails to parse.
    const QJsonDocument document = QJsonDocument::fromJson(file.read(MAX_TEMPLATE_SIZE), &error);
    if (error.error != QJsonParseError::NoError) {
        addLog(RegistryTexts::FILE_NOT_PARSED.arg(path, error.errorString()).arg(error.offset));
        return;
    }
    if (document.isEmpty()) {
        addLog(RegistryTexts::FILE_WITHOUT_DOCUMENT.arg(fileName));
        return;
    }
    const REGS::SDeviceTemplate deviceTemplate(document.object());
    if (!deviceTemplate.valid)
        return;
    if (templates.contains(deviceTemplate.appEui)) {
        addLog(RegistryTexts::TEMPLATE_DUPLICATE.arg(deviceTemplate.appEui));
        return;
    }
    addLog(RegistryTexts::TEMPLATE_LOADED.arg(deviceTemplate.appEui));
    templates.insert(deviceTemplate.appEui, deviceTemplate);
}

QMap<QString, REGS::SDeviceTemplate> CAllDeviceHandler::getDeviceTemplates() const
{
    return templates;
}

QList<REGS::SDeviceTemplateInfo> CAllDeviceHandler::getTemplateInfo() const
{
    QList<REGS::SDeviceTemplateInfo> infos;
    for (const REGS::SDeviceTemplate& deviceTemplate : templates)
        infos.append(REGS::SDeviceTemplateInfo {deviceTemplate.appEui, deviceTemplate.devType});
    return infos;
}

bool CAllDeviceHandler::addNewDevice(const DB::SDeviceRegMapDescription& devInfo)
{
    QMutexLocker locker(&mutex);
    const quint16 port = static_cast<quint16>(devInfo.port);
    CDeviceHandler* listener = listenerFor(port);
    // A port held by another program is reported on every device opened on it; the listener
    // keeps trying it, and the device is registered all the same so its uplinks are stored.
    const bool listening = listener->portListens();
    if (!listening)
        addLog(RegistryTexts::PORT_NOT_OPENED.arg(port).arg(listener->bindError()));
    listener->appendDevice(devInfo.devEui);

    // A device moved to another port must not keep its old port open.
    const auto previous = devices.constFind(devInfo.devEui);
    if (previous != devices.constEnd() && static_cast<quint16>(previous->port) != port)
        detachFromListener(devInfo.devEui, static_cast<quint16>(previous->port));

    devices.insert(devInfo.devEui, devInfo);
    addLog(RegistryTexts::DEVICE_OPENED.arg(devInfo.devEui).arg(port));
    return listening;
}

// The listener of the port, created (and listening if it can) when the port has none yet.
// Called with the mutex held.
CDeviceHandler* CAllDeviceHandler::listenerFor(quint16 port)
{
    CDeviceHandler* listener = listeners.value(port);
    if (listener) {
        if (listener->portListens())
            addLog(RegistryTexts::PORT_ALREADY_OPEN.arg(port));
        return listener;
    }
    listener = new CDeviceHandler(port, [this](quint16 port, int first, int count) {
        return database->getRegisterWords(port, first, count);
    });
    listeners.insert(port, listener);
    return listener;
}

void CAllDeviceHandler::removeDevice(const QString& devEui)
{
    QMutexLocker locker(&mutex);
    const auto device = devices.constFind(devEui);
    if (device == devices.constEnd()) {
        addLog(RegistryTexts::DEVICE_NOT_FOUND.arg(devEui));
        return;
    }
    const quint16 port = static_cast<quint16>(device->port);
    if (listeners.contains(port))
        detachFromListener(devEui, port);
    else
        addLog(RegistryTexts::UNKNOWN_PORT.arg(port));
    devices.remove(devEui);
    qDebug().noquote() << RegistryTexts::DEVICE_CLOSED.arg(devEui).arg(port);
}

// Takes the device off its port's listener and closes the listener once no device is left.
// Called with the mutex held.
void CAllDeviceHandler::detachFromListener(const QString& devEui, quint16 port)
{
    CDeviceHandler* listener = listeners.value(port);
    if (!listener)
        return;
    listener->removeDevice(devEui);
    if (!listener->getDevices().isEmpty())
        return;
    // In the listener's own thread this frees the port at once, so it can be reopened straight
    // away; a listener of another thread closes its port in that thread, before its deletion.
    QMetaObject::invokeMethod(listener, &CDeviceHandler::closePortSlot);
    listener->deleteLater();
    listeners.remove(port);
}

void CAllDeviceHandler::newPacketReceivedSlot(const API::SApiDeviceData& devData)
{
    {
        QMutexLocker locker(&mutex);
        if (!devices.contains(devData.devEui))
            return;
    }
    if (backlog >= MAX_UPLINK_BACKLOG) {
        if (droppedUplinks++ == 0)
            addLog(RegistryTexts::UPLINKS_DROPPING.arg(MAX_UPLINK_BACKLOG),
                CLogFile::LOG_TYPE_DEFAULT, true);
        return;
    }
    ++backlog;
    QMetaObject::invokeMethod(
        database,
        [this, devData] {
            processDataSlot(devData);
            takeFromBacklog();
        },
        Qt::QueuedConnection);
}

// Called in the database thread after each queued uplink; reports the uplinks dropped while
// the backlog was full once it has drained.
void CAllDeviceHandler::takeFromBacklog()
{
    if (--backlog > 0)
        return;
    const int dropped = droppedUplinks.exchange(0);
    if (dropped > 0)
        addLog(RegistryTexts::UPLINKS_DROPPED.arg(dropped), CLogFile::LOG_TYPE_DEFAULT, true);
}

void CAllDeviceHandler::processDataSlot(API::SApiDeviceData devData)
{
    DB::SDeviceRegMapDescription device;
    REGS::SDeviceTemplate deviceTemplate;
    {
        QMutexLocker locker(&mutex);
        const auto found = devices.constFind(devData.devEui);
        if (found == devices.constEnd())
            return; // removed since the uplink was queued
        device = *found;
        deviceTemplate = templates.value(device.appEui);
    }

    const CPayloadDecoder::RegisterParamLookup lookupParam
        = [this](const QString& devEui, uint regAddr) {
              return database->getRegisterParam(devEui, regAddr);
          };
    DB::SDbDeviceRegDataSet dataSet;
    if (!CPayloadDecoder::decode(devData, device, deviceTemplate, lookupParam, dataSet))
        return;
    database->saveRegisterData(dataSet);
    emit newDataForDevice(devData.devEui);
}
