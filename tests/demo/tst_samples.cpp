#include "apimessages.h"
#include "cdevicefile.h"
#include "clogfile.h"
#include "cpayloaddecoder.h"
#include "sdevicetemplate.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QString SAMPLES = QStringLiteral(TARVEX_SOURCE_DIR "/samples");

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

REGS::SDeviceTemplate templateFor(const QString& appEui)
{
    for (const QString& name : QDir(SAMPLES + "/deviceFolder").entryList({"*.json"})) {
        const REGS::SDeviceTemplate parsed(readObject(SAMPLES + "/deviceFolder/" + name));
        if (parsed.appEui == appEui)
            return parsed;
    }
    return {};
}

} // namespace

// The sample device templates and the simulator's sample devices fit each other: every simulated
// device has a template, which loads quietly, and its uplinks decode by it without a warning.
class TestSamples : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void simulatedUplinksDecodeWithoutAWarning_data();
    void simulatedUplinksDecodeWithoutAWarning();
};

void TestSamples::initTestCase()
{
    // A log object without a file: entries reach addLogSignal only.
    QVERIFY(CLogFile::getInstance(QString(), QString()));
}

void TestSamples::simulatedUplinksDecodeWithoutAWarning_data()
{
    QTest::addColumn<int>("deviceIndex");

    CDeviceFile deviceFile;
    QVERIFY2(deviceFile.load(SAMPLES + "/ns-sim-devices.json"), qPrintable(deviceFile.errorText()));
    const QList<CSimulatedDevice> devices = deviceFile.devices();
    for (int i = 0; i < devices.size(); ++i)
        QTest::newRow(qPrintable(devices[i].identity().name)) << i;
}

// One uplink per packet type (a device sends its packet types in turn).
void TestSamples::simulatedUplinksDecodeWithoutAWarning()
{
    QFETCH(int, deviceIndex);

    CDeviceFile deviceFile;
    QVERIFY(deviceFile.load(SAMPLES + "/ns-sim-devices.json"));
    CSimulatedDevice device = deviceFile.devices().at(deviceIndex);
    QSignalSpy logEntries(CLogFile::getInstance(), &CLogFile::addLogSignal);
    const REGS::SDeviceTemplate deviceTemplate = templateFor(device.identity().appEui);
    QVERIFY2(deviceTemplate.valid, "a sample template has the device's AppEUI");
    DB::SDeviceRegMapDescription description;
    description.devEui = device.identity().devEui;
    description.appEui = device.identity().appEui;
    const auto noScaling = [](const QString&, uint) { return DB::SDbDevRegParam(); };

    QRandomGenerator random(1);
    for (int i = 0; i < deviceTemplate.packets.size(); ++i) {
        const API::SApiDeviceData uplink = API::readUplink(
            device.nextUplink(QDateTime::currentMSecsSinceEpoch(), deviceFile.gatewayId(), random));
        DB::SDbDeviceRegDataSet dataSet;
        QVERIFY(CPayloadDecoder::decode(uplink, description, deviceTemplate, noScaling, dataSet));
    }
    QCoreApplication::processEvents();
    QCOMPARE(logEntries.count(), 0);
}

QTEST_GUILESS_MAIN(TestSamples)
#include "tst_samples.moc"
