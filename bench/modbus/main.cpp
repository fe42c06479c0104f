// Modbus read throughput and latency of Tarvex against a libmodbus reference server.
//
//   modbus_bench [--tarvex <binary>] [--seconds <per case>] [--rounds <alternations>]
//
// With a binary (or TARVEX_BINARY set) the real service is started in a temporary working
// directory on a database prepared here; without one the Tarvex listener runs in this process,
// in a thread of its own, on the same database. Both servers hold 1000 devices x 10 registers.
// With a binary the burst case comes first: a fake network server pushes 5,000 uplinks at once
// while one master keeps reading, and the master's latency during the burst is printed.

#include "cfakenetworkserver.h"
#include "eventwait.h"
#include "freeport.h"
#include "loadclient.h"
#include "referenceserver.h"

#include "cdatabasehandler.h"
#include "cdevicehandler.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <memory>
#include <modbus.h>
#include <thread>

namespace {
const int DEVICE_COUNT = 1000;
const int REGISTERS_PER_DEVICE = 10;
const int REGISTER_COUNT = DEVICE_COUNT * REGISTERS_PER_DEVICE;
const int START_TIMEOUT_MS = 30000;
const double DEFAULT_SECONDS = 4.0;
const int DEFAULT_ROUNDS = 8;
const char* const APP_EUI = "0102030405060708";
const int BURST_UPLINKS = 5000;
const int BURST_POLL_MS = 5;

// One device's entries as { offset, bits }: 4 + 2 + 4 x 1 registers.
const QList<QPair<int, int>> DEVICE_ENTRIES
    = {{0, 64}, {4, 32}, {6, 16}, {7, 16}, {8, 16}, {9, 16}};

quint16 registerValue(int address)
{
    return quint16(address * 7 + 1);
}

QString devEui(int device)
{
    return QString("BE%1").arg(device, 14, 16, QChar('0')).toUpper();
}

// A template whose one packet (type 1) fills every entry of a device, big-endian, in order.
void writeTemplate(const QString& folder)
{
    QString fields;
    int byte = 1;
    for (const QPair<int, int>& entry : DEVICE_ENTRIES) {
        fields += QString(R"(%1{"packet_bias": %2, "data_bit_bias": 0, "data_bit_size": %3,
            "data_type": "uinteger", "endianness": "be", "reg_map_bias": %4, "reg_bit_bias": 0,
            "reg_bit_size": %3, "data_name": "F%4"})")
                      .arg(fields.isEmpty() ? "" : ",")
                      .arg(byte)
                      .arg(entry.second)
                      .arg(entry.first);
        byte += entry.second / 8;
    }
    QDir(folder).mkpath(".");
    QFile file(folder + "/bench.json");
    file.open(QIODevice::WriteOnly);
    file.write(QString(R"({"app_eui": "%1", "dev_type": "Bench", "device_packets": [
        {"packet_type": 1, "packet_size": %2, "packet_fields": [%3]}]})")
                   .arg(APP_EUI)
                   .arg(byte)
                   .arg(fields)
                   .toUtf8());
}

QString burstPayload(int uplink)
{
    QString hex = "01";
    for (const QPair<int, int>& entry : DEVICE_ENTRIES)
        hex += QString("%1").arg(uplink + entry.first, entry.second / 4, 16, QChar('0'));
    return hex;
}

// Registers the devices and stores every register's value; returns the register table.
bool prepareDatabase(const QString& fileName, quint16 port)
{
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    if (!database->init(fileName))
        return false;
    for (int device = 0; device < DEVICE_COUNT; ++device) {
        DB::SDeviceRegMapDescription description;
        description.devEui = devEui(device);
        description.appEui = APP_EUI;
        description.name = "bench";
        description.startAddr = device * REGISTERS_PER_DEVICE;
        description.port = port;
        DB::SDbDeviceRegDataSet values;
        values.devEui = description.devEui;
        values.startAddr = description.startAddr;
        for (const QPair<int, int>& entry : DEVICE_ENTRIES) {
            REGS::SRegisterInfo info;
            info.name = QString("F%1").arg(entry.first);
            info.regOffset = entry.first;
            info.bitSize = entry.second;
            info.dataType = "uinteger";
            description.registers.append(info);
            QString fullValue;
            for (int k = 0; k < entry.second / 16; ++k)
                fullValue += QString("%1").arg(
                    registerValue(description.startAddr + entry.first + k), 4, 16, QChar('0'));
            values.appendRewriteData(fullValue.left(4), entry.first, fullValue);
        }
        QString errorText;
        if (!database->registerNewDevice(description, errorText))
            return false;
        database->saveRegisterData(values);
    }
    return true;
}

bool waitForPort(quint16 port)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < START_TIMEOUT_MS) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(1000))
            return true;
        QThread::msleep(100);
    }
    return false;
}

