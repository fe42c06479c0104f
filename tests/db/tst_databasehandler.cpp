#include "dbtestfixture.h"

#include <QtTest>

// Registration, lookup and deletion of devices, and the register values they store, seen through
// the handler's operations and the rows of the real file.
class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void registrationWritesDeviceRow();
    void registrationWritesOneRowPerEntry();
    void registrationRefusesUsedRegister();
    void sameLayoutOnAnotherPortIsAccepted();
    void registrationRefusesKnownDevEui_data();
    void registrationRefusesKnownDevEui();
    void secondEntryAtOneAddressIsSkipped();
    void failedRegistrationLeavesNothing();
    void quotesInValuesAreData();
    void rowWithoutAddressUsesRegistersFromZero();
    void lastFreeRegister_data();
    void lastFreeRegister();
    void deletionRemovesRowsAndFreesRegisters();

    void devicesAreOrderedByName();
    void devicesFilter_data();
    void devicesFilter();
    void deviceFieldsAreReadBack();
    void registeredDevicesAreUpperCase();
    void unknownDevEuiIsLoggedWithTheCallersText_data();
    void unknownDevEuiIsLoggedWithTheCallersText();

    void uplinkWritesValueFullValueAndTime();
    void emptyFullValueIsStoredAsNull();
    void laterRewriteOfOneRegisterWins();
    void uplinkIsStoredWholeOrNotAtAll();
    void emptyDataSetIsLogged();
    void registerImage_data();
    void registerImage();
    void registerImageKeysWrapPast65535();
    void restartKeepsValues();
    void registerParam_data();
    void registerParam();
    void scalingUpdateReachesFileAndLookup();
    void registersDataForTheWebInterface();
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

void TestDataBaseHandler::registrationWritesDeviceRow()
{
    QCOMPARE(fixture.registerDevice("a1", 1000, 5, {}, "Meter"), QString("accepted"));

    QCOMPARE(fixture.column("SELECT name FROM devices"), QVariantList {"Meter"});
    QCOMPARE(fixture.column("SELECT app_eui FROM devices"), QVariantList {"70b3d5"});
    QCOMPARE(fixture.column("SELECT dev_eui FROM devices"), QVariantList {"a1"});
    QCOMPARE(fixture.column("SELECT port FROM devices"), QVariantList {1000});
    QCOMPARE(fixture.column("SELECT start_addr FROM devices"), QVariantList {5});
    QCOMPARE(fixture.value("SELECT device FROM devices").toUInt(), fixture.deviceId("a1"));
}

void TestDataBaseHandler::registrationWritesOneRowPerEntry()
{
    const REGS::SRegisterInfo scaled {"temp", 1, 4, 32, "integer", -40.5, 0.1, "°C"};
    QCOMPARE(fixture.registerDevice("a1", 1000, 10, {registerEntry(0, 16), scaled}),
        QString("accepted"));

    const QString row = "SELECT %1 FROM dev_data WHERE reg_addr = 14";
    QCOMPARE(
        fixture.column("SELECT reg_addr FROM dev_data ORDER BY reg_addr"), (QVariantList {10, 14}));
    QCOMPARE(fixture.value(row.arg("device")).toUInt(), fixture.deviceId("a1"));
    QCOMPARE(fixture.value(row.arg("port")), QVariant(1000));
    QCOMPARE(fixture.value(row.arg("start_value")), QVariant(-40.5));
    QCOMPARE(fixture.value(row.arg("grating_period")), QVariant(0.1));
    QCOMPARE(fixture.value(row.arg("bit_size")), QVariant(32.0));
    QCOMPARE(fixture.value(row.arg("data_type")), QVariant("integer"));
    QCOMPARE(fixture.value(row.arg("name")), QVariant("temp"));
    QCOMPARE(fixture.value(row.arg("unit")), QVariant("°C"));
    QCOMPARE(fixture.value(row.arg("parent")), QVariant(1));
    QCOMPARE(fixture.value(row.arg("source")), QVariant(1));
    QVERIFY(fixture.value(row.arg("full_value")).isNull());
}

