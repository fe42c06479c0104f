#include "app/clogfile.h"
#include "db/cdatabasehandler.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {
using Image = QMap<quint16, quint16>;

REGS::SRegisterInfo entry(int regOffset, int bitSize, const QString& unit = QString())
{
    REGS::SRegisterInfo info;
    info.name = QStringLiteral("r%1").arg(regOffset);
    info.regOffset = regOffset;
    info.bitSize = bitSize;
    info.dataType = QStringLiteral("uinteger");
    info.unit = unit;
    return info;
}

DB::SDeviceRegMapDescription device(const QString& devEui, int port, int startAddr,
    const QList<REGS::SRegisterInfo>& registers, const QString& name = QStringLiteral("type"))
{
    DB::SDeviceRegMapDescription description;
    description.devEui = devEui;
    description.appEui = QStringLiteral("70b3d5");
    description.name = name;
    description.port = port;
    description.startAddr = startAddr;
    description.registers = registers;
    return description;
}

DB::SDbDeviceRegDataSet dataSet(
    const QString& devEui, int startAddr, const QList<QPair<int, QString>>& fullValues)
{
    DB::SDbDeviceRegDataSet set;
    set.devEui = devEui;
    set.startAddr = startAddr;
    for (const auto& value : fullValues)
        set.appendRewriteData(QStringLiteral("v-") + value.second, value.first, value.second);
    return set;
}
} // namespace

class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void schemaIsCreatedAndReinitKeepsData();
    void registrationRefusesUsedRegisters();
    void duplicateOffsetKeepsTheFirstEntry();
    void addressesWrapPast65535();
    void failedWritesRollBack();
    void lastFreeRegister();
    void devicesAreOrderedAndFiltered();
    void registerDataIsStored();
    void registerParamAndScalingUpdate();
    void registerImage_data();
    void registerImage();
    void deletedDeviceFreesItsRegisters();
    void concurrentCallsFromSeveralThreads();

private:
    bool logged(const QString& message) const;
    QList<QVariantList> select(const QString& statement);
    void execute(const QString& statement);
    void registerOrFail(const DB::SDeviceRegMapDescription& description);

    QTemporaryDir dir;
    QString fileName;
    CDataBaseHandler* db = nullptr;
    QStringList logs;
};

void TestDataBaseHandler::initTestCase()
{
    QVERIFY(dir.isValid());
    fileName = dir.filePath(QStringLiteral("server.db"));
    connect(CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal, this,
        [this](const QString& entry) { logs.append(entry); });

    // A file that cannot be opened ends the instance; getInstance() says so once.
    db = CDataBaseHandler::getInstance();
    QVERIFY(db);
    QVERIFY(!db->init(dir.filePath(QStringLiteral("missing/dir/server.db"))));
    QTRY_VERIFY(std::any_of(logs.cbegin(), logs.cend(), [](const QString& e) {
        return e.contains("]CRITICAL_ERROR! Data base hasn't been created/opened! Error_text[");
    }));
    QCOMPARE(CDataBaseHandler::getInstance(), nullptr);
    db = CDataBaseHandler::getInstance();
    QVERIFY(db);
    QVERIFY(db->init(fileName));
}

bool TestDataBaseHandler::logged(const QString& message) const
{
    return std::any_of(logs.cbegin(), logs.cend(),
        [&message](const QString& e) { return e.endsWith("]" + message); });
}

// Reads the file through a connection of its own, as another program would.
QList<QVariantList> TestDataBaseHandler::select(const QString& statement)
{
    QList<QVariantList> rows;
    {
        QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "check");
        check.setDatabaseName(fileName);
        if (!check.open())
            return rows;
        QSqlQuery query(check);
        if (!query.exec(statement))
            qWarning() << "select failed:" << statement;
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row.append(query.value(i));
            rows.append(row);
        }
    }
    QSqlDatabase::removeDatabase("check");
    return rows;
}

