#include "cdatabasehandler.h"
#include "clogfile.h"

#include <QtSql>
#include <QtTest>

namespace {
using Image = QMap<quint16, quint16>;

REGS::SRegisterInfo entry(int regOffset, int bitSize, const QString& dataType = "uinteger")
{
    return {"r", 0, regOffset, bitSize, dataType, 0.0, 1.0, QString()};
}

// Rewrites of full values at offsets; the register text is the full value with a "v-" prefix.
DB::SDbDeviceRegDataSet dataSet(
    const QString& devEui, int startAddr, const QList<QPair<int, QString>>& fullValues)
{
    DB::SDbDeviceRegDataSet set {devEui, startAddr, {}, {}};
    for (const auto& value : fullValues)
        set.appendRewriteData("v-" + value.second, value.first, value.second);
    return set;
}
} // namespace

class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void registration();
    void devicesAreOrderedAndFiltered();
    void registerDataImageAndParams();
    void concurrentCallsFromSeveralThreads();
    void valueTexts_data();
    void valueTexts();

private:
    bool logged(const QString& message) const { return !logs.filter("]" + message).isEmpty(); }
    // Registers a device; returns the refusal, empty when it succeeded.
    QString add(const QString& devEui, int port, int startAddr,
        const QList<REGS::SRegisterInfo>& registers, const QString& name = "type")
    {
        QString error;
        return db->registerNewDevice({devEui, "70b3d5", name, startAddr, registers, port, 0}, error)
            ? QString()
            : "refused " + error;
    }
    uint idOf(const QString& devEui)
    {
        uint id = 0;
        return db->getDeviceId(devEui, id) ? id : 0;
    }
    QString sql(const QString& statement);

    QTemporaryDir dir;
    CDataBaseHandler* db = nullptr;
    QStringList logs;
};

void TestDataBaseHandler::initTestCase()
{
    connect(CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal, this,
        [this](const QString& entry) { logs.append(entry); });

    // A file that cannot be opened ends the instance; getInstance() says so once.
    db = CDataBaseHandler::getInstance();
    QVERIFY(!db->init(dir.filePath("missing/dir/server.db")));
    QTRY_VERIFY(logged("CRITICAL_ERROR! Data base hasn't been created/opened! Error_text["));
    QCOMPARE(CDataBaseHandler::getInstance(), nullptr);
    db = CDataBaseHandler::getInstance();
    QVERIFY(db->init(dir.filePath("server.db")));

    QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "check");
    check.setDatabaseName(dir.filePath("server.db"));
    QVERIFY(check.open());

    // Schema and journal mode; a second init on the existing file keeps everything.
    QCOMPARE(sql("SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name"),
        QStringLiteral("dev_data;devices;idx_dev_parent;idx_dev_regaddr;idx_device;idx_eui;"
                       "idx_port_regaddr"));
    QCOMPARE(sql("PRAGMA journal_mode"), QStringLiteral("wal"));
    QCOMPARE(add("a1", 1000, 5, {entry(0, 32)}), QString());
    db->saveRegisterData(dataSet("a1", 5, {{0, "0a0b0c0d"}}));
    QVERIFY(db->init(dir.filePath("server.db")));
    QCOMPARE(db->getRegisterData(1000, 5, 2), (Image {{5, 0x0a0b}, {6, 0x0c0d}}));
}

// Runs a statement on a connection of its own, as another program would: "a|b;c|d".
QString TestDataBaseHandler::sql(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database("check"));
    if (!query.exec(statement))
        return query.lastError().text();
    QStringList rows;
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << (query.isNull(i) ? "NULL" : query.value(i).toString());
        rows << row.join('|');
    }
    return rows.join(';');
}

