#include "cfakenetworkserver.h"
#include "freeport.h"
#include "sensorfixture.h"
#include "tarvexprocess.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace SensorFixture;

namespace {
const int UPLINK_INTERVAL_MS = 2;
// How long the service may take to stop once told to.
const int STOP_MS = 2000;
const int BROWSER_COUNT = 5;
} // namespace

// The service stopped by a signal while uplinks keep arriving and being stored.
class TestShutdown : public QObject
{
    Q_OBJECT
private slots:
    void stopsInOrderDuringUplinks_data();
    void stopsInOrderDuringUplinks();
    void stopsWithBrowsersConnected();
};

void TestShutdown::stopsInOrderDuringUplinks_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestShutdown::stopsInOrderDuringUplinks()
{
    QFETCH(int, signalNumber);

    QTemporaryDir dir;
    const quint16 modbusPort = freePort();
    QVERIFY(prepare(dir.path(), modbusPort));
    CFakeNetworkServer networkServer;
    QVERIFY(networkServer.listen());
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings(serverSettings(networkServer.url()));
    QVERIFY(tarvex.start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer.received("auth_req").size(), 1, WAIT_MS);

    quint16 battery = 1;
    QTimer uplinks;
    connect(&uplinks, &QTimer::timeout, [&] { networkServer.pushRx(uplink(battery++)); });
    uplinks.start(UPLINK_INTERVAL_MS);
    QTRY_VERIFY_WITH_TIMEOUT(!storedFullValue(dir.filePath("server.db"), 6).isEmpty(), WAIT_MS);

    tarvex.sendSignal(signalNumber);
    QTRY_COMPARE_WITH_TIMEOUT(tarvex.process().state(), QProcess::NotRunning, STOP_MS);
    uplinks.stop();
    QCOMPARE(tarvex.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvex.process().exitCode(), 0);
    QCOMPARE(integrityCheck(dir.filePath("server.db")), QString("ok"));
}

// Browsers keep their connections open between the page's polls; they must not hold the
// service up.
void TestShutdown::stopsWithBrowsersConnected()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir.path(), freePort()));
    CFakeNetworkServer networkServer;
    QVERIFY(networkServer.listen());
    const quint16 webPort = freePort();
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings(serverSettings(networkServer.url(), webPort));
    QVERIFY(tarvex.start());
    QTRY_COMPARE_WITH_TIMEOUT(networkServer.received("auth_req").size(), 1, WAIT_MS);

    std::vector<std::unique_ptr<QTcpSocket>> browsers;
    for (int i = 0; i < BROWSER_COUNT; ++i) {
        auto browser = std::make_unique<QTcpSocket>();
        browser->connectToHost(QHostAddress::LocalHost, webPort);
        QVERIFY(browser->waitForConnected(WAIT_MS));
        browser->write("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: keep-alive\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(browser->bytesAvailable() > 0, WAIT_MS);
        browsers.push_back(std::move(browser));
    }

    tarvex.sendSignal(SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(tarvex.process().state(), QProcess::NotRunning, STOP_MS);
    QCOMPARE(tarvex.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(tarvex.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestShutdown)
#include "tst_shutdown.moc"
