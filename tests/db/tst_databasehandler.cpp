#include "dbtestfixture.h"

#include <QtTest>

// Registration, listing and deletion of devices, and the register values they store, seen through
// the handler's operations and the rows of the real file.
class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void usedRegisterIsRefusedOnItsPortOnly_data();
    void usedRegisterIsRefusedOnItsPortOnly();
    void secondEntryAtOneAddressIsSkipped();
    void failedRegistrationLeavesNothing();
    void lastFreeRegisterPastAWrappedEntry();
    void deletionRemovesRowsAndFreesRegisters();
    void devicesFilter_data();
    void devicesFilter();

    void uplinkIsStoredWholeOrNotAtAll();
    void emptyFullValueReadsZero();
    void registerImage_data();
    void registerImage();
    void registerParamIsFoundAtTheFirstRegisterOfARow();
    void valueTexts_data();
    void valueTexts();

    void concurrentCallsFromSeveralThreads();

private:
    CDbTestFixture fixture;
};

void TestDataBaseHandler::init()
{
    QVERIFY(fixture.start());
}

void TestDataBaseHandler::usedRegisterIsRefusedOnItsPortOnly_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected");

    QTest::newRow("same port") << 1100
                               << "регистр 12 на порту 1100 уже используется другим устройством";
    QTest::newRow("other port") << 1101 << "accepted";
}

// A 32-bit entry at 11 reaches register 12, which the first device uses.
void TestDataBaseHandler::usedRegisterIsRefusedOnItsPortOnly()
{
    QFETCH(int, port);
    QCOMPARE(fixture.registerDevice("b1", 1100, 0, {registerEntry(12, 16)}), QString("accepted"));

    QTEST(fixture.registerDevice("b2", port, 0, {registerEntry(11, 32)}), "expected");
}

void TestDataBaseHandler::secondEntryAtOneAddressIsSkipped()
{
    QCOMPARE(fixture.registerDevice("d1", 1150, 10, {registerEntry(10, 16), registerEntry(10, 32)}),
        QString("accepted"));

    QTRY_VERIFY(fixture.logged("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x0014] "
                               "for device [d1] already exist!"));
    QCOMPARE(fixture.column("SELECT bit_size FROM dev_data"), QVariantList {16.0});
}

// A failure inside SQLite, here at the third register row, leaves neither the device nor its
// first rows behind, so the same device can be registered once the cause is gone.
void TestDataBaseHandler::failedRegistrationLeavesNothing()
{
    QCOMPARE(fixture.exec("CREATE TRIGGER fail_register BEFORE INSERT ON dev_data WHEN "
                          "NEW.reg_addr = 4242 BEGIN SELECT RAISE(ABORT, 'injected'); END"),
        QString());
    const QList<REGS::SRegisterInfo> entries
        = {registerEntry(0, 16), registerEntry(1, 16), registerEntry(2, 16)};

    QCOMPARE(fixture.registerDevice("f1", 1250, 4240, entries), QString());
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM devices"), QVariant(0));
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM dev_data"), QVariant(0));

    QCOMPARE(fixture.exec("DROP TRIGGER fail_register"), QString());
    QCOMPARE(fixture.registerDevice("f1", 1250, 4240, entries), QString("accepted"));
}

// Registers 65535 and 0 are used; the highest used address is still 65535.
void TestDataBaseHandler::lastFreeRegisterPastAWrappedEntry()
{
    QCOMPARE(
        fixture.registerDevice("g1", 1300, 65535, {registerEntry(0, 32)}), QString("accepted"));

    QCOMPARE(fixture.handler()->getLastFreeRegisterForPort(1300), 65536);
}