// Both servers must give the same answers before their speed means anything.
bool answersMatch(quint16 port)
{
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    bool match = modbus_connect(context) == 0;
    for (int start = 0; match && start + 125 <= REGISTER_COUNT; start += 1000) {
        uint16_t values[125];
        match = modbus_read_registers(context, start, 125, values) == 125;
        for (int i = 0; match && i < 125; ++i)
            match = values[i] == registerValue(start + i);
    }
    modbus_close(context);
    modbus_free(context);
    return match;
}

// Runs the Tarvex listener in a thread of its own, as the service runs it in its main thread.
class CInProcessListener
{
public:
    bool start(quint16 port)
    {
        thread.start();
        QObject anchor;
        anchor.moveToThread(&thread);
        QMetaObject::invokeMethod(
            &anchor,
            [this, port] {
                listener = new CDeviceHandler(port, [](quint16 port, int first, int count) {
                    return CDataBaseHandler::getInstance()->getRegisterWords(port, first, count);
                });
            },
            Qt::BlockingQueuedConnection);
        return listener->isListening();
    }
    ~CInProcessListener()
    {
        if (listener)
            QMetaObject::invokeMethod(
                listener, [this] { delete listener; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

private:
    QThread thread;
    CDeviceHandler* listener = nullptr;
};

// The 64-bit entry of the burst's last device holds the last uplink's number.
bool lastUplinkStored(modbus_t* context)
{
    const int last = BURST_UPLINKS - 1;
    uint16_t words[4] = {};
    return modbus_read_registers(context, (last % DEVICE_COUNT) * REGISTERS_PER_DEVICE, 4, words)
        == 4
        && words[3] == last;
}

// A master that reads 10 registers every BURST_POLL_MS until stopped, as a SCADA poll does.
SLoadResult pollRegularly(quint16 port, const std::atomic<bool>& stop)
{
    SLoadResult result;
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    modbus_set_response_timeout(context, 5, 0);
    QElapsedTimer clock;
    clock.start();
    if (modbus_connect(context) == 0) {
        for (int read = 0; !stop; ++read) {
            const qint64 due = qint64(read) * BURST_POLL_MS * 1000000;
            if (clock.nsecsElapsed() < due)
                QThread::usleep((due - clock.nsecsElapsed()) / 1000);
            const qint64 start = clock.nsecsElapsed();
            uint16_t words[10];
            if (modbus_read_registers(context, (read * 10) % REGISTER_COUNT, 10, words) == 10)
                result.latenciesNs.push_back(quint32(clock.nsecsElapsed() - start));
            else
                ++result.failures;
        }
    }
    result.seconds = clock.nsecsElapsed() / 1e9;
    modbus_close(context);
    modbus_free(context);
    return result;
}

// The network server pushes the burst at once while a master polls; the master's latencies
// cover the burst until its last uplink is stored.
void runBurst(CFakeNetworkServer& networkServer, quint16 port)
{
    if (!waitUntil(
            [&] { return !networkServer.received("auth_req").isEmpty(); }, START_TIMEOUT_MS)) {
        std::printf("burst: tarvex did not log in to the network server\n");
        return;
    }
    SLoadResult master;
    std::atomic<bool> stop {false};
    std::thread poll([&] { master = pollRegularly(port, stop); });
    QThread::msleep(200);
    QElapsedTimer clock;
    clock.start();
    for (int uplink = 0; uplink < BURST_UPLINKS; ++uplink) {
        networkServer.pushRx(
            QJsonObject {{"devEui", devEui(uplink % DEVICE_COUNT)}, {"type", "UNCONF_UP"},
                {"ts", QDateTime::currentMSecsSinceEpoch()}, {"data", burstPayload(uplink)}});
    }
    // The fake server's sends only flow while this thread runs its event loop.
    modbus_t* watcher = modbus_new_tcp("127.0.0.1", port);
    const bool stored = modbus_connect(watcher) == 0
        && waitUntil([watcher] { return lastUplinkStored(watcher); }, START_TIMEOUT_MS);
    const double drainSeconds = clock.elapsed() / 1000.0;
    stop = true;
    poll.join();
    modbus_close(watcher);
    modbus_free(watcher);
    std::printf("%d-uplink burst, 1 master reading 10 registers every %d ms\n", BURST_UPLINKS,
        BURST_POLL_MS);
    std::printf("  burst %s in %.2f s\n", stored ? "stored" : "NOT STORED", drainSeconds);
    std::printf("  tarvex     p50 %7.1f us   p99 %7.1f us   max %7.1f us   (%llu reads, %llu "
                "failed)\n",
        master.percentileUs(0.50), master.percentileUs(0.99), master.percentileUs(1.0),
        static_cast<unsigned long long>(master.latenciesNs.size()),
        static_cast<unsigned long long>(master.failures));
}

void printResult(const char* server, SLoadResult& result)
{
    std::printf("  %-10s %10.0f req/s   p50 %7.1f us   p99 %7.1f us   (%llu requests, %llu "
                "failed)\n",
        server, result.requestsPerSecond(), result.percentileUs(0.50), result.percentileUs(0.99),
        static_cast<unsigned long long>(result.latenciesNs.size()),
        static_cast<unsigned long long>(result.failures));
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption binaryOption("tarvex", "The tarvex executable to start.", "binary",
        qEnvironmentVariable("TARVEX_BINARY"));
    const QCommandLineOption secondsOption(
        "seconds", "Seconds per server and case.", "seconds", QString::number(DEFAULT_SECONDS));
    const QCommandLineOption roundsOption("rounds",
        "Alternating runs per server, which share the duration.", "rounds",
        QString::number(DEFAULT_ROUNDS));
    parser.addOptions({binaryOption, secondsOption, roundsOption});
    parser.process(app);
    // The service runs in another working directory, so a relative path must be resolved here.
    const QString binary = parser.value(binaryOption).isEmpty()
        ? QString()
        : QFileInfo(parser.value(binaryOption)).absoluteFilePath();
    const double seconds = parser.value(secondsOption).toDouble();
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    QTemporaryDir dir;
    const quint16 tarvexPort = freePort();
    std::printf("Preparing %d devices x %d registers on port %u...\n", DEVICE_COUNT,
        REGISTERS_PER_DEVICE, tarvexPort);
    if (!prepareDatabase(dir.filePath("server.db"), tarvexPort)) {
        std::fprintf(stderr, "cannot prepare the database\n");
        return 1;
    }

    QProcess service;
    CInProcessListener inProcess;
    CFakeNetworkServer networkServer;
    if (!binary.isEmpty()) {
        networkServer.listen();
        writeTemplate(dir.filePath("deviceFolder"));
        QFile settings(dir.filePath("settings.conf"));
        settings.open(QIODevice::WriteOnly);
        settings.write(QString("[db]\nfile=server.db\n[webui]\nip=127.0.0.1\nport=%1\n"
                               "[server]\naddress=%2\nlogin=bench\npassword=bench\n")
                           .arg(freePort())
                           .arg(networkServer.url().toString())
                           .toUtf8());
        settings.close();
        service.setWorkingDirectory(dir.path());
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start(binary, QStringList());
        std::printf("Tarvex: %s (pid %lld)\n", qPrintable(binary), service.processId());
        if (!waitForPort(tarvexPort)) {
            std::fprintf(stderr, "tarvex did not open port %u\n", tarvexPort);
            return 1;
        }
    } else {
        std::printf("Tarvex: listener in this process (give --tarvex to start the service)\n");
        if (!inProcess.start(tarvexPort)) {
            std::fprintf(stderr, "cannot listen on port %u\n", tarvexPort);
            return 1;
        }
    }

    QVector<quint16> registers(REGISTER_COUNT);
    for (int i = 0; i < REGISTER_COUNT; ++i)
        registers[i] = registerValue(i);
    CReferenceServer reference(registers);
    const quint16 referencePort = freePort();
    if (!reference.start(referencePort)) {
        std::fprintf(stderr, "cannot start the reference server\n");
        return 1;
    }
    if (!answersMatch(tarvexPort) || !answersMatch(referencePort)) {
        std::fprintf(stderr, "the servers do not answer the stored values\n");
        return 1;
    }

    // The burst runs first, while this thread still answers the network server's client; the
    // server is closed before the other cases block this thread.
    if (!binary.isEmpty()) {
        runBurst(networkServer, tarvexPort);
        networkServer.close();
    }
    std::printf("%.1f s per server and case in %d alternating rounds, libmodbus client, "
                "function 3\n",
        seconds, rounds);
    for (const int count : {10, 125}) {
        for (const int connections : {1, 10}) {
            std::printf(
                "%d registers, %d connection%s\n", count, connections, connections > 1 ? "s" : "");
            SLoadResult tarvex;
            SLoadResult yardstick;
            for (int round = 0; round < rounds; ++round) {
                const double slice = seconds / rounds;
                tarvex.add(runLoad(tarvexPort, connections, count, REGISTER_COUNT, slice));
                yardstick.add(runLoad(referencePort, connections, count, REGISTER_COUNT, slice));
            }
            printResult("tarvex", tarvex);
            printResult("reference", yardstick);
            std::printf("  ratio      %10.2f\n",
                tarvex.requestsPerSecond() / yardstick.requestsPerSecond());
        }
    }
    if (service.state() != QProcess::NotRunning) {
        service.terminate();
        if (!service.waitForFinished(5000))
            service.kill();
    }
    return 0;
}