void TestDataBaseHandler::registrationRefusesUsedRegister()
{
    QCOMPARE(fixture.registerDevice("b1", 1100, 0, {registerEntry(12, 16)}), QString("accepted"));

    QCOMPARE(fixture.registerDevice("b2", 1100, 0, {registerEntry(11, 32)}),
        QString("регистр 12 на порту 1100 уже используется другим устройством"));
    QTRY_VERIFY(fixture.logged(
        "ERROR: [CDataBaseHandler::registerNewDevice] Register [12] is already used! Port 1100"));
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM devices WHERE dev_eui = 'b2'"), QVariant(0));
}

void TestDataBaseHandler::sameLayoutOnAnotherPortIsAccepted()
{
    QCOMPARE(fixture.registerDevice("b1", 1100, 0, {registerEntry(12, 16)}), QString("accepted"));

    QCOMPARE(fixture.registerDevice("b2", 1101, 0, {registerEntry(11, 32), registerEntry(12, 16)}),
        QString("accepted"));
}

void TestDataBaseHandler::registrationRefusesKnownDevEui_data()
{
    QTest::addColumn<QString>("secondDevEui");
    QTest::addColumn<QString>("expected");

    QTest::newRow("same EUI") << "b2"
                              << "устройство b2 уже зарегистрировано";
    QTest::newRow("other letter case") << "B2"
                                       << "accepted";
}

void TestDataBaseHandler::registrationRefusesKnownDevEui()
{
    QFETCH(QString, secondDevEui);
    QCOMPARE(fixture.registerDevice("b2", 1100, 0, {registerEntry(0, 16)}), QString("accepted"));

    QTEST(fixture.registerDevice(secondDevEui, 1101, 0, {registerEntry(0, 16)}), "expected");
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
    QTRY_VERIFY(fixture.logged("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]"));
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM devices"), QVariant(0));
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM dev_data"), QVariant(0));

    QCOMPARE(fixture.exec("DROP TRIGGER fail_register"), QString());
    QCOMPARE(fixture.registerDevice("f1", 1250, 4240, entries), QString("accepted"));
}

void TestDataBaseHandler::quotesInValuesAreData()
{
    const QString devEui = QStringLiteral("c0'); DROP TABLE devices; --\"");

    QCOMPARE(fixture.registerDevice(devEui, 1103, 0, {registerEntry(0, 16)}), QString("accepted"));
    QCOMPARE(fixture.column("SELECT dev_eui FROM devices"), QVariantList {devEui});
    QVERIFY(fixture.deviceId(devEui) > 0);
}

// Only other software writes such rows; the usage set counts them from register 0, as reading
// a NULL address as a number does.
void TestDataBaseHandler::rowWithoutAddressUsesRegistersFromZero()
{
    QCOMPARE(fixture.exec("INSERT INTO dev_data (device, port, reg_addr, bit_size) VALUES "
                          "(99, 1500, NULL, 32)"),
        QString());
    QVERIFY(fixture.restart());

    QCOMPARE(fixture.handler()->getLastFreeRegisterForPort(1500), 2);
    QCOMPARE(fixture.registerDevice("n1", 1500, 1, {registerEntry(0, 16)}),
        QString("регистр 1 на порту 1500 уже используется другим устройством"));
}

void TestDataBaseHandler::lastFreeRegister_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<int>("startAddr");
    QTest::addColumn<int>("regOffset");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<int>("expected");

    QTest::newRow("port without devices") << false << 0 << 0 << 0 << 0;
    QTest::newRow("32 bits at offset 10 from 100") << true << 100 << 10 << 32 << 112;
    QTest::newRow("64 bits at 0") << true << 0 << 0 << 64 << 4;
    QTest::newRow("16 bits at 65535") << true << 65535 << 0 << 16 << 65536;
    // Registers 65535 and 0 are used; the highest used address is still 65535.
    QTest::newRow("32 bits wrapping past 65535") << true << 65535 << 0 << 32 << 65536;
}

