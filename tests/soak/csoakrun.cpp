#include "csoakrun.h"

#include "freeport.h"
#include "soaklayout.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <numeric>

namespace {
const QString LOGIN = QStringLiteral("soak");
const QString PASSWORD = QStringLiteral("soak-pass");
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

CSoakRun::CSoakRun(int durationS)
    : durationS(durationS), pusher(LOGIN, PASSWORD), modbusChecker(pusher), webChecker(pusher)
{
}

int CSoakRun::run()
{
    say(QString::asprintf("Soak: %d s at %.0f uplinks/s over %d devices on %d Modbus ports, %d "
                          "Modbus masters at 10 Hz, %d web clients at 1 Hz",
        durationS, UPLINKS_PER_SECOND, SoakLayout::DEVICE_COUNT, SoakLayout::PORT_COUNT,
        MODBUS_MASTERS, WEB_CLIENTS));
    if (!setUp() || !startReaders()) {
        check(false, "set-up: service started, devices registered, readers logged in");
        say("Working directory kept: " + service.keep());
        return 1;
    }
    runFor(qBound(WARM_UP_MIN_S, durationS / 10, WARM_UP_MAX_S));
    const qint64 rssStartKb = service.rssKb();
    runFor(durationS);
    const qint64 rssEndKb = service.rssKb();
    pusher.stop();
    say(QString::asprintf("Pushed %lld uplinks in %.1f s (%.1f/s)", pusher.totalSent(),
        pusher.seconds(), pusher.totalSent() / pusher.seconds()));
    check(pusher.unheard() == 0,
        QString::asprintf(
            "every uplink went to the logged-in service (%lld went to no one)", pusher.unheard()));
    check(drain(), "the backlog drained: the web API shows each device's last uplink");
    check(modbusReadsLastSent(), "then every device reads its last uplink over Modbus");
    stopReaders();
    reportReaders("Modbus", modbusChecker);
    reportReaders("Web", webChecker);
    check(service.isRunning(), "the service ran throughout");
    check(service.stop(), "the service stopped with status 0 on SIGTERM");
    checkDatabase();
    checkLog();
    reportMemory(rssStartKb, rssEndKb);
    if (failures > 0)
        say("Working directory kept: " + service.keep());
    say(QString::asprintf("Soak %s: %d check(s) failed", failures ? "FAILED" : "PASSED", failures));
    return failures > 0 ? 1 : 0;
}

bool CSoakRun::setUp()
{
    if (!pusher.listen())
        return false;
    webPort = freePort();
    for (int i = 0; i < SoakLayout::PORT_COUNT; ++i)
        modbusPorts.append(freePort());
    if (!service.start({pusher.port(), webPort, LOGIN, PASSWORD}))
        return false;
    admin = std::make_unique<CWebClient>(webPort);
    // The web server may not listen yet right after start.
    return waitFor([this] { return admin->logIn(LOGIN, PASSWORD); }, WAIT_MS)
        && waitFor(
            [this] { return admin->call("server/reqServerState").value("status") == "ONLINE"; },
            WAIT_MS)
        && registerDevices();
}

// Through the web API, as the add-device page does it.
bool CSoakRun::registerDevices()
{
    QElapsedTimer clock;
    clock.start();
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
    say(QString::asprintf("Registered %d devices through the web API in %.1f s",
        SoakLayout::DEVICE_COUNT, clock.elapsed() / 1000.0));
    return true;
}

bool CSoakRun::startReaders()
{
    pusher.start(UPLINKS_PER_SECOND);
    // Each reader starts at its own point of the period, as independent ones do. Every 50th
    // device from a master's first shares its port.
    for (int master = 0; master < MODBUS_MASTERS; ++master) {
        masters.push_back(
            std::make_unique<CModbusMaster>(modbusPorts[SoakLayout::portIndex(master)],
                everyNth(master, MODBUS_MASTERS), modbusChecker));
        QTimer::singleShot(master * CModbusMaster::PERIOD_MS / MODBUS_MASTERS, masters.back().get(),
            &CModbusMaster::start);
    }
    for (int client = 0; client < WEB_CLIENTS; ++client) {
        webPollers.push_back(
            std::make_unique<CWebPoller>(webPort, everyNth(client, WEB_CLIENTS), webChecker));
        if (!webPollers.back()->logIn(LOGIN, PASSWORD))
            return false;
        QTimer::singleShot(client * CWebPoller::PERIOD_MS / WEB_CLIENTS, webPollers.back().get(),
            &CWebPoller::start);
    }
    return true;
}

void CSoakRun::runFor(int seconds)
{
    for (int done = 0; done < seconds; done += PROGRESS_EVERY_S) {
        runEvents(std::min(PROGRESS_EVERY_S, seconds - done) * 1000);
        say(QString::asprintf("  %.0f s: %lld uplinks sent, %lld Modbus and %lld web answers, "
                              "service RSS %lld kB",
            pusher.seconds(), pusher.totalSent(), modbusChecker.totals().answers,
            webChecker.totals().answers, service.rssKb()));
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
    QVector<qint64> answersBefore;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        answersBefore.append(modbusChecker.answersOf(device));
    const auto everyDeviceAnswered = [&] {
        for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
            if (modbusChecker.answersOf(device) == answersBefore[device])
                return false;
        }
        return true;
    };
    if (!waitFor(everyDeviceAnswered, WAIT_MS))
        return false;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
        if (modbusChecker.lastSequence(device) != pusher.sent(device))
            return false;
    }
    return true;
}

