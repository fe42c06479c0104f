// Uplink throughput of a running tarvex against what SQLite alone can store on this machine.
//
// The fake network server pushes N rx messages (10 numeric fields each) for 1000 registered
// devices as fast as the socket takes them; the clock stops when the last uplink is stored. A
// trigger counts stored uplinks in the database file, so a lost uplink shows as a shortfall.
// The reference then stores the same uplinks with plain SQLite (10 single-row UPDATEs per uplink
// in one transaction, WAL, same schema, indexes and trigger) and the ratio is printed.
#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "eventwait.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <algorithm>
#include <cstdio>

namespace {
const int DEVICES = 1000;
const int FIELDS = 10;
const int MODBUS_PORT = 15502;
const int REFERENCE_RUNS = 3;
const char* const APP_EUI = "00000000000000B1";

QString devEui(int device)
{
    return QString("B1000000%1").arg(device, 8, 16, QLatin1Char('0')).toUpper();
}

quint16 fieldValue(int uplink, int field)
{
    return static_cast<quint16>(uplink * 7 + field);
}

QString payloadHex(int uplink)
{
    QString hex = "01";
    for (int field = 0; field < FIELDS; ++field)
        hex += QString("%1").arg(fieldValue(uplink, field), 4, 16, QLatin1Char('0'));
    return hex;
}

void writeTemplate(const QString& folder)
{
    QString fields;
    for (int field = 0; field < FIELDS; ++field) {
        fields += QString(R"(%1{"packet_bias": %2, "data_bit_bias": 0, "data_bit_size": 16,
            "data_type": "uinteger", "endianness": "be", "reg_map_bias": %3, "reg_bit_bias": 0,
            "reg_bit_size": 16, "data_name": "F%3"})")
                      .arg(field ? "," : "")
                      .arg(1 + 2 * field)
                      .arg(field);
    }
    QFile file(folder + "/bench.json");
    file.open(QIODevice::WriteOnly);
    file.write(QString(R"({"app_eui": "%1", "dev_type": "Bench", "device_packets": [
        {"packet_type": 1, "packet_size": %2, "packet_fields": [%3]}]})")
                   .arg(APP_EUI)
                   .arg(1 + 2 * FIELDS)
                   .arg(fields)
                   .toUtf8());
}

bool registerDevices(const QString& dbPath)
{
    CDataBaseHandler* db = CDataBaseHandler::getInstance();
    if (!db->init(dbPath))
        return false;
    for (int device = 0; device < DEVICES; ++device) {
        DB::SDeviceRegMapDescription description;
        description.devEui = devEui(device);
        description.appEui = APP_EUI;
        description.name = "Bench";
        description.port = MODBUS_PORT;
        description.startAddr = device * FIELDS;
        for (int field = 0; field < FIELDS; ++field) {
            REGS::SRegisterInfo info;
            info.name = QString("F%1").arg(field);
            info.regOffset = field;
            info.bitSize = 16;
            info.dataType = "uinteger";
            description.registers << info;
        }
        QString errorText;
        if (!db->registerNewDevice(description, errorText))
            return false;
    }
    return true;
}

// One extra UPDATE per stored uplink: the count of rows written at a device's first register.
bool addUplinkCounter(QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec("CREATE TABLE bench_count (n INTEGER)")
        && query.exec("INSERT INTO bench_count VALUES (0)")
        && query.exec(QString("CREATE TRIGGER bench_counter AFTER UPDATE OF full_value ON "
                              "dev_data WHEN NEW.reg_addr % %1 = 0 BEGIN UPDATE bench_count "
                              "SET n = n + 1; END")
                          .arg(FIELDS));
}

QSqlDatabase openDatabase(const QString& path, const QString& name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
    db.setDatabaseName(path);
    db.open();
    QSqlQuery(db).exec("PRAGMA journal_mode=WAL");
    QSqlQuery(db).exec("PRAGMA synchronous=NORMAL");
    return db;
}

int storedUplinks(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec("SELECT n FROM bench_count") || !query.next())
        return -1;
    return query.value(0).toInt();
}

qint64 peakRssKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