void TestDataBaseHandler::registration()
{
    QCOMPARE(add("b1", 1100, 0, {entry(12, 16)}), QString());
    QCOMPARE(add("b2", 1100, 0, {entry(11, 32)}),
        QStringLiteral("refused регистр 12 на порту 1100 уже используется другим устройством"));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::registerNewDevice] Register [12] is already "
                       "used! Port 1100"));
    // The same layout on another port, and entries overlapping each other, are fine.
    QCOMPARE(add("b2", 1101, 0, {entry(11, 32), entry(12, 16)}), QString());
    QCOMPARE(add("b2", 1102, 0, {entry(0, 16)}),
        QStringLiteral("refused устройство b2 уже зарегистрировано"));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::registerNewDevice] Device [b2] already exist!"));
    QCOMPARE(add("B2", 1102, 0, {entry(0, 16)}), QString()); // letter case counts

    // Values with quotes are data, not statement text.
    const QString quoted = QStringLiteral("c0'); DROP TABLE devices; --\"");
    QCOMPARE(add(quoted, 1103, 0, {entry(0, 16)}), QString());
    QVERIFY(idOf(quoted) > 0);

    // A second entry at one offset is left out with a warning.
    QCOMPARE(add("d1", 1150, 10, {entry(10, 16), entry(10, 32)}), QString());
    QTRY_VERIFY(logged("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x0014] for "
                       "device [d1] already exist!"));
    QCOMPARE(
        sql("SELECT reg_addr, bit_size FROM dev_data WHERE port=1150"), QStringLiteral("20|16"));

    QCOMPARE(add("g1", 1300, 100, {entry(0, 16), entry(10, 32)}), QString());
    QCOMPARE(db->getLastFreeRegisterForPort(1300), 112);

    // Addresses wrap past 65535, for overlaps and for the register image alike.
    QCOMPARE(add("e1", 1200, 65535, {entry(0, 32)}), QString());
    QCOMPARE(db->getLastFreeRegisterForPort(1200), 65536);
    QCOMPARE(add("e2", 1200, 0, {entry(0, 16)}),
        QStringLiteral("refused регистр 0 на порту 1200 уже используется другим устройством"));
    QCOMPARE(add("e2", 1200, 1, {entry(0, 16)}), QString());
    db->saveRegisterData(dataSet("e1", 65535, {{0, "aabbccdd"}}));
    QCOMPARE(db->getRegisterData(1200, 65534, 4),
        (Image {{65534, 0}, {65535, 0xaabb}, {0, 0xccdd}, {1, 0}}));

    // Deletion frees the registers; neither the file nor the image keeps the values.
    QVERIFY(db->deleteDevice(idOf("e1")));
    QCOMPARE(sql("SELECT reg_addr FROM dev_data WHERE port=1200"), QStringLiteral("1"));
    QCOMPARE(db->getRegisterData(1200, 65535, 1), (Image {{65535, 0}}));

    // A failure inside SQLite (here at the third register insert) leaves nothing behind.
    sql("CREATE TRIGGER fail_register BEFORE INSERT ON dev_data WHEN NEW.reg_addr = 4242 "
        "BEGIN SELECT RAISE(ABORT, 'injected'); END;");
    QCOMPARE(add("f1", 1250, 4240, {entry(0, 16), entry(1, 16), entry(2, 16)}),
        QStringLiteral("refused "));
    QCOMPARE(sql("SELECT dev_eui FROM devices WHERE dev_eui='f1' UNION SELECT reg_addr FROM "
                 "dev_data WHERE port=1250"),
        QString());
    QCOMPARE(add("f1", 1250, 4240, {entry(0, 16)}), QString());
}

