// Threads, and what lives in each:
//   main thread      CSettings, CLogFile, CServerHandler, CAllDeviceHandler, and the Modbus
//                    listeners of the devices opened at start-up with their connections.
//   database thread  CDataBaseHandler; the decoding and storing of uplinks run there.
//   web thread       WebUI with the HTTP server, its connections, the web application with its
//                    sessions and controllers, and the Modbus listeners of devices added
//                    through the web API with their connections.
//
// Calls that cross threads, all of them:
//   - addLog posts each entry queued to CLogFile.
//   - CAllDeviceHandler::newPacketReceivedSlot, called directly by
//     CServerHandler::newPacketReceived in the main thread, queues each uplink of a configured
//     device to the database thread, where it is decoded and stored; the main thread never waits
//     for it, so Modbus masters are not held up by a burst of uplinks. A full backlog drops uplinks
//     and counts them in the log.
//   - Every other database operation (the stored devices at start-up, Modbus reads, the web
//     API's device operations) is a direct call from the main or the web thread, serialised by
//     the database's own mutex; Modbus reads hold only the register image's lock.
//   - The web API calls the registry directly from the web thread, serialised by the
//     registry's mutex; it posts connection requests queued to CServerHandler::connectSlot,
//     feeds the client's task queue directly and waits for the queued device-list answer.
//
// Shutdown: SIGTERM or SIGINT ends the main event loop; main then cuts the uplinks off the
// registry, stops the web thread (deleting the web interface) and the database thread, and
// closes the database: the reverse of their start. Each thread drops its database connection
// as it ends. The listeners and the network-server client end with the process.

#include "apptexts.h"
#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "clogfile.h"
#include "commconstants.h"
#include "cserverhandler.h"
#include "csettings.h"
#include "dbconstants.h"
#include "descriptorlimit.h"
#include "eserverstatus.h"
#include "sapidevicedata.h"
#include "settingskeys.h"
#include "sserverdeviceinfo.h"
#include "webui.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QList>
#include <QMetaType>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {
const QString DEFAULT_LOG_FILE = QStringLiteral("history.log");

// Read end and write end of the pipe through which termination signals reach the event loop.
int signalPipe[2] = {-1, -1};

// Runs wherever the signal lands, in the middle of anything: writing one byte is all it does.
void terminationSignalHandler(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// SIGTERM and SIGINT quit the event loop, so that main can shut down in order. A signal during
// start-up waits in the pipe and quits the loop as soon as it runs. Without a pipe the signals
// keep their default action.
void quitOnTerminationSignals(QCoreApplication& app)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) { }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = terminationSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

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
            = CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_FILE, DEFAULT_LOG_FILE)
                  .toString();
        CLogFile::getInstance(fileName, QString());
    } else {
        qDebug().noquote() << AppTexts::LOG_DISABLED;
        CLogFile::getInstance(QString(), QString());
    }
}

// The database named in the settings, or null when it cannot be opened. An empty name would
// open SQLite's temporary database, which loses every device at exit.
CDataBaseHandler* openDatabase()
{
    const QString key = SETT::SETT_SECT_DB + SETT::SETT_DB_FILE;
    const QString fileName = CSettings::readValue(key, DB::DB_FILENAME).toString();
    if (fileName.isEmpty()) {
        qDebug().noquote() << AppTexts::DB_FILE_EMPTY.arg(key);
        return nullptr;
    }
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    return database->init(fileName) ? database : nullptr;
}

// The network-server client only ever reports a wrong address as a connection that fails, so
// start-up says what is wrong with it. An empty address is no error: none is configured yet.
void checkServerAddress()
{
    const QString key = SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_ADDRESS;
    const QString address = CSettings::readValue(key, QString()).toString();
    const QUrl url(address, QUrl::StrictMode);
    const bool webSocket
        = url.scheme() == QLatin1String("ws") || url.scheme() == QLatin1String("wss");
    if (address.isEmpty() || (url.isValid() && webSocket && !url.host().isEmpty()))
        return;
    addLog(AppTexts::SERVER_ADDRESS_INVALID.arg(key, address), CLogFile::LOG_TYPE_CRITICAL, true);
}

// Moves object to thread and starts it. Calls queued to the object before the thread's event
// loop runs wait in its queue, so there is no need to wait for the thread to come up. As the
// thread ends it drops its database connection (the direct connection runs in that thread).
void startThread(QThread& thread, QObject* object, CDataBaseHandler* database)
{
    QObject::connect(&thread, &QThread::finished, database,
        &CDataBaseHandler::releaseThreadConnection, Qt::DirectConnection);
    object->moveToThread(&thread);
    thread.start(QThread::InheritPriority);
}

