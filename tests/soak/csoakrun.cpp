#include "csoakrun.h"

#include "eventwait.h"
#include "freeport.h"
#include "soaklayout.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

namespace {
const double UPLINKS_PER_SECOND = 200;
const int UPLINK_TICK_MS = 10;
const int MODBUS_MASTERS = 50;
const int WEB_CLIENTS = 20;
// The warm-up is a tenth of the run, within these bounds: the service's memory settles in the
// first two minutes of load (database caches fill), so a long run's growth is measured after.
const int WARM_UP_MIN_S = 15;
const int WARM_UP_MAX_S = 180;
const int WAIT_MS = 30000;
const int DRAIN_MS = 120000;
const int SERVICE_START_MS = 15000;
const int SERVICE_STOP_MS = 30000;
// Memory growth is judged only over runs this long; shorter ones have not settled.
const int RSS_JUDGED_FROM_S = 1800;
const double RSS_GROWTH_LIMIT_PERCENT = 5;
const QString LOG_FILE = QStringLiteral("history.log");

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Runs the event loop for a while; QTest::qWait sleeps 10 ms between its rounds, which would
// hold up every answer the readers wait for.
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QJsonObject registerEntry(const QString& name, int offset)
{
    return {{"data_name", name}, {"source", 1}, {"reg_map_bias", offset}, {"reg_bit_size", 32},
        {"data_type", "uinteger"}, {"addition", 0}, {"multiplication", 1}, {"units", ""}};
}

// Their own timers set to a day: every uplink is one this run sent and counted.
QList<CSimulatedDevice> simulatedDevices()
{
    const CValueGenerator sequence(CValueGenerator::COUNTER, 1, 0, UINT32_MAX, 1);
    const CValueGenerator check(
        CValueGenerator::COUNTER, SoakLayout::CHECK_OFFSET + 1, 0, UINT32_MAX, 1);
    const CPacketGenerator packet(1, {{4, false, sequence}, {4, true, check}});
    QList<CSimulatedDevice> devices;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        devices.append(CSimulatedDevice({SoakLayout::devEui(device), SoakLayout::APP_EUI, "Soak"},
            86400000, {packet}, -80, 7.5));
    return devices;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The devices a reader goes round: every count-th one from first.
QList<int> everyNth(int first, int count)
{
    QList<int> devices;
    for (int device = first; device < SoakLayout::DEVICE_COUNT; device += count)
        devices.append(device);
    return devices;
}
} // namespace

CSoakRun::CSoakRun(int durationS)
    : durationS(durationS),
      simulator(simulatedDevices(), "00800000A0005043",
          CSimulatorServer::SCredentials {SoakLayout::LOGIN, SoakLayout::PASSWORD}),
      sent(SoakLayout::DEVICE_COUNT, 0),
      modbusReads(sent),
      webReads(sent)
{
    QObject::connect(&uplinkTimer, &QTimer::timeout, [this] { sendDueUplinks(); });
}

int CSoakRun::run()
{
    say(QString::asprintf("Soak: %d s at %.0f uplinks/s over %d devices on %d Modbus ports, %d "
                          "Modbus masters at 10 Hz, %d web clients at 1 Hz",
        durationS, UPLINKS_PER_SECOND, SoakLayout::DEVICE_COUNT, SoakLayout::PORT_COUNT,
        MODBUS_MASTERS, WEB_CLIENTS));
    if (setUp())
        loadAndCheck();
    else
        check(false, "set-up: service started, devices registered, readers logged in");
    if (failures > 0) {
        directory.setAutoRemove(false);
        say("Working directory kept: " + directory.path());
    }
    say(QString::asprintf("Soak %s: %d check(s) failed", failures ? "FAILED" : "PASSED", failures));
    return failures > 0 ? 1 : 0;
}

// The warm-up and the run under load, then every check.
void CSoakRun::loadAndCheck()
{
    runEvents(qBound(WARM_UP_MIN_S, durationS / 10, WARM_UP_MAX_S) * 1000);
    const qint64 rssStartKb = rssKb();
    runEvents(durationS * 1000);
    const qint64 rssEndKb = rssKb();
    uplinkTimer.stop();
    say(QString::asprintf(
        "%lld uplinks sent in %.1f s", totalSent, uplinkClock.elapsed() / 1000.0));
    check(drain(), "the backlog drained: the web API shows each device's last uplink");
    check(modbusReadsLastSent(), "then every device reads its last uplink over Modbus");
    for (const auto& reader : readers)
        reader->stop();
    checkReads("Modbus", modbusReads);
    checkReads("Web", webReads);
    check(service.state() == QProcess::Running, "the service ran throughout");
    check(stopService(), "the service stopped with status 0 on SIGTERM");
    checkDatabase();
    checkLog();
    const double growth = rssStartKb > 0 ? 100.0 * (rssEndKb - rssStartKb) / rssStartKb : 0;
    const QString memory = QString::asprintf("service RSS %lld kB after the warm-up, %lld kB at "
                                             "the end: %.1f %% growth (limit %.0f %%, judged on "
                                             "runs of %d min or longer)",
        rssStartKb, rssEndKb, growth, RSS_GROWTH_LIMIT_PERCENT, RSS_JUDGED_FROM_S / 60);
    if (durationS >= RSS_JUDGED_FROM_S)
        check(growth <= RSS_GROWTH_LIMIT_PERCENT, memory);
    else
        say("INFO " + memory);
}

// Starts the service, adds the devices through the web API as the add-device page does, and
// starts the uplinks and the readers, each at its own point of its period.
bool CSoakRun::setUp()
{
    const quint16 webPort = freePort();
    for (int i = 0; i < SoakLayout::PORT_COUNT; ++i)
        modbusPorts.append(freePort());
    if (!simulator.listen(QHostAddress::LocalHost, 0) || !startService(webPort))
        return false;
    admin = std::make_unique<CReader>(CReader::WEB, webPort);
    // The web server may not listen yet right after start.
    if (!waitUntil([this] { return admin->logIn(); }, WAIT_MS)
        || !waitUntil(
            [this] { return admin->call("server/reqServerState").value("status") == "ONLINE"; },
            WAIT_MS))
        return false;
    const QJsonArray registers {registerEntry("Sequence", 0), registerEntry("Check", 2)};
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
        const QJsonObject added = admin->call("app/addDevice",
            {{"port", modbusPorts[SoakLayout::portIndex(device)]},
                {"startAddr", SoakLayout::startRegister(device)},
                {"devEui", SoakLayout::devEui(device)}, {"app_eui", SoakLayout::APP_EUI},
                {"dev_type", SoakLayout::DEVICE_TYPE}, {"devRegisters", registers}});
        if (!added.value("result").toBool()) {
            say(QString("Device %1 not added: %2")
                    .arg(device)
                    .arg(added.value("error").toString()));
            return false;
        }
    }
    uplinkClock.start();
    uplinkTimer.start(UPLINK_TICK_MS);
    // Every 50th device from a master's first shares its port.
    for (int master = 0; master < MODBUS_MASTERS; ++master) {
        readers.push_back(
            std::make_unique<CReader>(CReader::MODBUS, modbusPorts[SoakLayout::portIndex(master)],
                everyNth(master, MODBUS_MASTERS), &modbusReads));
        QTimer::singleShot(master * 100 / MODBUS_MASTERS, readers.back().get(), &CReader::start);
    }
    for (int client = 0; client < WEB_CLIENTS; ++client) {
        readers.push_back(std::make_unique<CReader>(
            CReader::WEB, webPort, everyNth(client, WEB_CLIENTS), &webReads));
        if (!readers.back()->logIn())
            return false;
        QTimer::singleShot(client * 1000 / WEB_CLIENTS, readers.back().get(), &CReader::start);
    }
    return true;
}

