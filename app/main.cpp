#include "app/clogfile.h"
#include "app/commconstants.h"
#include "app/csettings.h"
#include "app/globalvarinit.h"
#include "app/settingskeys.h"
#include "db/cdatabasehandler.h"
#include "db/dbconstants.h"
#include "devices/calldevicehandler.h"
#include "server/cserverhandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>
#include <QTimer>

namespace {
void openLog()
{
    if (CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_LOG, false).toBool()) {
        const QString fileName =
                CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_FILE, "history.log")
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
    const QList<DB::SDeviceRegMapDescription> devices =
            CDataBaseHandler::getInstance()->getDevices(QString());
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

    const QString dbFile =
            CSettings::readValue(SETT::SETT_SECT_DB + SETT::SETT_DB_FILE, DB::DB_FILENAME)
                    .toString();
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    if (!database->init(dbFile))
        return -1;
    startThreadFor(database);

    CAllDeviceHandler* registry = CAllDeviceHandler::getInstance();
    QObject::connect(server, &CServerHandler::newPacketReceived, registry,
                     &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);
    QTimer::singleShot(0, server, &CServerHandler::reconnect);
    openStoredDevices();

    return app.exec();
}