void CSoakRun::stopReaders()
{
    for (const auto& master : masters)
        master->stop();
    for (const auto& poller : webPollers)
        poller->stop();
}

void CSoakRun::reportReaders(const QString& kind, CReadChecker& checker)
{
    const CReadChecker::SCounts& counts = checker.totals();
    say(QString::asprintf("%s: %lld answers (%lld before a first uplink was stored), p50 %.2f ms, "
                          "p99 %.2f ms, max %.2f ms; %lld errors, %lld timeouts",
        qPrintable(kind), counts.answers, counts.empty, checker.percentileMs(0.5),
        checker.percentileMs(0.99), checker.percentileMs(1.0), counts.errors, counts.timeouts));
    check(counts.answers > 0 && counts.errors == 0 && counts.timeouts == 0,
        kind + " reads answered, without errors or timeouts");
    check(counts.torn == 0,
        QString("%1 answers never torn (%2 mixed two uplinks)").arg(kind).arg(counts.torn));
    check(counts.backwards == 0,
        QString("%1 sequence never went backwards per device (%2 times)")
            .arg(kind)
            .arg(counts.backwards));
    check(counts.ahead == 0,
        QString("%1 sequence never ahead of what was sent (%2 times)").arg(kind).arg(counts.ahead));
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
        QString::asprintf("uplinks stored: in the database file each device's sequence number "
                          "equals the uplinks sent to it (%d differ); their sum %lld of %lld sent",
            differing, std::accumulate(stored.begin(), stored.end(), qint64(0)),
            pusher.totalSent()));
}

void CSoakRun::checkLog()
{
    const QString log = service.logText();
    QStringList dropped;
    for (const QString& line : log.split('\n')) {
        if (line.contains("uplinks") && line.contains("dropped"))
            dropped.append(line);
    }
    check(dropped.isEmpty(), "the service's log has no dropped-uplink line");
    for (const QString& line : qAsConst(dropped).mid(0, 5))
        say("    " + line);
    say(QString::asprintf(
        "Service log: %d WARNING and %d ERROR lines", log.count("WARNING"), log.count("ERROR")));
}

void CSoakRun::reportMemory(qint64 startKb, qint64 endKb)
{
    const double growth = startKb > 0 ? 100.0 * (endKb - startKb) / startKb : 0;
    const QString text
        = QString::asprintf("service RSS %lld kB after the warm-up, %lld kB at the end: "
                            "%.1f %% growth (limit %.0f %%, judged on runs of %d "
                            "min or longer)",
            startKb, endKb, growth, RSS_GROWTH_LIMIT_PERCENT, RSS_JUDGED_FROM_S / 60);
    if (durationS >= RSS_JUDGED_FROM_S)
        check(growth <= RSS_GROWTH_LIMIT_PERCENT, text);
    else
        say("INFO " + text);
}

void CSoakRun::check(bool pass, const QString& what)
{
    say(QString(pass ? "PASS " : "FAIL ") + what);
    failures += pass ? 0 : 1;
}