void TestDataBaseHandler::deletionRemovesRowsAndFreesRegisters()
{
    QCOMPARE(fixture.registerDevice("e1", 1200, 7, {registerEntry(0, 32)}), QString("accepted"));
    QCOMPARE(fixture.registerDevice("e2", 1200, 20, {registerEntry(0, 16)}), QString("accepted"));
    fixture.storeValue("e1", 7, 0, "aabbccdd");

    QVERIFY(fixture.handler()->deleteDevice(fixture.deviceId("e1")));

    QCOMPARE(fixture.column("SELECT dev_eui FROM devices"), QVariantList {"e2"});
    QCOMPARE(fixture.column("SELECT reg_addr FROM dev_data"), QVariantList {20});
    QCOMPARE(fixture.handler()->getRegisterWords(1200, 7, 2), (QVector<quint16> {0, 0}));
    QCOMPARE(fixture.registerDevice("e3", 1200, 8, {registerEntry(0, 16)}), QString("accepted"));
}

void TestDataBaseHandler::devicesFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("none: all, by name") << ""
                                        << QStringList {"100 percent", "100% sure", "Alpha",
                                               "O'Brien \"q\"", "a_b", "axb", "c:\\x", "mid"};
    QTest::newRow("percent sign matches itself") << "%" << QStringList {"100% sure"};
    QTest::newRow("underscore matches itself") << "a_b" << QStringList {"a_b"};
    QTest::newRow("backslash matches itself") << "\\x" << QStringList {"c:\\x"};
    QTest::newRow("quotes") << "'Brien \"" << QStringList {"O'Brien \"q\""};
}

void TestDataBaseHandler::devicesFilter()
{
    QFETCH(QString, filter);
    const QStringList names
        = {"mid", "Alpha", "100% sure", "100 percent", "a_b", "axb", "O'Brien \"q\"", "c:\\x"};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(fixture.registerDevice(QString("h%1").arg(i), 1350 + i, 0, {}, names[i]),
            QString("accepted"));

    QStringList listed;
    for (const DB::SDeviceRegMapDescription& device : fixture.handler()->getDevices(filter))
        listed.append(device.name);

    QTEST(listed, "expected");
}

void TestDataBaseHandler::uplinkIsStoredWholeOrNotAtAll()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(0, 16), registerEntry(1, 16)}),
        QString("accepted"));
    QCOMPARE(fixture.exec("CREATE TRIGGER fail_update BEFORE UPDATE ON dev_data WHEN "
                          "NEW.full_value = 'dead' BEGIN SELECT RAISE(ABORT, 'injected'); END"),
        QString());
    DB::SDbDeviceRegDataSet dataSet {"i1", 30, {}, {}};
    dataSet.appendRewriteData("1", 0, "1111");
    dataSet.appendRewriteData("2", 1, "dead");

    fixture.handler()->saveRegisterData(dataSet);

    QCOMPARE(fixture.value("SELECT COUNT(full_value) FROM dev_data"), QVariant(0));
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 2), (QVector<quint16> {0, 0}));
}

void TestDataBaseHandler::emptyFullValueReadsZero()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(0, 16)}), QString("accepted"));
    fixture.storeValue("i1", 30, 0, "0001");

    fixture.storeValue("i1", 30, 0, "");

    QVERIFY(fixture.value("SELECT full_value FROM dev_data").isNull());
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 1), QVector<quint16> {0});
}

// One device with one entry; the words a Modbus read of [first, first + count) gets.
void TestDataBaseHandler::registerImage_data()
{
    QTest::addColumn<int>("startAddr");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("fullValue");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<quint16>>("expected");

    QTest::newRow("24 bits fill the high byte")
        << 30 << 24 << "ffffff" << 30 << 2 << QVector<quint16> {0xffff, 0xff00};
    QTest::newRow("8 bits in the high byte")
        << 30 << 8 << "ab" << 30 << 1 << QVector<quint16> {0xab00};
    QTest::newRow("value of the wrong size")
        << 30 << 32 << "0102" << 30 << 2 << QVector<quint16> {0, 0};
    QTest::newRow("value running past 65535")
        << 65535 << 32 << "aabbccdd" << 65534 << 4 << QVector<quint16> {0, 0xaabb, 0xccdd, 0};
}

