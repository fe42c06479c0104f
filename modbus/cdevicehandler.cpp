#include "cdevicehandler.h"

#include "cconnectionhandler.h"
#include "clogfile.h"
#include "descriptorlimit.h"
#include "modbuslogging.h"
#include "modbustexts.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// True, and the clock restarted, when nothing was reported within the last interval.
bool reportDue(QElapsedTimer& lastReport, int intervalMs)
{
    if (lastReport.isValid() && !lastReport.hasExpired(intervalMs))
        return false;
    lastReport.start();
    return true;
}

// Descriptors Modbus connections leave to the rest of the service under the current limit.
qint64 descriptorReserve()
{
    return std::min<qint64>(CDeviceHandler::DESCRIPTOR_RESERVE, descriptorLimit() / 2);
}
} // namespace

CDeviceHandler::CDeviceHandler(quint16 port, const RegisterReader& readRegisters)
    : QTcpServer(nullptr),
      port(port),
      readRegisters(readRegisters),
      retryTimer(this),
      acceptRetryTimer(this)
{
    retryTimer.setInterval(LISTEN_RETRY_MS);
    connect(&retryTimer, &QTimer::timeout, this, &CDeviceHandler::listenSlot);
    acceptRetryTimer.setSingleShot(true);
    acceptRetryTimer.setInterval(ACCEPT_RETRY_MS);
    connect(&acceptRetryTimer, &QTimer::timeout, this, [this] {
        if (acceptNotifier)
            acceptNotifier->setEnabled(true);
    });
    // The devices of a port held by another program are served as soon as it lets go.
    tryListen();
    if (!portListens())
        retryTimer.start();
}

bool CDeviceHandler::portListens() const
{
    QMutexLocker locker(&stateMutex);
    return listening;
}

QString CDeviceHandler::bindError() const
{
    QMutexLocker locker(&stateMutex);
    return lastBindError;
}

// Qt 5 keeps the first error of a listening socket for good: once an accept has found no
// connection waiting, a later failure for want of descriptors reads as that temporary error, and
// Qt tries again on every event-loop pass, at full CPU, for as long as the table stays full. So
// the listener leaves Qt's accepting paused and accepts by itself.
void CDeviceHandler::takeOverAccepting()
{
    pauseAccepting();
    acceptNotifier
        = std::make_unique<QSocketNotifier>(socketDescriptor(), QSocketNotifier::Read, this);
    connect(acceptNotifier.get(), &QSocketNotifier::activated, this, &CDeviceHandler::acceptSlot);
}

void CDeviceHandler::tryListen()
{
    const bool bound = listen(QHostAddress::Any, port);
    if (bound)
        takeOverAccepting();
    QMutexLocker locker(&stateMutex);
    listening = bound;
    lastBindError = bound ? QString() : errorString();
}

const QStringList& CDeviceHandler::getDevices() const
{
    return devices;
}

void CDeviceHandler::appendDevice(const QString& devEui)
{
    if (devices.contains(devEui)) {
        qDebug().noquote() << ModbusTexts::DEVICE_ALREADY_EXISTS.arg(devEui);
        return;
    }
    devices.append(devEui);
}

void CDeviceHandler::removeDevice(const QString& devEui)
{
    devices.removeAll(devEui);
}

void CDeviceHandler::closePortSlot()
{
    retryTimer.stop();
    acceptRetryTimer.stop();
    acceptNotifier.reset(); // before its socket closes
    close();
    QMutexLocker locker(&stateMutex);
    listening = false;
}

void CDeviceHandler::listenSlot()
{
    tryListen();
    if (!portListens())
        return;
    retryTimer.stop();
    addLog(ModbusTexts::PORT_OPENED_LATE.arg(port));
}

// Takes every connection waiting, as Qt would.
void CDeviceHandler::acceptSlot()
{
    for (;;) {
        const int descriptor = ::accept4(socketDescriptor(), nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0) {
            incomingConnection(descriptor);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK)
            waitBeforeAccepting(error);
        return;
    }
}

// No descriptor or no memory for another connection: the connections wait in the system's queue
// until accepting resumes.
void CDeviceHandler::waitBeforeAccepting(int error)
{
    acceptNotifier->setEnabled(false);
    acceptRetryTimer.start();
    if (reportDue(lastAcceptFailureReport, REFUSAL_REPORT_MS))
        qCWarning(lcModbus) << "port" << port << "cannot accept connections:" << strerror(error)
                            << "- trying again every" << ACCEPT_RETRY_MS << "ms";
}

// Connections are children of the listener, so closing a port also closes its connections.
void CDeviceHandler::incomingConnection(qintptr socketDescriptor)
{
    if (socketDescriptor < 1)
        return;
    // The system hands out the lowest free descriptor, so one numbered this high means that
    // only the reserve is left. Modbus connections thus never keep a descriptor of the reserve.
    if (socketDescriptor >= descriptorLimit() - descriptorReserve()) {
        refuseConnection(socketDescriptor);
        return;
    }
    auto* connection = new CConnectionHandler(port, readRegisters, this);
    if (!connection->setSocketDescriptor(socketDescriptor)) {
        qCWarning(lcModbus) << "port" << port
                            << "cannot take an accepted connection:" << connection->errorString();
        delete connection;
        ::close(static_cast<int>(socketDescriptor)); // nobody else owns the accepted socket
        return;
    }
    // Answers are single small segments; do not hold them back waiting for more.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

// Closed at once, the peer learns that it is not served instead of waiting for an answer.
void CDeviceHandler::refuseConnection(qintptr socketDescriptor)
{
    ::close(static_cast<int>(socketDescriptor));
    ++refusedSinceReport;
    if (!reportDue(lastRefusalReport, REFUSAL_REPORT_MS))
        return;
    qCWarning(lcModbus).nospace()
        << "port " << port << " closes new connections at once: only the " << descriptorReserve()
        << " descriptors kept for the database, the web server and the network server are left ("
        << refusedSinceReport << " closed since the last report)";
    refusedSinceReport = 0;
}