void TestDataBaseHandler::execute(const QString& statement)
{
    {
        QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "check");
        check.setDatabaseName(fileName);
        QVERIFY(check.open());
        QSqlQuery query(check);
        QVERIFY2(query.exec(statement), qPrintable(statement));
    }
    QSqlDatabase::removeDatabase("check");
}

void TestDataBaseHandler::registerOrFail(const DB::SDeviceRegMapDescription& description)
{
    QString errorText;
    QVERIFY2(db->registerNewDevice(description, errorText), qPrintable(description.devEui));
    QVERIFY(errorText.isEmpty());
}

void TestDataBaseHandler::schemaIsCreatedAndReinitKeepsData()
{
    const auto schema = [this]() {
        QStringList names;
        for (const QVariantList& row :
            select("SELECT type || ':' || name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' "
                   "ORDER BY type, name"))
            names.append(row.at(0).toString());
        return names;
    };
    const QStringList expected
        = {"index:idx_dev_parent", "index:idx_dev_regaddr", "index:idx_device", "index:idx_eui",
            "index:idx_port_regaddr", "table:dev_data", "table:devices"};
    QCOMPARE(schema(), expected);
    QCOMPARE(select("SELECT sql FROM sqlite_master WHERE name='idx_port_regaddr'")
                 .value(0)
                 .value(0)
                 .toString(),
        QStringLiteral("CREATE INDEX idx_port_regaddr ON dev_data ( port, reg_addr )"));
    QCOMPARE(select("PRAGMA journal_mode").value(0).value(0).toString(), QStringLiteral("wal"));

    registerOrFail(device("a000000000000001", 1000, 5, {entry(0, 32, "kWh")}));
    db->saveRegisterData(dataSet("a000000000000001", 5, {{0, "0a0b0c0d"}}));

    QVERIFY(db->init(fileName));
    QCOMPARE(schema(), expected);
    QCOMPARE(db->getRegisterData(1000, 5, 2), (Image {{5, 0x0a0b}, {6, 0x0c0d}}));
    QCOMPARE(db->getRegisterParam("a000000000000001", 5).unit, QStringLiteral("kWh"));
    uint id = 0;
    QVERIFY(db->getDeviceId("a000000000000001", id));
    QVERIFY(id > 0);
}

void TestDataBaseHandler::registrationRefusesUsedRegisters()
{
    registerOrFail(device("b000000000000001", 1100, 0, {entry(12, 16)}));

    QString errorText;
    QVERIFY(
        !db->registerNewDevice(device("b000000000000002", 1100, 0, {entry(11, 32)}), errorText));
    QCOMPARE(
        errorText, QStringLiteral("регистр 12 на порту 1100 уже используется другим устройством"));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::registerNewDevice] Register [12] is already "
                       "used! Port 1100"));
    QVERIFY(select("SELECT * FROM devices WHERE dev_eui='b000000000000002'").isEmpty());

    // The same layout on another port, and entries overlapping each other, are fine.
    registerOrFail(device("b000000000000002", 1101, 0, {entry(11, 32), entry(12, 16)}));

    errorText.clear();
    QVERIFY(!db->registerNewDevice(device("b000000000000002", 1102, 0, {entry(0, 16)}), errorText));
    QCOMPARE(errorText, QStringLiteral("устройство b000000000000002 уже зарегистрировано"));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::registerNewDevice] Device [b000000000000002] "
                       "already exist!"));

    // Exact text comparison: another letter case is another device.
    registerOrFail(device("B000000000000002", 1102, 0, {entry(0, 16)}));
    QVERIFY(db->getRegisteredDevices().contains("B000000000000001"));
    QCOMPARE(db->getRegisteredDevices().count("B000000000000002"), 2);

    // Values with quotes are data, not statement text.
    const QString quoted = QStringLiteral("c0'); DROP TABLE devices; --\"");
    registerOrFail(device(quoted, 1103, 0, {entry(0, 16)}));
    uint id = 0;
    QVERIFY(db->getDeviceId(quoted, id));
    QVERIFY(id > 0);
    QVERIFY(!db->getDeviceId("c0", id));
    QCOMPARE(id, 0u);
}

