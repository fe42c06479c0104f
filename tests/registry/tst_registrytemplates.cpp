#include "modbustestfixture.h"

#include "calldevicehandler.h"

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
} // namespace

// The registry started with a device folder holding good, duplicate, broken and ignored files.
class tst_RegistryTemplates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loading();

private:
    QTemporaryDir dir;
    CAllDeviceHandler* registry = nullptr;
};

void tst_RegistryTemplates::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()) && QDir().mkpath("deviceFolder"));
    const QList<QPair<QString, QByteArray>> files
        = {{"a_first.json", templateJson("a1b2c3d4e5f60708", "First")},
            {"b_duplicate.json", templateJson("A1B2C3D4E5F60708", "Second")},
            {"c_broken.json",
                "{\n    \"app_eui\": \"0000000000000002\",\n    \"dev_type\" \"Broken\"\n}"},
            {"d_upper.JSON", templateJson("0000000000000003", "Upper")}, {"e_array.json", "[1, 2]"},
            {".hidden.json", templateJson("0000000000000004", "Hidden")},
            {"notes.txt", templateJson("0000000000000005", "Text")}};
    for (const auto& file : files) {
        QFile out("deviceFolder/" + file.first);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file.second) == file.second.size());
    }
    logged(QString()); // starts listening to the history log
    QVERIFY(CDataBaseHandler::getInstance()->init(dir.filePath("server.db")));
    registry = CAllDeviceHandler::getInstance();
    registry->init(dir.filePath("deviceFolder"), CDataBaseHandler::getInstance());
}

void tst_RegistryTemplates::loading()
{
    // The first file by name wins a duplicate app_eui; EUIs are kept upper case.
    const QMap<QString, REGS::SDeviceTemplate> templates = registry->getDeviceTemplates();
    QCOMPARE(templates.keys(), QStringList({"0000000000000003", "A1B2C3D4E5F60708"}));
    QCOMPARE(templates.value("A1B2C3D4E5F60708").devType, QString("First"));
    const QList<REGS::SDeviceTemplateInfo> infos = registry->getTemplateInfo();
    QCOMPARE(infos.size(), 2);
    QCOMPARE(infos.at(0).appEui + infos.at(0).devType, QString("0000000000000003Upper"));

    QTRY_COMPARE_WITH_TIMEOUT(logged("Device [A1B2C3D4E5F60708] already inited. Skip"), 1, WAIT_MS);
    QCOMPARE(logged("Device [A1B2C3D4E5F60708] inited SUCCESSULLY"), 1);
    QCOMPARE(logged(QString("ERROR: [CAllDeviceHandler] Invalid parsing JSON file [%1]: "
                            "error[missing name separator], row[53]")
                        .arg(dir.filePath("deviceFolder/c_broken.json"))),
        1);
    QCOMPARE(logged("0000000000000004") + logged("0000000000000005"), 0);
}

QTEST_GUILESS_MAIN(tst_RegistryTemplates)
#include "tst_registrytemplates.moc"