// In a working directory of its own: the soak template, a log file and a settings file pointing
// at the simulator.
bool CSoakRun::startService(quint16 webPort)
{
    const QString deviceTemplate = QString(R"({"app_eui": "%1", "dev_type": "%2",
        "device_packets": [{"packet_type": 1, "packet_size": 9, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "uinteger",
             "endianness": "le", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 32,
             "data_name": "Sequence"},
            {"packet_bias": 5, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "uinteger",
             "endianness": "be", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 32,
             "data_name": "Check"}]}]})")
                                       .arg(SoakLayout::APP_EUI, SoakLayout::DEVICE_TYPE);
    const QString conf = QString("[debug]\nlog=true\nfile=%1\n\n"
                                 "[server]\naddress=ws://127.0.0.1:%2\nlogin=%3\npassword=%4\n\n"
                                 "[webui]\nip=127.0.0.1\nport=%5\nlogin=%3\npassword=%4\n")
                             .arg(LOG_FILE)
                             .arg(simulator.port())
                             .arg(SoakLayout::LOGIN, SoakLayout::PASSWORD)
                             .arg(webPort);
    if (!directory.isValid() || !QDir(directory.path()).mkpath("deviceFolder")
        || !writeFile(directory.filePath("deviceFolder/soak.json"), deviceTemplate.toUtf8())
        || !writeFile(directory.filePath("settings.conf"), conf.toUtf8()))
        return false;
    service.setWorkingDirectory(directory.path());
    service.setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    service.setProcessChannelMode(QProcess::MergedChannels);
    service.setStandardOutputFile(directory.filePath("console.txt"));
    service.start();
    return service.waitForStarted(SERVICE_START_MS);
}