double referenceUplinksPerSecond(const QString& path, int uplinks)
{
    QSqlDatabase db = openDatabase(path, "reference-" + path);
    QSqlQuery update(db);
    update.prepare("UPDATE dev_data SET value=:value, full_value=:full_value, time=:time "
                   "WHERE device=:device AND reg_addr=:reg_addr;");
    QElapsedTimer clock;
    clock.start();
    for (int uplink = 0; uplink < uplinks; ++uplink) {
        const int device = uplink % DEVICES;
        db.transaction();
        for (int field = 0; field < FIELDS; ++field) {
            const QString text
                = QString("%1").arg(fieldValue(uplink, field), 4, 16, QLatin1Char('0'));
            update.bindValue(":value", text);
            update.bindValue(":full_value", text);
            update.bindValue(":time", QDateTime::currentMSecsSinceEpoch());
            update.bindValue(":device", device + 1);
            update.bindValue(":reg_addr", device * FIELDS + field);
            update.exec();
        }
        db.commit();
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int stored = storedUplinks(db);
    if (stored != uplinks)
        std::printf("reference stored %d of %d uplinks\n", stored, uplinks);
    return uplinks / seconds;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"uplinks", "Number of uplinks to push.", "n", "50000"});
    parser.addOption({"binary", "The tarvex executable.", "path", TARVEX_BINARY_PATH});
    parser.process(app);
    const int uplinks = parser.value("uplinks").toInt();

    QTemporaryDir dir;
    QDir(dir.path()).mkpath("deviceFolder");
    writeTemplate(dir.filePath("deviceFolder"));
    const QString dbPath = dir.filePath("server.db");
    const QString referencePath = dir.filePath("reference-%1.db");
    if (!registerDevices(dbPath)) {
        std::printf("device registration failed\n");
        return 1;
    }
    {
        QSqlDatabase db = openDatabase(dbPath, "setup");
        if (!addUplinkCounter(db)) {
            std::printf("counter trigger: %s\n", qPrintable(db.lastError().text()));
            return 1;
        }
        QSqlQuery(db).exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    QSqlDatabase::removeDatabase("setup");
    for (int run = 0; run < REFERENCE_RUNS; ++run)
        QFile::copy(dbPath, referencePath.arg(run));

    CFakeNetworkServer networkServer;
    networkServer.listen();
    QFile settings(dir.filePath("settings.conf"));
    settings.open(QIODevice::WriteOnly);
    settings.write(QString("[server]\naddress=%1\nlogin=bench\npassword=bench\n")
                       .arg(networkServer.url().toString())
                       .toUtf8());
    settings.close();

    QProcess tarvex;
    tarvex.setWorkingDirectory(dir.path());
    tarvex.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tarvex.start(parser.value("binary"), QStringList());
    if (!tarvex.waitForStarted()) {
        std::printf("cannot start %s\n", qPrintable(parser.value("binary")));
        return 1;
    }
    waitUntil([&] { return !networkServer.received("auth_req").isEmpty(); }, 10000);

    QSqlDatabase watcher = openDatabase(dbPath, "watcher");
    QElapsedTimer clock;
    clock.start();
    for (int uplink = 0; uplink < uplinks; ++uplink) {
        networkServer.pushRx(
            QJsonObject {{"devEui", devEui(uplink % DEVICES)}, {"type", "UNCONF_UP"},
                {"ts", QDateTime::currentMSecsSinceEpoch()}, {"data", payloadHex(uplink)}});
    }
    // Poll the count every 10 ms; the event loop keeps the fake server's sends flowing meanwhile.
    int stored = 0;
    double seconds = 0;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        stored = storedUplinks(watcher);
        seconds = clock.nsecsElapsed() / 1e9;
        if (stored >= uplinks || seconds > 300 || tarvex.state() != QProcess::Running)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    const qint64 rss = peakRssKiB(tarvex.processId());
    tarvex.terminate();
    tarvex.waitForFinished();

    const double tarvexRate = stored / seconds;
    // The machine's disk and load swing from run to run: the reference is the median of three.
    QVector<double> referenceRates;
    for (int run = 0; run < REFERENCE_RUNS; ++run)
        referenceRates << referenceUplinksPerSecond(referencePath.arg(run), uplinks);
    std::sort(referenceRates.begin(), referenceRates.end());
    const double referenceRate = referenceRates.at(REFERENCE_RUNS / 2);
    std::printf("uplinks pushed:          %d\n", uplinks);
    std::printf(
        "uplinks stored:          %d%s\n", stored, stored == uplinks ? "" : "  (LOST UPLINKS)");
    std::printf("tarvex:                  %.0f uplinks/s (%.2f s)\n", tarvexRate, seconds);
    std::printf("tarvex peak RSS:         %.1f MiB\n", rss / 1024.0);
    std::printf("SQLite alone:            %.0f uplinks/s (median of %.0f, %.0f, %.0f)\n",
        referenceRate, referenceRates.at(0), referenceRates.at(1), referenceRates.at(2));
    std::printf("ratio tarvex/reference:  %.2f\n", tarvexRate / referenceRate);
    return stored == uplinks ? 0 : 1;
}