void TestDataBaseHandler::devicesAreOrderedAndFiltered()
{
    const QStringList names = {"zeta-ord", "Alpha-ord", "mid-ord", "100% sure", "100 percent",
        "a_b", "axb", "O'Brien \"q\""};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(add(QStringLiteral("h%1").arg(i), 1350 + i, 0, {}, names[i]), QString());
    const auto namesOf = [this](const QString& filter) {
        QStringList result;
        for (const auto& d : db->getDevices(filter))
            result.append(d.name);
        return result;
    };
    QStringList all = namesOf(QString()), sorted = all;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(all, sorted);
    QVERIFY(all.size() > names.size());
    QCOMPARE(namesOf("-ord"), (QStringList {"Alpha-ord", "mid-ord", "zeta-ord"}));
    QCOMPARE(namesOf("ALPHA"), QStringList {"Alpha-ord"});
    QCOMPARE(namesOf("%"), QStringList {"100% sure"});
    QCOMPARE(namesOf("a_b"), QStringList {"a_b"});
    QCOMPARE(namesOf("'Brien \""), QStringList {"O'Brien \"q\""});

    const DB::SDeviceRegMapDescription mid = db->getDevices("mid-ord").value(0);
    QCOMPARE(QVariantList({mid.devEui, mid.appEui, mid.port, mid.id > 0}),
        QVariantList({"h2", "70b3d5", 1352, true}));
}

void TestDataBaseHandler::registerDataImageAndParams()
{
    const REGS::SRegisterInfo scaled {"r", 0, 4, 16, "uinteger", -40.5, 0.1, "°C"};
    QCOMPARE(add("i1", 1400, 30,
                 {entry(0, 16), entry(1, 16), entry(2, 24, "integer"), scaled, entry(5, 8),
                     entry(6, 32), entry(8, 64), entry(12, 32)}),
        QString());
    db->saveRegisterData(dataSet("iX", 30, {{0, "0001"}}));
    QTRY_VERIFY(logged("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [iX]"));

    // Two entries at one offset (the later wins), an empty full value (stored as NULL), 8 to 64
    // bits, a 32-bit register given two bytes, one register never written.
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    db->saveRegisterData(dataSet("i1", 30,
        {{0, "0001"}, {0, "0002"}, {1, ""}, {2, "ffffff"}, {5, "ab"}, {6, "01020304"},
            {8, "1122334455667788"}, {12, "0102"}}));
    // One uplink is stored whole or not at all: this one fails at its second row.
    sql("CREATE TRIGGER fail_update BEFORE UPDATE ON dev_data WHEN NEW.full_value = 'dead' "
        "BEGIN SELECT RAISE(ABORT, 'injected'); END;");
    db->saveRegisterData(dataSet("i1", 30, {{0, "1111"}, {1, "dead"}}));
    QCOMPARE(sql(QString("SELECT reg_addr, value, full_value, time >= %1 FROM dev_data WHERE "
                         "port=1400 AND reg_addr < 32")
                     .arg(before)),
        QStringLiteral("30|v-0002|0002|1;31|v-|NULL|1"));
    QCOMPARE(db->getRegisterData(1400, 30, 15),
        (Image {{30, 2}, {31, 0}, {32, 0xffff}, {33, 0xff00}, {34, 0}, {35, 0xab00}, {36, 0x0102},
            {37, 0x0304}, {38, 0x1122}, {39, 0x3344}, {40, 0x5566}, {41, 0x7788}, {42, 0}, {43, 0},
            {44, 0}}));
    QCOMPARE(db->getRegisterData(1400, 37, 2), (Image {{37, 0}, {38, 0x1122}})); // starts before
    QCOMPARE(db->getRegisterData(1400, 38, 2), (Image {{38, 0x1122}, {39, 0x3344}})); // cut
    QCOMPARE(db->getRegisterData(1401, 30, 1), (Image {{30, 0}}));
    QStringList values;
    for (const DB::SDbDevRegDataInfo& info : db->getRegistersData(idOf("i1")))
        values << info.value;
    QCOMPARE(values.join(' '),
        QStringLiteral("2 - -1099511627776 - 171 16909060 1234605616436508552 258"));

    const auto param = [this](const QString& devEui, uint regAddr) {
        const DB::SDbDevRegParam p = db->getRegisterParam(devEui, regAddr);
        return QVariantList({p.regAddr, p.startValue, p.gratingPeriod, p.unit});
    };
    QCOMPARE(param("i1", 34), QVariantList({34u, -40.5, 0.1, "°C"}));
    QCOMPARE(param("i1", 33), QVariantList({0u, 0.0, 1.0, QString()}));
    QCOMPARE(param("I1", 34), QVariantList({0u, 0.0, 1.0, QString()}));

    db->updateRegInfo({idOf("i1"), {{34, 5.0, 2.5, "K"}}});
    QCOMPARE(param("i1", 34), QVariantList({34u, 5.0, 2.5, "K"}));
    QCOMPARE(sql("SELECT unit FROM dev_data WHERE reg_addr=34 AND port=1400"), QStringLiteral("K"));
}