void TestDataBaseHandler::lastFreeRegister()
{
    QFETCH(bool, registered);
    QFETCH(int, startAddr);
    QFETCH(int, regOffset);
    QFETCH(int, bitSize);
    if (registered) {
        QCOMPARE(fixture.registerDevice("g1", 1300, startAddr, {registerEntry(regOffset, bitSize)}),
            QString("accepted"));
    }

    QTEST(fixture.handler()->getLastFreeRegisterForPort(1300), "expected");
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

void TestDataBaseHandler::devicesAreOrderedByName()
{
    const QStringList names = {"zeta", "Alpha", "mid", "alpha2"};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(fixture.registerDevice(QString("h%1").arg(i), 1350 + i, 0, {}, names[i]),
            QString("accepted"));

    QStringList listed;
    for (const DB::SDeviceRegMapDescription& device : fixture.handler()->getDevices(QString()))
        listed.append(device.name);

    QCOMPARE(listed, (QStringList {"Alpha", "alpha2", "mid", "zeta"}));
}

void TestDataBaseHandler::devicesFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("part of names") << "-ord" << QStringList {"Alpha-ord", "mid-ord"};
    QTest::newRow("letter case ignored") << "ALPHA" << QStringList {"Alpha-ord"};
    QTest::newRow("percent sign matches itself") << "%" << QStringList {"100% sure"};
    QTest::newRow("underscore matches itself") << "a_b" << QStringList {"a_b"};
    QTest::newRow("quotes") << "'Brien \"" << QStringList {"O'Brien \"q\""};
    QTest::newRow("backslash") << "\\x" << QStringList {"c:\\x"};
    QTest::newRow("no match") << "nothing" << QStringList {};
}

void TestDataBaseHandler::devicesFilter()
{
    QFETCH(QString, filter);
    const QStringList names = {
        "mid-ord", "Alpha-ord", "100% sure", "100 percent", "a_b", "axb", "O'Brien \"q\"", "c:\\x"};
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(fixture.registerDevice(QString("h%1").arg(i), 1350 + i, 0, {}, names[i]),
            QString("accepted"));

    QStringList listed;
    for (const DB::SDeviceRegMapDescription& device : fixture.handler()->getDevices(filter))
        listed.append(device.name);

    QTEST(listed, "expected");
}

void TestDataBaseHandler::deviceFieldsAreReadBack()
{
    QCOMPARE(fixture.registerDevice("h2", 1352, 40, {registerEntry(0, 16)}, "Meter"),
        QString("accepted"));

    const QList<DB::SDeviceRegMapDescription> devices = fixture.handler()->getDevices("Meter");

    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0].devEui, QString("h2"));
    QCOMPARE(devices[0].appEui, QString("70b3d5"));
    QCOMPARE(devices[0].port, 1352);
    QCOMPARE(devices[0].startAddr, 40);
    QCOMPARE(uint(devices[0].id), fixture.deviceId("h2"));
    QVERIFY(devices[0].registers.isEmpty());
}

void TestDataBaseHandler::registeredDevicesAreUpperCase()
{
    QCOMPARE(fixture.registerDevice("abcdef0123456789", 1000, 0, {}), QString("accepted"));

    QCOMPARE(fixture.handler()->getRegisteredDevices(), QStringList {"ABCDEF0123456789"});
}

// The id lookup is shared; each caller keeps its own log text for a DevEUI it does not know.
void TestDataBaseHandler::unknownDevEuiIsLoggedWithTheCallersText_data()
{
    QTest::addColumn<bool>("fromUplink");
    QTest::addColumn<QString>("expected");

    QTest::newRow("device id") << false
                               << "ERROR: [CDataBaseHandler::registerNewDevice] Device [x9] is not "
                                  "created!";
    QTest::newRow("uplink") << true
                            << "ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [x9]";
}

