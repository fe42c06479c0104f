#pragma once

#include "creader.h"
#include "csimulatorserver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <memory>
#include <vector>

// One soak run: the real service (TARVEX_BINARY) in a working directory of its own, under a
// steady uplink load from the simulated network server, read all the time by Modbus masters
// and web clients; then the backlog drains and every stored value, every answer and the
// service's memory are checked, each printed with PASS or FAIL.
class CSoakRun
{
public:
    explicit CSoakRun(int durationS);

    // The exit status: 0 when every check passed.
    int run();

private:
    bool setUp();
    void loadAndCheck();
    bool startService(quint16 webPort);
    void sendDueUplinks();
    qint64 rssKb() const;
    bool stopService();
    bool drain();
    bool modbusReadsLastSent();
    void checkReads(const QString& kind, SReads& reads);
    void checkDatabase();
    void checkLog();
    void check(bool pass, const QString& what);

    int durationS;
    QTemporaryDir directory;
    QProcess service;
    // The simulator's devices' own timers are set to a day, so every uplink is one this run
    // sent and counted.
    CSimulatorServer simulator;
    QVector<quint32> sent; // per device: uplinks sent, the sequence number of the last one
    qint64 totalSent = 0;
    int nextDevice = 0;
    QTimer uplinkTimer;
    QElapsedTimer uplinkClock;
    double uplinkSeconds = 0;
    SReads modbusReads;
    SReads webReads;
    std::unique_ptr<CReader> admin;
    std::vector<std::unique_ptr<CReader>> readers;
    QVector<quint16> modbusPorts;
    int failures = 0;
};
