#pragma once

#include "registerreader.h"

#include <QMutex>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

// The Modbus TCP listener of one port, shared by every device configured on that port.
class CDeviceHandler : public QTcpServer
{
    Q_OBJECT
public:
    // Pause between attempts to bind a port that another program holds.
    static const int LISTEN_RETRY_MS = 10000;

    // Starts listening on every interface at once. A port that could not be bound is tried
    // again every LISTEN_RETRY_MS until it listens or closePortSlot() is called.
    CDeviceHandler(quint16 port, const RegisterReader& readRegisters);

    // Whether the port listens, and the reason when it does not. Safe from any thread: the
    // registry asks from whichever thread opens another device on the port.
    bool portListens() const;
    QString bindError() const;

    // Device EUIs served on this port; bookkeeping for the registry, never used for answers.
    const QStringList& getDevices() const;

public slots:
    void appendDevice(const QString& devEui);
    void removeDevice(const QString& devEui);
    // Stops listening and retrying, so the port is free at once; the accepted connections
    // close when the listener is deleted.
    void closePortSlot();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void listenSlot();

private:
    void tryListen();

    quint16 port;
    RegisterReader readRegisters;
    QStringList devices;
    QTimer retryTimer;
    mutable QMutex stateMutex; // guards listening and lastBindError
    bool listening = false;
    QString lastBindError;
};