void TestDataBaseHandler::unknownDevEuiIsLoggedWithTheCallersText()
{
    QFETCH(bool, fromUplink);
    QFETCH(QString, expected);

    if (fromUplink) {
        fixture.storeValue("x9", 0, 0, "0001");
    } else {
        uint id = 1;
        QVERIFY(!fixture.handler()->getDeviceId("x9", id));
        QCOMPARE(id, 0u);
    }

    QTRY_VERIFY(fixture.logged(expected));
}

void TestDataBaseHandler::uplinkWritesValueFullValueAndTime()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(0, 32)}), QString("accepted"));
    const qint64 before = QDateTime::currentMSecsSinceEpoch();

    fixture.storeValue("i1", 30, 0, "0a0b0c0d");

    QCOMPARE(fixture.value("SELECT value FROM dev_data"), QVariant("v-0a0b0c0d"));
    QCOMPARE(fixture.value("SELECT full_value FROM dev_data"), QVariant("0a0b0c0d"));
    QVERIFY(fixture.value("SELECT time FROM dev_data").toLongLong() >= before);
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 2), (QVector<quint16> {0x0a0b, 0x0c0d}));
}

void TestDataBaseHandler::emptyFullValueIsStoredAsNull()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(0, 16)}), QString("accepted"));
    fixture.storeValue("i1", 30, 0, "0001");

    fixture.storeValue("i1", 30, 0, "");

    QVERIFY(fixture.value("SELECT full_value FROM dev_data").isNull());
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 1), QVector<quint16> {0});
}

void TestDataBaseHandler::laterRewriteOfOneRegisterWins()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(0, 16)}), QString("accepted"));
    DB::SDbDeviceRegDataSet dataSet {"i1", 30, {}, {}};
    dataSet.appendRewriteData("1", 0, "0001");
    dataSet.appendRewriteData("2", 0, "0002");

    fixture.handler()->saveRegisterData(dataSet);

    QCOMPARE(fixture.value("SELECT full_value FROM dev_data"), QVariant("0002"));
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 1), QVector<quint16> {2});
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

    QTRY_VERIFY(
        fixture.logged("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request [2]"));
    QCOMPARE(fixture.value("SELECT COUNT(full_value) FROM dev_data"), QVariant(0));
    QCOMPARE(fixture.handler()->getRegisterWords(1400, 30, 2), (QVector<quint16> {0, 0}));
}

void TestDataBaseHandler::emptyDataSetIsLogged()
{
    fixture.handler()->saveRegisterData({"i1", 30, {}, {}});

    QTRY_VERIFY(fixture.logged("INFO: [CDataBaseHandler::saveRegisterData] Empty input data"));
}

