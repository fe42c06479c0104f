#pragma once

#include "registerreader.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSocketNotifier>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <memory>

// The Modbus TCP listener of one port, shared by every device configured on that port.
class CDeviceHandler : public QTcpServer
{
    Q_OBJECT
public:
    // Pause between attempts to bind a port that another program holds.
    static const int LISTEN_RETRY_MS = 10000;
    // Descriptors Modbus connections never keep, so that the rest of the service can always open
    // its own however many masters connect: the database (SQLite in WAL mode holds the file, its
    // journal and its shared memory for each connection, one connection per thread, and opens
    // more while it checkpoints), the web server's connections, and the network-server client
    // with its reconnections. Under a limit below twice this, half the limit is kept instead:
    // a reserve as large as the limit would leave no descriptor for any master.
    static const int DESCRIPTOR_RESERVE = 64;
    // Pause before accepting again after the system refused to accept (no descriptor or memory
    // left); retrying at once would only spin while the table stays full.
    static const int ACCEPT_RETRY_MS = 1000;
    // Connections closed for want of descriptors are reported at most once per this interval.
    static const int REFUSAL_REPORT_MS = 60000;

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
    void acceptSlot();

private:
    void tryListen();
    void takeOverAccepting();
    void waitBeforeAccepting(int error);
    void refuseConnection(qintptr socketDescriptor);

    quint16 port;
    RegisterReader readRegisters;
    QStringList devices;
    QTimer retryTimer;
    std::unique_ptr<QSocketNotifier> acceptNotifier; // set while listening
    QTimer acceptRetryTimer;
    QElapsedTimer lastRefusalReport; // invalid until the first report
    int refusedSinceReport = 0;
    QElapsedTimer lastAcceptFailureReport;
    mutable QMutex stateMutex; // guards listening and lastBindError
    bool listening = false;
    QString lastBindError;
};
