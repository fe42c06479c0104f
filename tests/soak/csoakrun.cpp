#include "csoakrun.h"

#include "freeport.h"
#include "soaklayout.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <functional>

namespace {
const double UPLINKS_PER_SECOND = 200;
const int MODBUS_MASTERS = 50;
const int WEB_CLIENTS = 20;
// The warm-up is a tenth of the run, within these bounds: the service's memory settles in the
// first two minutes of load (database caches fill), so a long run's growth is measured after.
const int WARM_UP_MIN_S = 15;
const int WARM_UP_MAX_S = 180;
const int PROGRESS_EVERY_S = 60;
const int WAIT_MS = 30000;
const int DRAIN_MS = 120000;
// Memory growth is judged only over runs this long; shorter ones have not settled.
const int RSS_JUDGED_FROM_S = 1800;
const double RSS_GROWTH_LIMIT_PERCENT = 5;

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

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        runEvents(100);
    }
    return true;
}

QJsonObject registerEntry(const QString& name, int offset)
{
    return {{"data_name", name}, {"source", 1}, {"reg_map_bias", offset}, {"reg_bit_size", 32},
        {"data_type", "uinteger"}, {"addition", 0}, {"multiplication", 1}, {"units", ""}};
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

CSoakRun::CSoakRun(int durationS) : durationS(durationS), modbusReads(pusher), webReads(pusher)
{
}

int CSoakRun::run()
{
    say(QString::asprintf("Soak: %d s at %.0f uplinks/s over %d devices on %d Modbus ports, %d "
                          "Modbus masters at 10 Hz, %d web clients at 1 Hz",
        durationS, UPLINKS_PER_SECOND, SoakLayout::DEVICE_COUNT, SoakLayout::PORT_COUNT,
        MODBUS_MASTERS, WEB_CLIENTS));
    if (!setUp()) {
        check(false, "set-up: service started, devices registered, readers logged in");
        say("Working directory kept: " + service.keep());
        return 1;
    }
    runFor(qBound(WARM_UP_MIN_S, durationS / 10, WARM_UP_MAX_S));
    const qint64 rssStartKb = service.rssKb();
    runFor(durationS);
    const qint64 rssEndKb = service.rssKb();
    pusher.stop();
    check(pusher.unheard() == 0,
        QString::asprintf("every uplink went to the logged-in service (%lld sent in %.1f s, %lld "
                          "to no one)",
            pusher.totalSent(), pusher.seconds(), pusher.unheard()));
    check(drain(), "the backlog drained: the web API shows each device's last uplink");
    check(modbusReadsLastSent(), "then every device reads its last uplink over Modbus");
    for (const auto& reader : readers)
        reader->stop();
    checkReads("Modbus", modbusReads);
    checkReads("Web", webReads);
    check(service.isRunning(), "the service ran throughout");
    check(service.stop(), "the service stopped with status 0 on SIGTERM");
    checkDatabase();

    const QString log = service.logText();
    check(!QRegularExpression("uplinks.*dropped").match(log).hasMatch(),
        QString::asprintf("the service's log has no dropped-uplink line (%d WARNING and %d ERROR "
                          "lines)",
            log.count("WARNING"), log.count("ERROR")));
    const double growth = rssStartKb > 0 ? 100.0 * (rssEndKb - rssStartKb) / rssStartKb : 0;
    const QString memory = QString::asprintf("service RSS %lld kB after the warm-up, %lld kB at "
                                             "the end: %.1f %% growth (limit %.0f %%, judged on "
                                             "runs of %d min or longer)",
        rssStartKb, rssEndKb, growth, RSS_GROWTH_LIMIT_PERCENT, RSS_JUDGED_FROM_S / 60);
    if (durationS >= RSS_JUDGED_FROM_S)
        check(growth <= RSS_GROWTH_LIMIT_PERCENT, memory);
    else
        say("INFO " + memory);
    if (failures > 0)
        say("Working directory kept: " + service.keep());
    say(QString::asprintf("Soak %s: %d check(s) failed", failures ? "FAILED" : "PASSED", failures));
    return failures > 0 ? 1 : 0;
}

// Starts the service, adds the devices through the web API as the add-device page does, and
// starts the uplinks and the readers, each at its own point of its period.
bool CSoakRun::setUp()
{
    const quint16 webPort = freePort();
    for (int i = 0; i < SoakLayout::PORT_COUNT; ++i)
        modbusPorts.append(freePort());
    if (!pusher.listen() || !service.start(pusher.port(), webPort))
        return false;
    admin = std::make_unique<CReader>(CReader::WEB, webPort);
    // The web server may not listen yet right after start.
    if (!waitFor([this] { return admin->logIn(); }, WAIT_MS)
        || !waitFor(
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
    pusher.start(UPLINKS_PER_SECOND);
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

void CSoakRun::runFor(int seconds)
{
    for (int done = 0; done < seconds; done += PROGRESS_EVERY_S) {
        runEvents(std::min(PROGRESS_EVERY_S, seconds - done) * 1000);
        say(QString::asprintf("  %.0f s: %lld uplinks sent, %lld Modbus and %lld web answers, "
                              "service RSS %lld kB",
            pusher.seconds(), pusher.totalSent(), modbusReads.answers, webReads.answers,
            service.rssKb()));
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
            if (SoakLayout::shownValue(registers, device, 0) != pusher.sent(device))
                stillBehind.append(device);
        }
        behind = stillBehind;
    }
    say(QString::asprintf(
        "Drained in %.1f s; %d device(s) behind", clock.elapsed() / 1000.0, behind.size()));
    return behind.isEmpty();
}

// The masters keep reading after the drain: each device's next answer is its last uplink.
bool CSoakRun::modbusReadsLastSent()
{
    const QVector<qint64> answersBefore = modbusReads.answersOf;
    const auto everyDeviceAnswered = [&] {
        for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
            if (modbusReads.answersOf[device] == answersBefore[device])
                return false;
        }
        return true;
    };
    if (!waitFor(everyDeviceAnswered, WAIT_MS))
        return false;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
        if (modbusReads.last[device] != pusher.sent(device))
            return false;
    }
    return true;
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

// What the database file holds once the service stopped: each device's last uplink.
void CSoakRun::checkDatabase()
{
    QHash<QPair<int, int>, int> deviceAt; // by port and first register
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        deviceAt.insert(
            {modbusPorts[SoakLayout::portIndex(device)], SoakLayout::startRegister(device)},
            device);
    QVector<quint32> stored(SoakLayout::DEVICE_COUNT, 0);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "soak");
        db.setDatabaseName(service.databasePath());
        QSqlQuery query(db);
        if (db.open() && query.exec("SELECT port, reg_addr, full_value FROM dev_data")) {
            while (query.next()) {
                const int device
                    = deviceAt.value({query.value(0).toInt(), query.value(1).toInt()}, -1);
                if (device >= 0)
                    stored[device] = query.value(2).toString().toUInt(nullptr, 16);
            }
        }
    }
    QSqlDatabase::removeDatabase("soak");
    int differing = 0;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        differing += stored[device] != pusher.sent(device) ? 1 : 0;
    check(differing == 0,
        QString::asprintf("every uplink stored: in the database file each device's sequence "
                          "number equals the uplinks sent to it (%d differ)",
            differing));
}

void CSoakRun::check(bool pass, const QString& what)
{
    say(QString(pass ? "PASS " : "FAIL ") + what);
    failures += pass ? 0 : 1;
}
