#include "cdevicehandler.h"

#include "cconnectionhandler.h"

#include <QDebug>
#include <unistd.h>

CDeviceHandler::CDeviceHandler(quint16 port, const RegisterReader& readRegisters)
    : QTcpServer(nullptr), port(port), readRegisters(readRegisters)
{
    listen(QHostAddress::Any, port);
}

const QStringList& CDeviceHandler::getDevices() const
{
    return devices;
}

void CDeviceHandler::appendDevice(const QString& devEui)
{
    if (devices.contains(devEui)) {
        qDebug().noquote()
            << QString("[CDeviceHandler::appendDevice] Device [%1] already exist!").arg(devEui);
        return;
    }
    devices.append(devEui);
}

void CDeviceHandler::removeDevice(const QString& devEui)
{
    devices.removeAll(devEui);
}

// Connections are children of the listener, so closing a port also closes its connections.
void CDeviceHandler::incomingConnection(qintptr socketDescriptor)
{
    if (socketDescriptor < 1)
        return;
    auto* connection = new CConnectionHandler(port, readRegisters, this);
    if (!connection->setSocketDescriptor(socketDescriptor)) {
        delete connection;
        ::close(static_cast<int>(socketDescriptor)); // nobody else owns the accepted socket
        return;
    }
    // Answers are single small segments; do not hold them back waiting for more.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}