void TestDataBaseHandler::duplicateOffsetKeepsTheFirstEntry()
{
    registerOrFail(
        device("d000000000000001", 1150, 10, {entry(10, 16, "first"), entry(10, 32, "second")}));
    QTRY_VERIFY(logged("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x0014] for "
                       "device [d000000000000001] already exist!"));
    const QList<QVariantList> rows = select("SELECT reg_addr, unit FROM dev_data WHERE port=1150");
    QCOMPARE(rows, (QList<QVariantList> {{20, "first"}}));
}

void TestDataBaseHandler::addressesWrapPast65535()
{
    registerOrFail(device("e000000000000001", 1200, 65535, {entry(0, 32)}));
    QCOMPARE(db->getLastFreeRegisterForPort(1200), 65536);

    QString errorText;
    QVERIFY(!db->registerNewDevice(device("e000000000000002", 1200, 0, {entry(0, 16)}), errorText));
    QCOMPARE(
        errorText, QStringLiteral("регистр 0 на порту 1200 уже используется другим устройством"));
    registerOrFail(device("e000000000000002", 1200, 1, {entry(0, 16)}));

    db->saveRegisterData(dataSet("e000000000000001", 65535, {{0, "aabbccdd"}}));
    QCOMPARE(db->getRegisterData(1200, 65534, 4),
        (Image {{65534, 0}, {65535, 0xaabb}, {0, 0xccdd}, {1, 0}}));
}

void TestDataBaseHandler::failedWritesRollBack()
{
    // The third register insert of this device fails inside SQLite.
    execute("CREATE TRIGGER fail_register BEFORE INSERT ON dev_data WHEN NEW.reg_addr = 4242 "
            "BEGIN SELECT RAISE(ABORT, 'injected'); END;");
    const DB::SDeviceRegMapDescription failing
        = device("f000000000000001", 1250, 4240, {entry(0, 16), entry(1, 16), entry(2, 16)});
    QString errorText;
    QVERIFY(!db->registerNewDevice(failing, errorText));
    QVERIFY(errorText.isEmpty());
    QTRY_VERIFY(logged("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]"));
    QVERIFY(select("SELECT * FROM devices WHERE dev_eui='f000000000000001'").isEmpty());
    QVERIFY(select("SELECT * FROM dev_data WHERE port=1250").isEmpty());
    QCOMPARE(db->getLastFreeRegisterForPort(1250), 0);
    QCOMPARE(db->getRegisterParam("f000000000000001", 4240).regAddr, 0u);

    execute("DROP TRIGGER fail_register;");
    registerOrFail(failing);
    db->saveRegisterData(dataSet("f000000000000001", 4240, {{0, "0001"}, {1, "0002"}}));

    // One uplink is stored whole or not at all: the second update fails, the first is undone.
    execute("CREATE TRIGGER fail_update BEFORE UPDATE ON dev_data WHEN NEW.full_value = 'dead' "
            "BEGIN SELECT RAISE(ABORT, 'injected'); END;");
    db->saveRegisterData(dataSet("f000000000000001", 4240, {{0, "1111"}, {1, "dead"}}));
    execute("DROP TRIGGER fail_update;");
    uint id = 0;
    QVERIFY(db->getDeviceId("f000000000000001", id));
    QTRY_VERIFY(logged(QStringLiteral("    Set: deviceId[%1], regAddr[4241]").arg(id)));
    QCOMPARE(select("SELECT full_value FROM dev_data WHERE port=1250 ORDER BY reg_addr"),
        (QList<QVariantList> {{"0001"}, {"0002"}, {QVariant(QVariant::String)}}));
    QCOMPARE(db->getRegisterData(1250, 4240, 2), (Image {{4240, 1}, {4241, 2}}));
}

