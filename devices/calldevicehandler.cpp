#include "calldevicehandler.h"

#include "cdatabasehandler.h"
#include "cdevicehandler.h"
#include "clogfile.h"
#include "cpayloaddecoder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QThread>

namespace {
const QString TEMPLATE_FILE_PATTERN = QStringLiteral("*.json");
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
        addLog("[CAllDeviceHandler::init] Directory with device signature is not existed",
            CLogFile::LOG_TYPE_DEFAULT, true);
        return;
    }
    const QStringList fileNames
        = folder.entryList(QStringList {TEMPLATE_FILE_PATTERN}, QDir::Files, QDir::Name);
    if (fileNames.isEmpty()) {
        addLog("[CAllDeviceHandler::init] Directory with device signature is empty",
            CLogFile::LOG_TYPE_DEFAULT, true);
        return;
    }
    for (const QString& fileName : fileNames)
        loadTemplateFile(folder.path(), fileName);
    qDebug().noquote() << "Device register templates loaded:" << templates.size();
}

// Adds one template file; a later file with an already loaded app EUI is skipped.
void CAllDeviceHandler::loadTemplateFile(const QString& folder, const QString& fileName)
{
    const QString path = folder + "/" + fileName;
    QFile file(path);
    if (!file.exists()) {
        addLog(QString("File [%1] is not exist").arg(fileName));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        addLog(QString("File [%1] is not opened").arg(fileName));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        addLog(QString("ERROR: [CAllDeviceHandler] Invalid parsing JSON file [%1]: error[%2], "
                       "row[%3]")
                   .arg(path, error.errorString())
                   .arg(error.offset));
        return;
    }
    if (document.isEmpty()) {
        addLog(QString("File [%1] is not contans JSON document").arg(fileName));
        return;
    }
    const REGS::SDeviceTemplate deviceTemplate(document.object());
    if (!deviceTemplate.valid)
        return;
    if (templates.contains(deviceTemplate.appEui)) {
        addLog(QString("Device [%1] already inited. Skip").arg(deviceTemplate.appEui));
        return;
    }
    addLog(QString("Device [%1] inited SUCCESSULLY").arg(deviceTemplate.appEui));
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

bool CAllDeviceHandler::addNewDevice(const DB::SDeviceRegMapDescription& _devInfo)
{
    QMutexLocker locker(&mutex);
    const quint16 port = static_cast<quint16>(_devInfo.port);
    CDeviceHandler* listener = listeners.value(port);
    if (listener) {
        addLog(
            QString("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open").arg(port));
    } else {
        listener = new CDeviceHandler(port, [this](quint16 port, int first, int count) {
            return database->getRegisterWords(port, first, count);
        });
        if (!listener->isListening()) {
            addLog(QString("ERROR: [CAllDeviceHandler::addNewDevice] port [%1] is not opened: %2")
                       .arg(port)
                       .arg(listener->errorString()));
            delete listener;
            return false;
        }
        listeners.insert(port, listener);
    }
    listener->appendDevice(_devInfo.devEui);

    // A device moved to another port must not keep its old port open.
    const auto previous = devices.constFind(_devInfo.devEui);
    if (previous != devices.constEnd() && static_cast<quint16>(previous->port) != port)
        detachFromListener(_devInfo.devEui, static_cast<quint16>(previous->port));

    devices.insert(_devInfo.devEui, _devInfo);
    addLog(QString("[CAllDeviceHandler::addNewDevice] New device: DevEUI[%1], port[%2]")
               .arg(_devInfo.devEui)
               .arg(port));
    return true;
}

void CAllDeviceHandler::removeDevice(const QString& _devEui)
{
    QMutexLocker locker(&mutex);
    const auto device = devices.constFind(_devEui);
    if (device == devices.constEnd()) {
        addLog(QString("WARNING: [CAllDeviceHandler::removeDevice] device not found [%1]!")
                   .arg(_devEui));
        return;
    }
    const quint16 port = static_cast<quint16>(device->port);
    if (listeners.contains(port))
        detachFromListener(_devEui, port);
    else
        addLog(QString("WARNING: [CAllDeviceHandler::removeDevice] unknown port [%1]!").arg(port));
    devices.remove(_devEui);
    qDebug().noquote() << QString("[CAllDeviceHandler::removeDevice] Delete device: DevEUI[%1], "
                                  "port[%2]")
                              .arg(_devEui)
                              .arg(port);
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
    // Free the port at once when we may touch the listener here, so it can be reopened
    // straight away; a listener of another thread closes when its deletion runs.
    if (listener->thread() == QThread::currentThread())
        listener->close();
    listener->deleteLater();
    listeners.remove(port);
}

void CAllDeviceHandler::newPacketReceivedSlot(const API::SApiDeviceData& _devData)
{
    {
        QMutexLocker locker(&mutex);
        if (!devices.contains(_devData.devEui))
            return;
    }
    processDataSlot(_devData);
}

void CAllDeviceHandler::processDataSlot(API::SApiDeviceData _devData)
{
    DB::SDeviceRegMapDescription device;
    REGS::SDeviceTemplate deviceTemplate;
    {
        QMutexLocker locker(&mutex);
        const auto found = devices.constFind(_devData.devEui);
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
    if (!CPayloadDecoder::decode(_devData, device, deviceTemplate, lookupParam, dataSet))
        return;
    saveRegisterData(dataSet);
    emit newDataForDevice(_devData.devEui);
}

// Hands the data set to the database thread and waits until it is stored. A database object
// that lives in this very thread is called directly: a blocking queued call would deadlock.
void CAllDeviceHandler::saveRegisterData(const DB::SDbDeviceRegDataSet& dataSet)
{
    if (database->thread() == QThread::currentThread()) {
        database->saveRegisterData(dataSet);
        return;
    }
    if (!QMetaObject::invokeMethod(database, "saveRegisterData", Qt::BlockingQueuedConnection,
            Q_ARG(DB::SDbDeviceRegDataSet, dataSet)))
        addLog("Invalid invokeMethod creation!", CLogFile::LOG_TYPE_CRITICAL);
}