// One device with one entry at 30; the words a Modbus read of [first, first + count) gets.
void TestDataBaseHandler::registerImage_data()
{
    QTest::addColumn<int>("startAddr");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("fullValue");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<quint16>>("expected");

    QTest::newRow("16 bits") << 30 << 16 << "0001" << 30 << 1 << QVector<quint16> {0x0001};
    QTest::newRow("32 bits") << 30 << 32 << "01020304" << 30 << 2
                             << QVector<quint16> {0x0102, 0x0304};
    QTest::newRow("64 bits") << 30 << 64 << "1122334455667788" << 30 << 4
                             << QVector<quint16> {0x1122, 0x3344, 0x5566, 0x7788};
    QTest::newRow("24 bits fill the high byte")
        << 30 << 24 << "ffffff" << 30 << 2 << QVector<quint16> {0xffff, 0xff00};
    QTest::newRow("8 bits in the high byte")
        << 30 << 8 << "ab" << 30 << 1 << QVector<quint16> {0xab00};
    QTest::newRow("value of the wrong size")
        << 30 << 32 << "0102" << 30 << 2 << QVector<quint16> {0, 0};
    QTest::newRow("never written") << 30 << 16 << "" << 30 << 1 << QVector<quint16> {0};
    QTest::newRow("registers around read 0")
        << 30 << 16 << "0001" << 29 << 3 << QVector<quint16> {0, 1, 0};
    QTest::newRow("read starting inside the value")
        << 30 << 32 << "01020304" << 31 << 1 << QVector<quint16> {0};
    QTest::newRow("read ending inside the value")
        << 30 << 32 << "01020304" << 29 << 2 << QVector<quint16> {0, 0x0102};
    QTest::newRow("value running past 65535")
        << 65535 << 32 << "aabbccdd" << 65534 << 4 << QVector<quint16> {0, 0xaabb, 0xccdd, 0};
    QTest::newRow("count 0") << 30 << 16 << "0001" << 30 << 0 << QVector<quint16> {};
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

void TestDataBaseHandler::registerImageKeysWrapPast65535()
{
    QCOMPARE(
        fixture.registerDevice("e1", 1200, 65535, {registerEntry(0, 32)}), QString("accepted"));
    fixture.storeValue("e1", 65535, 0, "aabbccdd");

    const QMap<quint16, quint16> image = fixture.handler()->getRegisterData(1200, 65535, 2);

    QCOMPARE(image, (QMap<quint16, quint16> {{65535, 0xaabb}, {0, 0xccdd}}));
}

void TestDataBaseHandler::restartKeepsValues()
{
    QCOMPARE(fixture.registerDevice("a1", 1000, 5, {registerEntry(0, 32)}), QString("accepted"));
    fixture.storeValue("a1", 5, 0, "0a0b0c0d");

    QVERIFY(fixture.restart());

    QCOMPARE(fixture.handler()->getRegisterWords(1000, 5, 2), (QVector<quint16> {0x0a0b, 0x0c0d}));
    QCOMPARE(fixture.handler()->getRegisteredDevices(), QStringList {"A1"});
}

void TestDataBaseHandler::registerParam_data()
{
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<uint>("regAddr");
    QTest::addColumn<uint>("expectedAddr");
    QTest::addColumn<double>("expectedStart");
    QTest::addColumn<double>("expectedFactor");
    QTest::addColumn<QString>("expectedUnit");

    QTest::newRow("first register of a row") << "i1" << 34u << 34u << -40.5 << 0.1 << "°C";
    QTest::newRow("second register of a row") << "i1" << 35u << 0u << 0.0 << 1.0 << "";
    QTest::newRow("no row") << "i1" << 33u << 0u << 0.0 << 1.0 << "";
    QTest::newRow("EUI in other letter case") << "I1" << 34u << 0u << 0.0 << 1.0 << "";
}

void TestDataBaseHandler::registerParam()
{
    QFETCH(QString, devEui);
    QFETCH(uint, regAddr);
    const REGS::SRegisterInfo scaled {"t", 0, 4, 32, "integer", -40.5, 0.1, "°C"};
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {scaled}), QString("accepted"));

    const DB::SDbDevRegParam param = fixture.handler()->getRegisterParam(devEui, regAddr);

    QTEST(param.regAddr, "expectedAddr");
    QTEST(param.startValue, "expectedStart");
    QTEST(param.gratingPeriod, "expectedFactor");
    QTEST(param.unit, "expectedUnit");
}

void TestDataBaseHandler::scalingUpdateReachesFileAndLookup()
{
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {registerEntry(4, 16)}), QString("accepted"));

    fixture.handler()->updateRegInfo({fixture.deviceId("i1"), {{34, 5.0, 2.5, "K"}}});

    QCOMPARE(fixture.value("SELECT unit FROM dev_data"), QVariant("K"));
    QCOMPARE(fixture.value("SELECT grating_period FROM dev_data"), QVariant(2.5));
    const DB::SDbDevRegParam param = fixture.handler()->getRegisterParam("i1", 34);
    QCOMPARE(param.startValue, 5.0);
    QCOMPARE(param.gratingPeriod, 2.5);
    QCOMPARE(param.unit, QString("K"));
}

