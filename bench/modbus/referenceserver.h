#pragma once

#include <QVector>
#include <atomic>
#include <thread>

// The yardstick: a Modbus TCP server built on libmodbus that answers holding-register reads
// from a register table in memory, serving any number of connections from one thread.
class CReferenceServer
{
public:
    explicit CReferenceServer(const QVector<quint16>& registers);
    ~CReferenceServer();

    // Listens on 127.0.0.1 at a port picked by the caller; false when that fails.
    bool start(quint16 port);

private:
    void serve();

    QVector<quint16> registers;
    int listenSocket = -1;
    std::atomic<bool> stopping {false};
    std::thread thread;
};