void TestDataBaseHandler::lastFreeRegister()
{
    QCOMPARE(db->getLastFreeRegisterForPort(1300), 0);
    registerOrFail(device("g000000000000001", 1300, 100, {entry(0, 16), entry(10, 32)}));
    QCOMPARE(db->getLastFreeRegisterForPort(1300), 112);
}

void TestDataBaseHandler::devicesAreOrderedAndFiltered()
{
    const QStringList names = {"zeta-ord", "Alpha-ord", "mid-ord", "100% sure", "100 percent",
        "a_b", "axb", "O'Brien \"q\""};
    for (int i = 0; i < names.size(); ++i)
        registerOrFail(
            device(QStringLiteral("h00000000000000%1").arg(i), 1350 + i, 0, {}, names[i]));

    const auto namesOf = [](const QList<DB::SDeviceRegMapDescription>& devices) {
        QStringList result;
        for (const auto& d : devices)
            result.append(d.name);
        return result;
    };
    QStringList all = namesOf(db->getDevices(QString()));
    QStringList sorted = all;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(all, sorted);
    for (const QString& name : names)
        QVERIFY(all.contains(name));

    QCOMPARE(namesOf(db->getDevices("-ord")), (QStringList {"Alpha-ord", "mid-ord", "zeta-ord"}));
    QCOMPARE(namesOf(db->getDevices("ALPHA")), QStringList {"Alpha-ord"});
    QCOMPARE(namesOf(db->getDevices("%")), QStringList {"100% sure"});
    QCOMPARE(namesOf(db->getDevices("a_b")), QStringList {"a_b"});
    QCOMPARE(namesOf(db->getDevices("'Brien \"")), QStringList {"O'Brien \"q\""});
    QVERIFY(db->getDevices("no such name").isEmpty());

    const DB::SDeviceRegMapDescription mid = db->getDevices("mid-ord").value(0);
    QCOMPARE(mid.devEui, QStringLiteral("h000000000000002"));
    QCOMPARE(mid.appEui, QStringLiteral("70b3d5"));
    QCOMPARE(mid.port, 1352);
    QVERIFY(mid.id > 0);
}

void TestDataBaseHandler::registerDataIsStored()
{
    REGS::SRegisterInfo signed24 = entry(2, 24);
    signed24.dataType = QStringLiteral("integer");
    registerOrFail(device("i000000000000001", 1400, 30, {entry(0, 16), entry(1, 16), signed24}));
    uint id = 0;
    QVERIFY(db->getDeviceId("i000000000000001", id));

    db->saveRegisterData(DB::SDbDeviceRegDataSet {"i000000000000001", 30, {}, {}});
    QTRY_VERIFY(logged("INFO: [CDataBaseHandler::saveRegisterData] Empty input data"));

    db->saveRegisterData(dataSet("i00000000000000X", 30, {{0, "0001"}}));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI "
                       "[i00000000000000X]"));

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    db->saveRegisterData(
        dataSet("i000000000000001", 30, {{0, "0001"}, {0, "0002"}, {1, ""}, {2, "ffffff"}}));
    const QList<QVariantList> rows
        = select("SELECT reg_addr, value, full_value, time FROM dev_data WHERE port=1400 ORDER BY "
                 "reg_addr");
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].mid(0, 3), (QVariantList {30, "v-0002", "0002"})); // the second one wins
    QVERIFY(rows[0][3].toLongLong() >= before);
    QVERIFY(rows[1][2].isNull()); // empty full value stored as NULL
    QCOMPARE(
        db->getRegisterData(1400, 30, 4), (Image {{30, 2}, {31, 0}, {32, 0xffff}, {33, 0xff00}}));

    const QList<DB::SDbDevRegDataInfo> infos = db->getRegistersData(id);
    QCOMPARE(infos.size(), 3);
    QCOMPARE(infos[0].value, QStringLiteral("2"));
    QCOMPARE(infos[1].value, QStringLiteral("-"));
    QCOMPARE(infos[2].value, QStringLiteral("-1099511627776")); // three bytes read as 64 bits
    QCOMPARE(infos[2].bitSize, 24);
    QVERIFY(db->getRegistersData(999999).isEmpty());
}

