#pragma once

#include "registerreader.h"

#include <QStringList>
#include <QTcpServer>

// The Modbus TCP listener of one port, shared by every device configured on that port.
class CDeviceHandler : public QTcpServer
{
    Q_OBJECT
public:
    // Starts listening on every interface at once; isListening() tells whether the port was bound.
    CDeviceHandler(quint16 port, const RegisterReader& readRegisters);

    // Device EUIs served on this port; bookkeeping for the registry, never used for answers.
    const QStringList& getDevices() const;

public slots:
    void appendDevice(const QString& devEui);
    void removeDevice(const QString& devEui);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    quint16 port;
    RegisterReader readRegisters;
    QStringList devices;
};
