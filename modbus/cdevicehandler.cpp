#include "cdevicehandler.h"

#include "cconnectionhandler.h"
#include "clogfile.h"
#include "modbuslogging.h"
#include "modbustexts.h"

#include <QDebug>
#include <unistd.h>

CDeviceHandler::CDeviceHandler(quint16 port, const RegisterReader& readRegisters)
    : QTcpServer(nullptr), port(port), readRegisters(readRegisters), retryTimer(this)
{
    retryTimer.setInterval(LISTEN_RETRY_MS);
    connect(&retryTimer, &QTimer::timeout, this, &CDeviceHandler::listenSlot);
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

void CDeviceHandler::tryListen()
{
    const bool bound = listen(QHostAddress::Any, port);
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

// Connections are children of the listener, so closing a port also closes its connections.
void CDeviceHandler::incomingConnection(qintptr socketDescriptor)
{
    if (socketDescriptor < 1)
        return;
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
