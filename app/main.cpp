#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "clogfile.h"
#include "commconstants.h"
#include "cserverhandler.h"
#include "csettings.h"
#include "dbconstants.h"
#include "eserverstatus.h"
#include "sapidevicedata.h"
#include "settingskeys.h"
#include "sserverdeviceinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QList>
#include <QMetaType>
#include <QThread>
#include <QTimer>

namespace {
// Registers the value types that cross threads in queued calls.
void globalVarInit()
{
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    qRegisterMetaType<API::SApiDeviceData>("API::SApiDeviceData");
}

void openLog()
{
    if (CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_LOG, false).toBool()) {
        const QString fileName
            = CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_FILE, "history.log")
                  .toString();
        CLogFile::getInstance(fileName, QString());
    } else {
        qDebug().noquote() << "History log disabled in settings";
        CLogFile::getInstance(QString(), QString());
    }
}

QThread* startThreadFor(QObject* object)
{
    auto* thread = new QThread();
    object->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    while (!thread->isRunning())
        QThread::msleep(30);
    return thread;
}

void openStoredDevices()
{
    const QList<DB::SDeviceRegMapDescription> devices
        = CDataBaseHandler::getInstance()->getDevices(QString());
    for (const DB::SDeviceRegMapDescription& device : devices)
        CAllDeviceHandler::getInstance()->addNewDevice(device);
}
} // namespace

int main(int argc, char* argv[])
{
    // Qt's own Unix event loop costs fewer system calls per Modbus request than the glib one.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    globalVarInit();
    CSettings::getInstance(SETT::SETT_FILENAME);
    qDebug().noquote() << COMM::TITLE << "has started";
    openLog();
    CServerHandler* server = CServerHandler::getInstance();

    const QString dbFile
        = CSettings::readValue(SETT::SETT_SECT_DB + SETT::SETT_DB_FILE, DB::DB_FILENAME).toString();
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    if (!database->init(dbFile))
        return -1;
    startThreadFor(database);

    CAllDeviceHandler* registry = CAllDeviceHandler::getInstance();
    registry->init(QDir::currentPath() + "/" + COMM::DEVICE_FOLDER, database);
    QObject::connect(server, &CServerHandler::newPacketReceived, registry,
        &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);
    QTimer::singleShot(0, server, &CServerHandler::reconnect);
    openStoredDevices();

    return app.exec();
}
