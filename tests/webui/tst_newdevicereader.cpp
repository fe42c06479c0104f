#include "newdevicereader.h"
#include "webtexts.h"

#include <QJsonDocument>
#include <QtTest>

class TestNewDeviceReader : public QObject
{
    Q_OBJECT

private slots:
    void checksRanges_data();
    void checksRanges();
};

namespace {
QString read(const QByteArray& body, DB::SDeviceRegMapDescription& device)
{
    return readNewDevice(QJsonDocument::fromJson(body).object(), device);
}

void addRow(const char* name, const char* body, const QString& error)
{
    QTest::newRow(name) << QByteArray(body) << error;
}
} // namespace

// An empty error means the body is accepted.
void TestNewDeviceReader::checksRanges_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");

    const QString ok;
    addRow("port 0", R"({"port": 0, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        WebTexts::BAD_TCP_PORT);
    addRow("port 1", R"({"port": 1, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        ok);
    addRow("port 65535", R"({"port": 65535, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        ok);
    addRow("port 65536", R"({"port": 65536, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        WebTexts::BAD_TCP_PORT);
    addRow("startAddr 65536", R"({"port": 502, "startAddr": 65536, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        WebTexts::BAD_START_ADDR);
    addRow("startAddr negative", R"({"port": 502, "startAddr": -1, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 16}]})",
        WebTexts::BAD_START_ADDR);
    addRow("bit size 0", R"({"port": 502, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 0}]})",
        WebTexts::BAD_REGISTER_BIT_SIZE);
    addRow("bit size 65", R"({"port": 502, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 0, "reg_bit_size": 65}]})",
        WebTexts::BAD_REGISTER_BIT_SIZE);
    addRow("offset negative", R"({"port": 502, "startAddr": 10, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": -1, "reg_bit_size": 16}]})",
        WebTexts::BAD_REGISTER_OFFSET);
    addRow("ends at 65535", R"({"port": 502, "startAddr": 65530, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 2, "reg_bit_size": 64}]})",
        ok);
    addRow("ends at 65536", R"({"port": 502, "startAddr": 65530, "devEui": "A", "app_eui": "B",
        "devRegisters": [{"reg_map_bias": 3, "reg_bit_size": 49}]})",
        WebTexts::REGISTER_BEYOND_MAP);
}

void TestNewDeviceReader::checksRanges()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, error);

    DB::SDeviceRegMapDescription device;
    QCOMPARE(read(body, device), error);
}

QTEST_GUILESS_MAIN(TestNewDeviceReader)
#include "tst_newdevicereader.moc"