void TestDataBaseHandler::registersDataForTheWebInterface()
{
    const REGS::SRegisterInfo scaled {"temp", 1, 2, 16, "integer", -40.0, 0.5, "°C"};
    QCOMPARE(fixture.registerDevice("i1", 1400, 30, {scaled, registerEntry(0, 16)}),
        QString("accepted"));
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    fixture.storeValue("i1", 30, 2, "fffe");

    const QList<DB::SDbDevRegDataInfo> rows
        = fixture.handler()->getRegistersData(fixture.deviceId("i1"));

    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].regAddr, 30); // ordered by address
    QCOMPARE(rows[0].value, QString("-"));
    QCOMPARE(rows[0].time, 0u);
    QCOMPARE(rows[1].regAddr, 32);
    QCOMPARE(rows[1].startValue, -40);
    QCOMPARE(rows[1].gratingPeriod, 0.5);
    QCOMPARE(rows[1].bitSize, 16);
    QCOMPARE(rows[1].dataType, QString("integer"));
    QCOMPARE(rows[1].value, QString("-2"));
    QVERIFY(rows[1].time >= quint64(before));
    QCOMPARE(rows[1].name, QString("temp"));
    QCOMPARE(rows[1].unit, QString("°C"));
    QCOMPARE(rows[1].source, 1);
}

void TestDataBaseHandler::valueTexts_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("expected");

    QTest::newRow("int16 negative") << "integer" << QVariant("FFFE") << 16 << "-2";
    QTest::newRow("int8 reads two bytes") << "integer" << QVariant("7f") << 8 << "32512";
    QTest::newRow("int24 reads eight bytes")
        << "integer" << QVariant("000001") << 24 << "1099511627776";
    QTest::newRow("int32 negative") << "integer" << QVariant("FFFFFFFE") << 32 << "-2";
    QTest::newRow("int64 min") << "integer" << QVariant("8000000000000000") << 64
                               << "-9223372036854775808";
    QTest::newRow("int16 extra bytes ignored") << "integer" << QVariant("0001FFFF") << 16 << "1";
    QTest::newRow("int null") << "integer" << QVariant() << 16 << "-";
    QTest::newRow("uint8") << "uinteger" << QVariant("00FF") << 8 << "255";
    QTest::newRow("uint64 max") << "uinteger" << QVariant("FFFFFFFFFFFFFFFF") << 64
                                << "18446744073709551615";
    QTest::newRow("uint beyond 64 bits")
        << "uinteger" << QVariant("1FFFFFFFFFFFFFFFF") << 64 << "0";
    QTest::newRow("text stops at NUL")
        << "text" << QVariant(QString::fromLatin1("AB\0C", 4)) << 32 << "AB";
    QTest::newRow("text null") << "text" << QVariant() << 24 << "-";
    QTest::newRow("boolean") << "boolean" << QVariant("01") << 8 << "-";
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
                const quint16 addr = 2 * i;
                const QString registered = fixture.registerDevice(
                    devEui, 1600 + t, addr, {registerEntry(0, 32)}, devEui);
                if (registered != "accepted")
                    fail(devEui + " registration: " + registered);
                fixture.storeValue(devEui, addr, 0, QString("0001%1").arg(i, 4, 16, QChar('0')));
                const QVector<quint16> words
                    = fixture.handler()->getRegisterWords(1600 + t, addr, 2);
                if (words != QVector<quint16> {1, i})
                    fail(devEui + " read back a wrong image");
                if (fixture.handler()->getDevices(devEui).size() != 1)
                    fail(devEui + " is not listed");
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