void TestDataBaseHandler::registerImage()
{
    QFETCH(int, startAddr);
    QFETCH(int, bitSize);
    QFETCH(QString, fullValue);
    QFETCH(int, first);
    QFETCH(int, count);
    QCOMPARE(fixture.registerDevice("i1", 1400, startAddr, {registerEntry(0, bitSize)}),
        QString("accepted"));
    fixture.storeValue("i1", startAddr, 0, fullValue);

    QTEST(fixture.handler()->getRegisterWords(1400, first, count), "expected");
}

// The decoder asks for every register of a value; only the first one carries the scaling.
void TestDataBaseHandler::registerParamIsFoundAtTheFirstRegisterOfARow()
{
    const REGS::SRegisterInfo scaled {"t", 0, 4, 32, "integer", -40.5, 0.1, "°C"};
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {scaled}), QString("accepted"));

    const DB::SDbDevRegParam param = fixture.handler()->getRegisterParam("i1", 34);

    QCOMPARE(param.regAddr, 34u);
    QCOMPARE(param.startValue, -40.5);
    QCOMPARE(param.gratingPeriod, 0.1);
    QCOMPARE(param.unit, QString("°C"));
    QCOMPARE(fixture.handler()->getRegisterParam("i1", 35).regAddr, 0u);
}

void TestDataBaseHandler::valueTexts_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("expected");

    QTest::newRow("int16 negative") << "integer" << QVariant("FFFE") << 16 << "-2";
    QTest::newRow("int16 extra bytes ignored") << "integer" << QVariant("0001FFFF") << 16 << "1";
    QTest::newRow("int24 reads eight bytes")
        << "integer" << QVariant("000001") << 24 << "1099511627776";
    QTest::newRow("uint64 max") << "uinteger" << QVariant("FFFFFFFFFFFFFFFF") << 64
                                << "18446744073709551615";
    QTest::newRow("uint beyond 64 bits")
        << "uinteger" << QVariant("1FFFFFFFFFFFFFFFF") << 64 << "0";
    QTest::newRow("text stops at NUL")
        << "text" << QVariant(QString::fromLatin1("AB\0C", 4)) << 32 << "AB";
    QTest::newRow("unknown type") << "Integer" << QVariant("01") << 8 << "-";
}

void TestDataBaseHandler::valueTexts()
{
    QFETCH(QString, dataType);
    QFETCH(QVariant, value);
    QFETCH(int, bitSize);

    QTEST(regValueToString(dataType, value, bitSize), "expected");
}

// Worker threads register, write and read at once, each on its own port, against one file; every
// call gets its own answer and every row arrives.
void TestDataBaseHandler::concurrentCallsFromSeveralThreads()
{
    const int connectionsBefore = QSqlDatabase::connectionNames().size();
    QMutex failuresMutex;
    QStringList failures;
    const auto fail = [&](const QString& what) {
        QMutexLocker locker(&failuresMutex);
        failures.append(what);
    };
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([this, t, fail] {
            for (quint16 i = 0; i < 15; ++i) {
                const QString devEui = QStringLiteral("m%1-%2").arg(t).arg(i);
                const QString registered = fixture.registerDevice(
                    devEui, 1600 + t, 2 * i, {registerEntry(0, 32)}, devEui);
                if (registered != "accepted")
                    fail(devEui + " registration: " + registered);
                fixture.storeValue(devEui, 2 * i, 0, QString("0001%1").arg(i, 4, 16, QChar('0')));
                if (fixture.handler()->getRegisterWords(1600 + t, 2 * i, 2)
                    != QVector<quint16> {1, i})
                    fail(devEui + " read back a wrong image");
            }
        });
        threads.last()->start();
    }
    for (QThread* thread : threads)
        QVERIFY(thread->wait(120000));
    qDeleteAll(threads);

    QCOMPARE(failures, QStringList());
    QCOMPARE(fixture.value("SELECT COUNT(full_value) FROM dev_data"), QVariant(60));
    // An ended thread lets its connection go once its thread-local data is destroyed.
    QTRY_COMPARE(QSqlDatabase::connectionNames().size(), connectionsBefore);
}

QTEST_GUILESS_MAIN(TestDataBaseHandler)
#include "tst_databasehandler.moc"