void TestDataBaseHandler::registerParamAndScalingUpdate()
{
    REGS::SRegisterInfo scaled = entry(3, 16, "°C");
    scaled.startValue = -40.5;
    scaled.gratingPeriod = 0.1;
    registerOrFail(device("j000000000000001", 1450, 200, {scaled}));

    DB::SDbDevRegParam param = db->getRegisterParam("j000000000000001", 203);
    QCOMPARE(param.regAddr, 203u);
    QCOMPARE(param.startValue, -40.5);
    QCOMPARE(param.gratingPeriod, 0.1);
    QCOMPARE(param.unit, QStringLiteral("°C"));

    for (const auto& miss : {qMakePair(QStringLiteral("j000000000000001"), 204u),
             qMakePair(QStringLiteral("J000000000000001"), 203u), qMakePair(QString(), 203u)}) {
        param = db->getRegisterParam(miss.first, miss.second);
        QCOMPARE(param.regAddr, 0u);
        QCOMPARE(param.startValue, 0.0);
        QCOMPARE(param.gratingPeriod, 1.0);
        QVERIFY(param.unit.isEmpty());
    }
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::getRegisterParam] Register is not exist!"));

    uint id = 0;
    QVERIFY(db->getDeviceId("j000000000000001", id));
    DB::SDbDevRegParamInfo update;
    update.id = id;
    update.params = {{203, 5.0, 2.5, "K"}};
    db->updateRegInfo(update);
    param = db->getRegisterParam("j000000000000001", 203);
    QCOMPARE(param.startValue, 5.0);
    QCOMPARE(param.gratingPeriod, 2.5);
    QCOMPARE(param.unit, QStringLiteral("K"));
    QCOMPARE(select("SELECT unit FROM dev_data WHERE port=1450").value(0).value(0).toString(),
        QStringLiteral("K"));
}

void TestDataBaseHandler::registerImage_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<Image>("expected");

    // Port 1500: device k..1 at 0 (8, 16, 32 and 64 bits), device k..2 at 8 (never written,
    // wrong byte count, 24 bits, 16 bits); see registerImage().
    QTest::newRow("whole port") << 1500 << 0 << 15
                                << Image {{0, 0xab00}, {1, 0x1234}, {2, 0x0102}, {3, 0x0304},
                                       {4, 0x1122}, {5, 0x3344}, {6, 0x5566}, {7, 0x7788}, {8, 0},
                                       {9, 0}, {10, 0}, {11, 0xaabb}, {12, 0xcc00}, {13, 0xbeef},
                                       {14, 0}};
    QTest::newRow("value starting before the range")
        << 1500 << 3 << 2 << Image {{3, 0}, {4, 0x1122}};
    QTest::newRow("inside a 64-bit value") << 1500 << 5 << 2 << Image {{5, 0}, {6, 0}};
    QTest::newRow("value cut at the range end")
        << 1500 << 4 << 2 << Image {{4, 0x1122}, {5, 0x3344}};
    QTest::newRow("other port") << 1501 << 0 << 2 << Image {{0, 0}, {1, 0}};
    QTest::newRow("count 0") << 1500 << 0 << 0 << Image {};
}