// Storing a burst of uplinks keeps the database thread busy; on a controller's few cores the
// threads that answer Modbus masters and browsers go first. Linux gives each thread a nice value
// of its own, and setpriority with who 0 sets the calling thread's.
// A lower weight alone does not let a woken thread in: the EEVDF scheduler (Linux 6.6 and later)
// lets the running thread finish its time slice, which with a burst held a browser's answer
// for milliseconds. The thread therefore also asks for the shortest slice, 0.1 ms; kernels
// before 6.12 ignore the request.
void lowerPriority(QObject* objectInThread)
{
    // The kernel's struct sched_attr, as sched_setattr(2) gives it: glibc 2.36 declares neither
    // the structure nor the call.
    struct SSchedulingAttributes
    {
        quint32 size;
        quint32 sched_policy;
        quint64 sched_flags;
        qint32 sched_nice;
        quint32 sched_priority;
        quint64 sched_runtime;
        quint64 sched_deadline;
        quint64 sched_period;
    };
    const int niceness = 5;
    const quint64 timeSliceNs = 100000;
    QMetaObject::invokeMethod(objectInThread, [] {
        ::setpriority(PRIO_PROCESS, 0, niceness);
        SSchedulingAttributes attributes {};
        attributes.size = sizeof(attributes);
        attributes.sched_policy = SCHED_OTHER;
        attributes.sched_nice = niceness;
        attributes.sched_runtime = timeSliceNs;
        ::syscall(SYS_sched_setattr, 0, &attributes, 0);
    });
}

void stopThread(QThread& thread)
{
    thread.quit();
    thread.wait();
}

// The web interface listens before it moves; it is deleted in its own thread once that
// thread's event loop has ended.
void startWebThread(QThread& thread, CDataBaseHandler* database)
{
    auto* webUI = new WebUI();
    QObject::connect(&thread, &QThread::finished, webUI, &QObject::deleteLater);
    startThread(thread, webUI, database);
}

CAllDeviceHandler* openRegistry(CDataBaseHandler* database)
{
    CAllDeviceHandler* registry = CAllDeviceHandler::getInstance();
    registry->init(QDir::currentPath() + "/" + COMM::DEVICE_FOLDER, database);
    return registry;
}

// The registry only queues each uplink to the database thread, so it takes them straight from
// the client: a second hop through the main thread's event queue would make a burst of uplinks
// one long run of events that Modbus masters wait behind.
QMetaObject::Connection connectUplinks(CServerHandler* server, CAllDeviceHandler* registry)
{
    return QObject::connect(server, &CServerHandler::newPacketReceived, registry,
        &CAllDeviceHandler::newPacketReceivedSlot, Qt::DirectConnection);
}

void openStoredDevices(CDataBaseHandler* database, CAllDeviceHandler* registry)
{
    const QList<DB::SDeviceRegMapDescription> devices = database->getDevices(QString());
    for (const DB::SDeviceRegMapDescription& device : devices) {
        // Opened, such a port would be cut to 16 bits: some other program's port.
        if (device.port < 1 || device.port > 65535) {
            addLog(AppTexts::DEVICE_PORT_INVALID.arg(device.devEui).arg(device.port),
                CLogFile::LOG_TYPE_CRITICAL, true);
            continue;
        }
        registry->addNewDevice(device);
    }
}
} // namespace

int main(int argc, char* argv[])
{
    // Room for many Modbus masters; the listeners keep a reserve of it for everything else.
    raiseDescriptorLimit();
    // Qt's own Unix event loop costs fewer system calls per Modbus request than the glib one.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    quitOnTerminationSignals(app);
    globalVarInit();
    CSettings::getInstance(SETT::SETT_FILENAME);
    qDebug().noquote() << AppTexts::STARTED.arg(COMM::TITLE);
    openLog();
    checkServerAddress();
    CServerHandler* server = CServerHandler::getInstance();
    CDataBaseHandler* database = openDatabase();
    if (!database)
        return -1;
    QThread databaseThread;
    startThread(databaseThread, database, database);
    lowerPriority(database);
    CAllDeviceHandler* registry = openRegistry(database);
    QThread webThread;
    startWebThread(webThread, database);
    const QMetaObject::Connection uplinks = connectUplinks(server, registry);
    QTimer::singleShot(0, server, &CServerHandler::reconnect);
    openStoredDevices(database, registry);
    // The web interface listens and the stored devices are open: tell systemd (Type=notify) the
    // service is ready. Outside systemd there is no notification socket and this does nothing.
    sd_notify(0, "READY=1");

    const int status = app.exec();

    QObject::disconnect(uplinks);
    stopThread(webThread);
    stopThread(databaseThread);
    database->close();
    return status;
}
