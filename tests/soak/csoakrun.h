#pragma once

#include "creader.h"
#include "cserviceprocess.h"
#include "cuplinkpusher.h"

#include <QVector>

#include <memory>
#include <vector>

// One soak run: the service under a steady uplink load from the network server, read all the
// time by Modbus masters and web clients; then the backlog drains and every stored value, every
// answer and the service's memory are checked, each printed with PASS or FAIL.
class CSoakRun
{
public:
    explicit CSoakRun(int durationS);

    // The exit status: 0 when every check passed.
    int run();

private:
    bool setUp();
    void runFor(int seconds);
    bool drain();
    bool modbusReadsLastSent();
    void checkReads(const QString& kind, SReads& reads);
    void checkDatabase();
    void check(bool pass, const QString& what);

    int durationS;
    CUplinkPusher pusher;
    CServiceProcess service;
    SReads modbusReads;
    SReads webReads;
    std::unique_ptr<CReader> admin;
    std::vector<std::unique_ptr<CReader>> readers;
    QVector<quint16> modbusPorts;
    int failures = 0;
};