void TestDataBaseHandler::registerImage()
{
    QFETCH(int, port);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(Image, expected);

    if (db->getRegisteredDevices().indexOf("K000000000000001") < 0) {
        registerOrFail(device(
            "k000000000000001", 1500, 0, {entry(0, 8), entry(1, 16), entry(2, 32), entry(4, 64)}));
        registerOrFail(device(
            "k000000000000002", 1500, 8, {entry(0, 16), entry(1, 32), entry(3, 24), entry(5, 16)}));
        db->saveRegisterData(dataSet("k000000000000001", 0,
            {{0, "ab"}, {1, "1234"}, {2, "01020304"}, {4, "1122334455667788"}}));
        db->saveRegisterData(
            dataSet("k000000000000002", 8, {{1, "0102"}, {3, "aabbcc"}, {5, "beef"}}));
    }
    QCOMPARE(db->getRegisterData(port, first, count), expected);
}

void TestDataBaseHandler::deletedDeviceFreesItsRegisters()
{
    registerOrFail(device("l000000000000001", 1550, 7, {entry(0, 16)}));
    db->saveRegisterData(dataSet("l000000000000001", 7, {{0, "0102"}}));
    uint id = 0;
    QVERIFY(db->getDeviceId("l000000000000001", id));

    QVERIFY(db->deleteDevice(id));
    QVERIFY(select(QStringLiteral("SELECT * FROM dev_data WHERE device=%1").arg(id)).isEmpty());
    QCOMPARE(db->getRegisterData(1550, 7, 1), (Image {{7, 0}}));
    QCOMPARE(db->getLastFreeRegisterForPort(1550), 0);
    QVERIFY(db->deleteDevice(id)); // an id that no longer exists
    registerOrFail(device("l000000000000001", 1550, 7, {entry(0, 16)}));
}

// Worker threads register, write and read at once, each on its own port, against one file.
void TestDataBaseHandler::concurrentCallsFromSeveralThreads()
{
    const int threadCount = 4;
    const int devicesPerThread = 15;
    const int connectionsBefore = QSqlDatabase::connectionNames().size();
    std::atomic<int> failures {0};

    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([this, t, &failures] {
            const int port = 1600 + t;
            for (int i = 0; i < devicesPerThread; ++i) {
                const QString devEui = QStringLiteral("m%1%2").arg(t).arg(i, 14, 10, QChar('0'));
                QString errorText;
                if (!db->registerNewDevice(
                        device(devEui, port, 2 * i, {entry(0, 32)}, devEui), errorText))
                    ++failures;
                const QString value = QStringLiteral("%1").arg(i, 8, 16, QChar('0'));
                db->saveRegisterData(dataSet(devEui, 2 * i, {{0, value}}));
                const Image image = db->getRegisterData(port, 2 * i, 2);
                if (image != Image {{quint16(2 * i), 0}, {quint16(2 * i + 1), quint16(i)}})
                    ++failures;
                if (db->getRegisterParam(devEui, 2 * i).regAddr != uint(2 * i)
                    || db->getDevices(devEui).isEmpty())
                    ++failures;
            }
        }));
    }
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));

    QCOMPARE(failures.load(), 0);
    QCOMPARE(
        select("SELECT COUNT(*) FROM devices WHERE dev_eui LIKE 'm%'").value(0).value(0).toInt(),
        threadCount * devicesPerThread);
    QCOMPARE(select("SELECT COUNT(*) FROM dev_data WHERE port BETWEEN 1600 AND 1603 AND full_value "
                    "IS NOT NULL")
                 .value(0)
                 .value(0)
                 .toInt(),
        threadCount * devicesPerThread);
    for (int t = 0; t < threadCount; ++t)
        QCOMPARE(db->getLastFreeRegisterForPort(1600 + t), 2 * devicesPerThread);
    // An ended thread lets its connection go once its thread-local data is destroyed.
    QTRY_COMPARE(QSqlDatabase::connectionNames().size(), connectionsBefore);
}

QTEST_GUILESS_MAIN(TestDataBaseHandler)
#include "tst_databasehandler.moc"
