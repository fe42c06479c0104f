#pragma once

#include "cmodbusmaster.h"
#include "creadchecker.h"
#include "cserviceprocess.h"
#include "cuplinkpusher.h"
#include "cwebclient.h"
#include "cwebpoller.h"

#include <QVector>

#include <memory>
#include <vector>

// One soak run: the service under a steady uplink load from the network server, read all the
// time by Modbus masters and web clients; then the backlog drains and every stored value, every
// answer and the service's memory are checked. Prints each check and what was measured.
class CSoakRun
{
public:
    explicit CSoakRun(int durationS);

    // The exit status: 0 when every check passed.
    int run();

private:
    bool setUp();
    bool registerDevices();
    bool startReaders();
    void runFor(int seconds);
    bool drain();
    bool modbusReadsLastSent();
    void stopReaders();
    void reportReaders(const QString& kind, CReadChecker& checker);
    void checkDatabase();
    void checkLog();
    void reportMemory(qint64 startKb, qint64 endKb);
    void check(bool pass, const QString& what);

    int durationS;
    CUplinkPusher pusher;
    CServiceProcess service;
    std::unique_ptr<CWebClient> admin;
    CReadChecker modbusChecker;
    CReadChecker webChecker;
    std::vector<std::unique_ptr<CModbusMaster>> masters;
    std::vector<std::unique_ptr<CWebPoller>> webPollers;
    QVector<quint16> modbusPorts;
    quint16 webPort = 0;
    int failures = 0;
};