// Catches up with the rate: a late tick sends more, so the average holds on a busy machine.
void CSoakRun::sendDueUplinks()
{
    const qint64 due = qint64(uplinkClock.elapsed() * UPLINKS_PER_SECOND / 1000.0);
    for (; totalSent < due; ++totalSent) {
        simulator.sendUplink(nextDevice);
        ++sent[nextDevice];
        nextDevice = (nextDevice + 1) % SoakLayout::DEVICE_COUNT;
    }
}

// Waits until the web API shows every device's last uplink.
bool CSoakRun::drain()
{
    QElapsedTimer clock;
    clock.start();
    QList<int> behind = everyNth(0, 1);
    while (!behind.isEmpty() && clock.elapsed() < DRAIN_MS) {
        QList<int> stillBehind;
        for (int device : qAsConst(behind)) {
            const QJsonObject answer
                = admin->call("app/getRegisterValues", {{"devEui", SoakLayout::devEui(device)}});
            const QJsonArray registers = answer.value("registers").toArray();
            if (SoakLayout::shownValue(registers, device, 0) != sent[device])
                stillBehind.append(device);
        }

        behind = stillBehind;
    }

    say(QString::asprintf(
        "Drained in %.1f s; %d device(s) behind", clock.elapsed() / 1000.0, behind.size()));
    return behind.isEmpty();
}

// The masters keep reading after the drain: every device's reads reach its last uplink.
bool CSoakRun::modbusReadsLastSent()
{
    return waitUntil([this] { return modbusReads.last == sent; }, WAIT_MS);
}

void CSoakRun::checkReads(const QString& kind, SReads& reads)
{
    say(QString::asprintf("%s: %lld answers, p50 %.2f ms, p99 %.2f ms, max %.2f ms",
        qPrintable(kind), reads.answers, reads.percentileMs(0.5), reads.percentileMs(0.99),
        reads.percentileMs(1.0)));
    check(reads.answers > 0, kind + " reads answered");
    check(reads.errors == 0, QString("%1 reads without errors (%2)").arg(kind).arg(reads.errors));
    check(reads.timeouts == 0,
        QString("%1 reads without time-outs (%2)").arg(kind).arg(reads.timeouts));
    check(reads.torn == 0,
        QString("%1 answers never torn (%2 mixed two uplinks)").arg(kind).arg(reads.torn));
    check(reads.backwards == 0,
        QString("%1 sequence never went backwards per device (%2 times)")
            .arg(kind)
            .arg(reads.backwards));
    check(reads.ahead == 0,
        QString("%1 sequence never ahead of what was sent (%2 times)").arg(kind).arg(reads.ahead));
}

// The resident set size from /proc, in kB; 0 when it cannot be read.
qint64 CSoakRun::rssKb() const
{
    QFile status(QString("/proc/%1/status").arg(service.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression vmRss("^VmRSS:\\s+(\\d+) kB", QRegularExpression::MultilineOption);
    return vmRss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// SIGTERM; true when it ended by itself with status 0.
bool CSoakRun::stopService()
{
    service.terminate();
    if (!service.waitForFinished(SERVICE_STOP_MS)) {
        service.kill();
        service.waitForFinished(SERVICE_STOP_MS);
        return false;
    }
    return service.exitStatus() == QProcess::NormalExit && service.exitCode() == 0;
}

// What the database file holds once the service stopped: each device's last uplink.
void CSoakRun::checkDatabase()
{
    QVector<quint32> stored(SoakLayout::DEVICE_COUNT, 0);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "soak");
        db.setDatabaseName(directory.filePath("server.db"));
        QSqlQuery query(db);
        if (db.open()
            && query.exec("SELECT d.dev_eui, v.full_value FROM devices d JOIN dev_data v "
                          "ON v.device = d.device AND v.name = 'Sequence'")) {
            while (query.next()) {
                const int device = query.value(0).toString().right(8).toInt(nullptr, 16);
                if (device >= 0 && device < SoakLayout::DEVICE_COUNT)
                    stored[device] = query.value(1).toString().toUInt(nullptr, 16);
            }
        }
    }
    QSqlDatabase::removeDatabase("soak");
    int differing = 0;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        differing += stored[device] != sent[device] ? 1 : 0;
    check(differing == 0,
        QString::asprintf("every uplink stored: in the database file each device's sequence "
                          "number equals the uplinks sent to it (%d differ)",
            differing));
}

// The log file and the older ones it was rotated into.
void CSoakRun::checkLog()
{
    QString log;
    const QDir dir(directory.path());
    for (const QString& name : dir.entryList({LOG_FILE + "*"}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            log += QString::fromUtf8(file.readAll());
    }
    check(!QRegularExpression("uplinks.*dropped").match(log).hasMatch(),
        QString::asprintf("the service's log has no dropped-uplink line (%d WARNING and %d ERROR "
                          "lines)",
            log.count("WARNING"), log.count("ERROR")));
}

void CSoakRun::check(bool pass, const QString& what)
{
    say(QString(pass ? "PASS " : "FAIL ") + what);
    failures += pass ? 0 : 1;
}
