#include "csoakrun.h"

#include "freeport.h"
#include "soaklayout.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <numeric>

namespace {
const QString LOGIN = QStringLiteral("soak");
const QString PASSWORD = QStringLiteral("soak-pass");
const double UPLINKS_PER_SECOND = 200;
const int MODBUS_MASTERS = 50;
const int WEB_CLIENTS = 20;
const int WARM_UP_S = 15;
const int PROGRESS_EVERY_S = 60;
const int WAIT_MS = 30000;
const int DRAIN_MS = 120000;
// Memory growth is judged only over runs this long; shorter ones have not settled.
const int RSS_JUDGED_FROM_S = 1800;
const double RSS_GROWTH_LIMIT_PERCENT = 5;

void say(const QString& line)
{
    QTextStream(stdout) << line << Qt::endl;
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
    : durationS(durationS),
      pusher(LOGIN, PASSWORD),
      modbusChecker(pusher),
      webChecker(pusher),
      stored(SoakLayout::DEVICE_COUNT, 0)
{
}

int CSoakRun::run()
{
    say(QString("Soak: %1 s at %2 uplinks/s over %3 devices on %4 Modbus ports, %5 Modbus "
                "masters at 10 Hz, %6 web clients at 1 Hz")
            .arg(durationS)
            .arg(UPLINKS_PER_SECOND)
            .arg(SoakLayout::DEVICE_COUNT)
            .arg(SoakLayout::PORT_COUNT)
            .arg(MODBUS_MASTERS)
            .arg(WEB_CLIENTS));
    if (!setUp() || !startReaders()) {
        check(false, "set-up: service started, devices registered, readers logged in");
        say("Working directory kept: " + service.keep());
        return 1;
    }
    runFor(WARM_UP_S);
    const qint64 rssStartKb = service.rssKb();
    runFor(durationS);
    const qint64 rssEndKb = service.rssKb();
    pusher.stop();
    say(QString("Pushed %1 uplinks in %2 s (%3/s)")
            .arg(pusher.totalSent())
            .arg(pusher.seconds(), 0, 'f', 1)
            .arg(pusher.totalSent() / pusher.seconds(), 0, 'f', 1));

    check(pusher.unheard() == 0,
        QString("every uplink went to the logged-in service (%1 went to no one)")
            .arg(pusher.unheard()));
    const bool drained = drain();
    const qint64 storedTotal = std::accumulate(stored.begin(), stored.end(), qint64(0));
    check(drained,
        QString("after the drain each device's stored sequence number equals the uplinks sent "
                "to it: stored %1 of %2 sent")
            .arg(storedTotal)
            .arg(pusher.totalSent()));
    check(modbusReadsLastStored(),
        "after the drain every device reads its last stored value "
        "over Modbus");
    stopReaders();
    reportReaders("Modbus", modbusChecker);
    reportReaders("Web", webChecker);
    check(service.isRunning(), "the service ran throughout");
    check(service.stop(), "the service stopped with status 0 on SIGTERM");
    reportLog();
    reportMemory(rssStartKb, rssEndKb);
    if (failures > 0)
        say("Working directory kept: " + service.keep());
    say(QString("Soak %1: %2 check(s) failed").arg(failures ? "FAILED" : "PASSED").arg(failures));
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
    say(QString("Registered %1 devices through the web API in %2 s")
            .arg(SoakLayout::DEVICE_COUNT)
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    return true;
}

bool CSoakRun::startReaders()
{
    pusher.start(UPLINKS_PER_SECOND);
    for (int master = 0; master < MODBUS_MASTERS; ++master) {
        // Every 50th device from the master's own shares the master's port.
        const QList<int> devices = everyNth(master, MODBUS_MASTERS);
        masters.push_back(std::make_unique<CModbusMaster>(
            modbusPorts[SoakLayout::portIndex(master)], devices, modbusChecker));
        // Spread over the period, as independent masters are.
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
        say(QString("  %1 s: %2 uplinks sent, %3 Modbus and %4 web answers, service RSS %5 kB")
                .arg(pusher.seconds(), 0, 'f', 0)
                .arg(pusher.totalSent())
                .arg(modbusChecker.totals().answers)
                .arg(webChecker.totals().answers)
                .arg(service.rssKb()));
    }
}

quint32 CSoakRun::storedSequence(int device)
{
    const QJsonObject answer
        = admin->call("app/getRegisterValues", {{"devEui", SoakLayout::devEui(device)}});
    return SoakLayout::shownValue(answer.value("registers").toArray(), device, 0);
}

// Waits until every device's stored sequence number has caught up with what was sent to it.
bool CSoakRun::drain()
{
    QElapsedTimer clock;
    clock.start();
    QList<int> behind = everyNth(0, 1);
    while (!behind.isEmpty() && clock.elapsed() < DRAIN_MS) {
        QList<int> stillBehind;
        for (int device : qAsConst(behind)) {
            stored[device] = storedSequence(device);
            if (stored[device] != pusher.sent(device))
                stillBehind.append(device);
        }
        behind = stillBehind;
    }
    say(QString("Drained in %1 s; %2 device(s) behind")
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
            .arg(behind.size()));
    return behind.isEmpty();
}

// The masters keep reading after the drain: each device's next answer is its last value.
bool CSoakRun::modbusReadsLastStored()
{
    QVector<qint64> answersBefore(SoakLayout::DEVICE_COUNT);
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device)
        answersBefore[device] = modbusChecker.answersOf(device);
    const bool everyDeviceRead = waitFor(
        [&] {
            for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
                if (modbusChecker.answersOf(device) == answersBefore[device])
                    return false;
            }
            return true;
        },
        WAIT_MS);
    int differing = 0;
    for (int device = 0; device < SoakLayout::DEVICE_COUNT; ++device) {
        if (modbusChecker.lastSequence(device) != pusher.sent(device))
            ++differing;
    }
    return everyDeviceRead && differing == 0;
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
    say(QString("%1: %2 answers (%8 before a first uplink was stored), p50 %3 ms, p99 %4 ms, "
                "max %5 ms; %6 errors, %7 timeouts")
            .arg(kind)
            .arg(counts.answers)
            .arg(checker.percentileMs(0.5), 0, 'f', 2)
            .arg(checker.percentileMs(0.99), 0, 'f', 2)
            .arg(checker.percentileMs(1.0), 0, 'f', 2)
            .arg(counts.errors)
            .arg(counts.timeouts)
            .arg(counts.empty));
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

void CSoakRun::reportLog()
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
    say(QString("Service log: %1 WARNING and %2 ERROR lines")
            .arg(log.count("WARNING"))
            .arg(log.count("ERROR")));
}

void CSoakRun::reportMemory(qint64 startKb, qint64 endKb)
{
    const double growth = startKb > 0 ? 100.0 * (endKb - startKb) / startKb : 0;
    const QString text = QString("service RSS %1 kB after warm-up, %2 kB at the end: %3 % growth "
                                 "(limit %4 %, judged on runs of %5 min or longer)")
                             .arg(startKb)
                             .arg(endKb)
                             .arg(growth, 0, 'f', 1)
                             .arg(RSS_GROWTH_LIMIT_PERCENT)
                             .arg(RSS_JUDGED_FROM_S / 60);
    if (durationS >= RSS_JUDGED_FROM_S)
        check(growth <= RSS_GROWTH_LIMIT_PERCENT, text);
    else
        say("INFO " + text);
}

void CSoakRun::check(bool pass, const QString& what)
{
    say(QString(pass ? "PASS " : "FAIL ") + what);
    if (!pass)
        ++failures;
}
