#include "cdevicefile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {
const QString DEV_EUI = QStringLiteral("54A0000000010001");
const QString APP_EUI = QStringLiteral("54A0000000000101");

// A device file with one valid device whose one packet has one field; rows change a part.
QJsonObject validField()
{
    return {{"size", 2}, {"type", "integer"}, {"endianness", "be"}, {"generator", "drift"},
        {"start", 215}, {"min", 150}, {"max", 300}, {"step", 3}};
}

QJsonObject validDevice(const QJsonObject& field = validField())
{
    return {{"devEui", DEV_EUI}, {"appEui", APP_EUI}, {"name", "Sensor"}, {"interval", 5},
        {"packets", QJsonArray {QJsonObject {{"type", 1}, {"fields", QJsonArray {field}}}}}};
}

QByteArray deviceFile(const QJsonArray& devices)
{
    return QJsonDocument(QJsonObject {{"devices", devices}}).toJson();
}

QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    object.insert(key, value);
    return object;
}

} // namespace

// The network-server simulator's device file: each error names the file and where in it. The
// demo test drives the simulator's protocol and uplinks through the service.
class TestNsSim : public QObject
{
    Q_OBJECT
private slots:
    void badDeviceFileIsNamedWithWhere_data();
    void badDeviceFileIsNamedWithWhere();
};

void TestNsSim::badDeviceFileIsNamedWithWhere_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // %1 stands for the file's name

    QTest::newRow("syntax error on line 3")
        << QByteArray("{\n \"devices\": [\n  {\"a\": 1,}\n]}") << "%1:3:11: not valid JSON: ";
    QTest::newRow("short devEui") << deviceFile({with(validDevice(), "devEui",
        "54A0")}) << "%1: device 1 (Sensor): \"devEui\" must be 16 hexadecimal digits";
    QTest::newRow("field of 3 bytes")
        << deviceFile({validDevice(with(validField(), "size", 3))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"size\" must be 1, 2, 4 or 8 (bytes)";
    QTest::newRow("start beyond max")
        << deviceFile({validDevice(with(validField(), "start", 301))})
        << "%1: device 1 (Sensor): packet 1, field 1: \"min\" <= \"start\" <= \"max\" must hold "
           "within the field's range -32768 to 32767";
}

void TestNsSim::badDeviceFileIsNamedWithWhere()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    CDeviceFile deviceFile;
    QVERIFY(!deviceFile.parse(content, "devices.json"));
    QVERIFY2(deviceFile.errorText().startsWith(expected.arg("devices.json")),
        qPrintable(deviceFile.errorText()));
}

QTEST_GUILESS_MAIN(TestNsSim)
#include "tst_nssim.moc"
