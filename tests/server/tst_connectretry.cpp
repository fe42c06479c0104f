#include "cconsolecatcher.h"
#include "cfakenetworkserver.h"
#include "cserverhandler.h"
#include "csettings.h"
#include "freeport.h"
#include "servertexts.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const int CONNECT_RETRY_MS = 200;
// Retries to watch while the requested server is down; each one could have gone elsewhere.
const int RETRIES = 3;
const int RETRIES_WAIT_MS = 20000;
const int LOGIN_WAIT_MS = 10000;

QString statusOf(const CServerHandler& client)
{
    return COMM::serverStatusText(client.getCurrentStatus());
}
} // namespace

// A connect request whose server cannot be reached is retried at that server, not at the one
// stored in settings.conf, until the server comes up.
class TestConnectRetry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void failedRequestRetriedAsAsked_data();
    void failedRequestRetriedAsAsked();

private:
    // The value of key ("section/name") as the file on disk has it: another QSettings object
    // in this process would answer from values not yet written.
    QString storedValue(const QString& key) const
    {
        QFile file(dir.filePath("settings.conf"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return QString();
        const QStringList parts = key.split('/');
        QString section;
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            if (line.startsWith('['))
                section = line.mid(1, line.indexOf(']') - 1);
            else if (section == parts.at(0) && line.startsWith(parts.at(1) + '='))
                return line.mid(parts.at(1).size() + 1);
        }
        return QString();
    }

    QTemporaryDir dir;
};

void TestConnectRetry::initTestCase()
{
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
}

void TestConnectRetry::failedRequestRetriedAsAsked_data()
{
    QTest::addColumn<bool>("onlineAtStored");
    QTest::newRow("fresh client") << false;
    QTest::newRow("online at the stored server") << true;
}

void TestConnectRetry::failedRequestRetriedAsAsked()
{
    QFETCH(bool, onlineAtStored);

    CFakeNetworkServer stored;
    QVERIFY(stored.listen());
    QSignalSpy storedConnections(&stored, &CFakeNetworkServer::clientConnected);
    CSettings::writeValue("server/address", stored.url().toString());
    CSettings::writeValue("server/login", "stored-user");
    CSettings::writeValue("server/password", "stored-secret");

    CServerHandler client;
    CServerHandler::STimings timings;
    timings.connectRetry = CONNECT_RETRY_MS;
    client.setTimings(timings);
    if (onlineAtStored) {
        // As at start-up: the connection comes from settings.conf.
        client.reconnect();
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(client), QString("ONLINE"), LOGIN_WAIT_MS);
    }
    const int connectionsBefore = storedConnections.count();

    const quint16 requestedPort = freePort();
    const QString requested = QString("ws://127.0.0.1:%1").arg(requestedPort);
    CConsoleCatcher catcher;
    client.connectSlot(requested, "new-user", "new-secret");
    const bool retried = QTest::qWaitFor(
        [&catcher]() { return catcher.count(ServerTexts::DISCONNECTED_RETRY) >= RETRIES; },
        RETRIES_WAIT_MS);
    QCOMPARE(storedConnections.count(), connectionsBefore);
    QCOMPARE(client.getLastAddr(), requested);
    QCOMPARE(client.getLastLogin(), QString("new-user"));
    QVERIFY(retried);

    CFakeNetworkServer requestedServer;
    QVERIFY(requestedServer.listen(requestedPort));
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(client), QString("ONLINE"), LOGIN_WAIT_MS);
    QCOMPARE(requestedServer.received("auth_req").last().message.value("login").toString(),
        QString("new-user"));
    QCOMPARE(storedConnections.count(), connectionsBefore);
    QCOMPARE(storedValue("server/address"), requested);
    QCOMPARE(storedValue("server/login"), QString("new-user"));
    QCOMPARE(storedValue("server/password"), QString("new-secret"));
}

QTEST_MAIN(TestConnectRetry)
#include "tst_connectretry.moc"
