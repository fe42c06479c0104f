#include "modbustestfixture.h"

#include "calldevicehandler.h"
#include "cconsolecatcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace ModbusTest;

namespace {
QByteArray templateJson(const QString& appEui, const QString& devType)
{
    return QString(R"({"app_eui": "%1", "dev_type": "%2", "device_packets": [{"packet_type": 1,
        "packet_size": 2, "packet_fields": [{"packet_bias": 1, "data_bit_bias": 0,
        "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 0, "reg_bit_bias": 0,
        "reg_bit_size": 16, "data_name": "Count"}]}]})")
        .arg(appEui, devType)
        .toUtf8();
}

struct STemplateFile
{
    QString name;
    QByteArray content;
};

// A payload of the packet of templateJson() counting 0x2a.
const QByteArray COUNT_2A = "012a";
} // namespace

// The registry started with a device folder holding good, duplicate, broken and ignored files.
class tst_RegistryTemplates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void filesLoaded_data();
    void filesLoaded();
    void firstFileByNameWinsADuplicateAppEui();
    void syntaxErrorNamesFileAndOffset();
    void templateInfoIsInAppEuiOrder();
    void loadedCountOnConsole();
    void uplinkOfAConfiguredDeviceIsStored();
    void uplinkOfAnUnconfiguredDeviceIsDropped();

private:
    QTemporaryDir dir;
    CAllDeviceHandler* registry = nullptr;
    std::unique_ptr<CConsoleCatcher> console;
};

void tst_RegistryTemplates::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QDir().mkpath("deviceFolder"));
    const QList<STemplateFile> files = {
        {"a_first.json", templateJson("a1b2c3d4e5f60708", "First")},
        {"b_duplicate.json", templateJson("A1B2C3D4E5F60708", "Second")},
        {"c_broken.json",
            "{\n    \"app_eui\": \"0000000000000002\",\n    \"dev_type\" \"Broken\"\n}"},
        {"d_upper.JSON", templateJson("0000000000000003", "Upper")},
        {"e_array.json", "[1, 2]"},
        {".hidden.json", templateJson("0000000000000004", "Hidden")},
        {"notes.txt", templateJson("0000000000000005", "Text")},
    };
    for (const STemplateFile& file : files) {
        QFile out("deviceFolder/" + file.name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file.content), qint64(file.content.size()));
    }
    logged(QString()); // starts listening to the history log
    console = std::make_unique<CConsoleCatcher>();
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    registry = CAllDeviceHandler::getInstance();
    registry->init(dir.filePath("deviceFolder"), CDataBaseHandler::getInstance());
}

void tst_RegistryTemplates::cleanupTestCase()
{
    console.reset();
}

void tst_RegistryTemplates::filesLoaded_data()
{
    QTest::addColumn<QString>("appEui");
    QTest::addColumn<bool>("loaded");

    QTest::newRow("lower-case app_eui, kept upper case") << "A1B2C3D4E5F60708" << true;
    QTest::newRow("upper-case extension") << "0000000000000003" << true;
    QTest::newRow("JSON syntax error") << "0000000000000002" << false;
    QTest::newRow("hidden file") << "0000000000000004" << false;
    QTest::newRow("not a .json file") << "0000000000000005" << false;
}

void tst_RegistryTemplates::filesLoaded()
{
    QFETCH(QString, appEui);
    QFETCH(bool, loaded);

    QCOMPARE(registry->getDeviceTemplates().contains(appEui), loaded);
}

void tst_RegistryTemplates::firstFileByNameWinsADuplicateAppEui()
{
    QCOMPARE(registry->getDeviceTemplates().value("A1B2C3D4E5F60708").devType, QString("First"));
    QTRY_COMPARE_WITH_TIMEOUT(logged("Device [A1B2C3D4E5F60708] inited SUCCESSULLY"), 1, WAIT_MS);
    QCOMPARE(logged("Device [A1B2C3D4E5F60708] already inited. Skip"), 1);
}

void tst_RegistryTemplates::syntaxErrorNamesFileAndOffset()
{
    QTRY_COMPARE_WITH_TIMEOUT(logged(QString("ERROR: [CAllDeviceHandler] Invalid parsing JSON "
                                             "file [%1]: error[missing name separator], row[53]")
                                         .arg(dir.filePath("deviceFolder/c_broken.json"))),
        1, WAIT_MS);
}

void tst_RegistryTemplates::templateInfoIsInAppEuiOrder()
{
    QStringList appEuis, devTypes;
    for (const REGS::SDeviceTemplateInfo& info : registry->getTemplateInfo()) {
        appEuis << info.appEui;
        devTypes << info.devType;
    }
    QCOMPARE(appEuis, QStringList({"0000000000000003", "A1B2C3D4E5F60708"}));
    QCOMPARE(devTypes, QStringList({"Upper", "First"}));
}

void tst_RegistryTemplates::loadedCountOnConsole()
{
    QCOMPARE(console->count("Device register templates loaded: 2"), 1);
}

void tst_RegistryTemplates::uplinkOfAConfiguredDeviceIsStored()
{
    const quint16 port = freePort();
    DB::SDeviceRegMapDescription description = device("C100000000000001", port, 0, {{0, 16}});
    description.appEui = "A1B2C3D4E5F60708";
    QString errorText;
    QVERIFY(CDataBaseHandler::getInstance()->registerNewDevice(description, errorText));
    registry->addNewDevice(description);
    QSignalSpy stored(registry, &CAllDeviceHandler::newDataForDevice);

    registry->newPacketReceivedSlot(uplink("C100000000000001", COUNT_2A));
    QCOMPARE(readFromDatabase(port, 0, 1), QVector<quint16>({0x002a}));
    QCOMPARE(stored.count(), 1);
    registry->removeDevice("C100000000000001");
}

void tst_RegistryTemplates::uplinkOfAnUnconfiguredDeviceIsDropped()
{
    QSignalSpy stored(registry, &CAllDeviceHandler::newDataForDevice);
    const int warnings = logged("WARNING");
    registry->newPacketReceivedSlot(uplink("C2000000000000FF", COUNT_2A));
    QCOMPARE(stored.count(), 0);
    // Delivers the entries posted to the log so far: a decoded uplink would have left one.
    QCoreApplication::sendPostedEvents(CLogFile::getInstance(), QEvent::MetaCall);
    QCOMPARE(logged("WARNING"), warnings);
}

QTEST_GUILESS_MAIN(tst_RegistryTemplates)
#include "tst_registrytemplates.moc"
