// Modbus read throughput and latency of Tarvex against a libmodbus reference server.
//
//   modbus_bench [--tarvex <binary>] [--seconds <per case>] [--rounds <alternations>]
//
// With a binary (or TARVEX_BINARY set) the real service is started in a temporary working
// directory on a database prepared here; without one the Tarvex listener runs in this process,
// in a thread of its own, on the same database. Both servers hold 1000 devices x 10 registers.

#include "freeport.h"
#include "loadclient.h"
#include "referenceserver.h"

#include "cdatabasehandler.h"
#include "cdevicehandler.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <modbus.h>

namespace {
const int DEVICE_COUNT = 1000;
const int REGISTERS_PER_DEVICE = 10;
const int REGISTER_COUNT = DEVICE_COUNT * REGISTERS_PER_DEVICE;
const int START_TIMEOUT_MS = 30000;
const double DEFAULT_SECONDS = 4.0;
const int DEFAULT_ROUNDS = 8;

// One device's entries as { offset, bits }: 4 + 2 + 4 x 1 registers.
const QList<QPair<int, int>> DEVICE_ENTRIES
    = {{0, 64}, {4, 32}, {6, 16}, {7, 16}, {8, 16}, {9, 16}};

quint16 registerValue(int address)
{
    return quint16(address * 7 + 1);
}

// Registers the devices and stores every register's value; returns the register table.
bool prepareDatabase(const QString& fileName, quint16 port)
{
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    if (!database->init(fileName))
        return false;
    for (int device = 0; device < DEVICE_COUNT; ++device) {
        DB::SDeviceRegMapDescription description;
        description.devEui = QString("BE%1").arg(device, 14, 16, QChar('0')).toUpper();
        description.appEui = "0102030405060708";
        description.name = "bench";
        description.startAddr = device * REGISTERS_PER_DEVICE;
        description.port = port;
        DB::SDbDeviceRegDataSet values;
        values.devEui = description.devEui;
        values.startAddr = description.startAddr;
        for (const QPair<int, int>& entry : DEVICE_ENTRIES) {
            REGS::SRegisterInfo info;
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
    if (!binary.isEmpty()) {
        QFile settings(dir.filePath("settings.conf"));
        settings.open(QIODevice::WriteOnly);
        settings.write(QString("[db]\nfile=server.db\n[webui]\nip=127.0.0.1\nport=%1\n")
                           .arg(freePort())
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