// Worker threads register, write and read at once, each on its own port, against one file.
void TestDataBaseHandler::concurrentCallsFromSeveralThreads()
{
    const int connectionsBefore = QSqlDatabase::connectionNames().size();
    QAtomicInt failures = 0;
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([this, t, &failures] {
            for (quint16 i = 0; i < 15; ++i) {
                const QString devEui = QStringLiteral("m%1-%2").arg(t).arg(i);
                const quint16 addr = 2 * i;
                failures += !add(devEui, 1600 + t, addr, {entry(0, 32)}, devEui).isEmpty();
                const QString value = QString::number(0x10000 + i, 16).rightJustified(8, '0');
                db->saveRegisterData(dataSet(devEui, addr, {{0, value}}));
                failures += db->getRegisterData(1600 + t, addr, 2)
                        != Image {{addr, 1}, {quint16(addr + 1), i}}
                    || db->getDevices(devEui).isEmpty();
            }
        });
        threads.last()->start();
    }
    for (QThread* thread : threads)
        QVERIFY(thread->wait(60000));
    qDeleteAll(threads);

    QCOMPARE(failures.loadRelaxed(), 0);
    QCOMPARE(sql("SELECT COUNT(full_value) FROM dev_data WHERE port BETWEEN 1600 AND 1603"),
        QStringLiteral("60"));
    // An ended thread lets its connection go once its thread-local data is destroyed.
    QTRY_COMPARE(QSqlDatabase::connectionNames().size(), connectionsBefore);
}

void TestDataBaseHandler::valueTexts_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("expected");

    QTest::newRow("int16 negative") << "integer" << QVariant("FFFE") << 16 << "-2";
    QTest::newRow("int8 reads two bytes") << "integer" << QVariant("7f") << 8 << "32512";
    QTest::newRow("int32 negative") << "integer" << QVariant("FFFFFFFE") << 32 << "-2";
    QTest::newRow("int64 min") << "integer" << QVariant("8000000000000000") << 64
                               << "-9223372036854775808";
    QTest::newRow("int16 extra bytes ignored") << "integer" << QVariant("0001FFFF") << 16 << "1";
    QTest::newRow("int null") << "integer" << QVariant() << 16 << "-";
    QTest::newRow("uint64 max") << "uinteger" << QVariant("FFFFFFFFFFFFFFFF") << 64
                                << "18446744073709551615";
    QTest::newRow("text stops at NUL")
        << "text" << QVariant(QString::fromLatin1("AB\0C", 4)) << 32 << "AB";
    QTest::newRow("text null") << "text" << QVariant() << 24 << "-";
    QTest::newRow("boolean") << "boolean" << QVariant("01") << 8 << "-";
}

void TestDataBaseHandler::valueTexts()
{
    QFETCH(QString, dataType);
    QFETCH(QVariant, value);
    QFETCH(int, bitSize);
    QTEST(regValueToString(dataType, value, bitSize), "expected");
}

QTEST_GUILESS_MAIN(TestDataBaseHandler)
#include "tst_databasehandler.moc"
