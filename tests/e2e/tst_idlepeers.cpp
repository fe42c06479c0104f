#include "cdatabasehandler.h"
#include "cfakenetworkserver.h"
#include "descriptorlimit.h"
#include "freeport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {
const int WAIT_MS = 15000;
// The limit distributions commonly give a service, and more idle peers than it allows.
const int DESCRIPTOR_LIMIT = 1024;
const int STALLED_PEERS = 100;
const int IDLE_PEERS = 1000;
// Peers holding half a request are closed after 30 s; the bound allows for a loaded machine.
const int STALLED_CLOSE_WAIT_MS = 45000;
const int PEERS_PER_PAUSE = 10;
const int PAUSE_MS = 10;
const int CPU_WINDOW_MS = 3000;
// Share of one core an idle service may use; a spinning accept loop takes all of it.
const double MAX_IDLE_CPU_SHARE = 0.25;

const QString DEV_EUI = "A1B2C3D4E5F60718";
const int REGISTER = 100; // as read by readCounter
const QByteArray TEMPLATE = R"({"app_eui": "0102030405060708", "dev_type": "Counter",
    "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "be",
    "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Count"}]}]})";

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// CPU time the process has used, user and system, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the command name, which is in parentheses and may hold spaces; utime and
    // stime are the 14th and 15th fields of the line.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong())
        / double(sysconf(_SC_CLK_TCK));
}

// The counter's register as a new master reads it; -1 when the read fails. The request is
// written by hand: libmodbus waits with select(), which cannot watch the descriptor numbers this
// test reaches.
int readCounter(quint16 port)
{
    QTcpSocket master;
    master.connectToHost(QHostAddress::LocalHost, port);
    if (!master.waitForConnected(WAIT_MS))
        return -1;
    master.write(QByteArray::fromHex("000100000006010300640001")); // register 100
    QByteArray answer;
    while (answer.size() < 11 && master.waitForReadyRead(WAIT_MS))
        answer += master.readAll();
    return answer.startsWith(QByteArray::fromHex("000100000005010302"))
        ? qFromBigEndian<quint16>(answer.constData() + 9)
        : -1;
}

// Peers come a few at a time, as masters do: a burst beyond the listen backlog leaves the system
// with connections the client takes as open but the service never sees.
std::vector<std::unique_ptr<QTcpSocket>> connectPeers(quint16 port, int count)
{
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < count; ++i) {
        peers.push_back(std::make_unique<QTcpSocket>());
        peers.back()->connectToHost(QHostAddress::LocalHost, port);
        if (i % PEERS_PER_PAUSE == PEERS_PER_PAUSE - 1)
            QTest::qWait(PAUSE_MS);
    }
    return peers;
}

int countIn(
    const std::vector<std::unique_ptr<QTcpSocket>>& peers, QAbstractSocket::SocketState state)
{
    return int(std::count_if(peers.begin(), peers.end(),
        [state](const std::unique_ptr<QTcpSocket>& peer) { return peer->state() == state; }));
}
} // namespace

// The real executable limited to 1,024 descriptors, flooded with Modbus peers that connect and
// then send nothing, or only half a request.
class TestIdlePeers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void serviceKeepsWorkingUnderIdlePeers();

private:
    bool startLimitedService(quint16 modbusPort);
    // The end of what the service wrote on standard error, to say why it did not come up.
    QString consoleTail() const
    {
        QFile console(dir.filePath("console.txt"));
        return console.open(QIODevice::ReadOnly) ? QString::fromUtf8(console.readAll().right(2000))
                                                 : QString();
    }
    int webStatus();

    QTemporaryDir dir;
    CFakeNetworkServer networkServer;
    QProcess tarvex;
    QNetworkAccessManager browser;
    quint16 webPort = freePort();
};

void TestIdlePeers::initTestCase()
{
    QVERIFY2(raiseDescriptorLimit() > 2 * (STALLED_PEERS + IDLE_PEERS),
        "the test itself needs a descriptor per peer");
    browser.setProxy(QNetworkProxy::NoProxy);
}

// Status of the web interface's start page; 0 when it does not answer.
int TestIdlePeers::webStatus()
{
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/").arg(webPort)));
    request.setTransferTimeout(WAIT_MS);
    QNetworkReply* reply = browser.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    return status;
}

// Starts the service under the descriptor limit with the counter stored on the Modbus port; true
// once it has logged in to the network server and its web interface answers.
bool TestIdlePeers::startLimitedService(quint16 modbusPort)
{
    DB::SDeviceRegMapDescription counter {
        DEV_EUI, "0102030405060708", "Counter", REGISTER, {}, modbusPort};
    counter.registers = {{"Count", 0, 0, 16, "uinteger", 0, 1, {}}};
    QString errorText;
    const QString settings("[server]\naddress=%1\nlogin=gateway\npassword=secret\n"
                           "[webui]\nip=127.0.0.1\nport=%2\n");
    if (!CDataBaseHandler::getInstance()->init(dir.filePath("server.db"))
        || !CDataBaseHandler::getInstance()->registerNewDevice(counter, errorText)
        || !QDir(dir.path()).mkpath("deviceFolder")
        || !writeFile(dir.filePath("deviceFolder/counter.json"), TEMPLATE)
        || !networkServer.listen()
        || !writeFile(dir.filePath("settings.conf"),
            settings.arg(networkServer.url().toString()).arg(webPort).toUtf8()))
        return false;
    tarvex.setWorkingDirectory(dir.path());
    tarvex.setStandardErrorFile(dir.filePath("console.txt"));
    // prlimit sets the limit and then runs the service in its own place, with its process id.
    tarvex.start("prlimit",
        {QString("--nofile=%1:%1").arg(DESCRIPTOR_LIMIT),
            QString::fromLocal8Bit(qgetenv("TARVEX_BINARY"))});
    return tarvex.waitForStarted(WAIT_MS)
        && QTest::qWaitFor(
            [this] { return !networkServer.received("auth_req").isEmpty(); }, WAIT_MS)
        && QTest::qWaitFor([this] { return webStatus() == 200; }, WAIT_MS);
}

void TestIdlePeers::serviceKeepsWorkingUnderIdlePeers()
{
    const quint16 modbusPort = freePort();
    QVERIFY2(startLimitedService(modbusPort), qPrintable(consoleTail()));

    // Peers accepted first, each holding the first half of a read request.
    std::vector<std::unique_ptr<QTcpSocket>> stalled = connectPeers(modbusPort, STALLED_PEERS);
    QTRY_COMPARE_WITH_TIMEOUT(
        countIn(stalled, QAbstractSocket::ConnectedState), STALLED_PEERS, WAIT_MS);
    for (const std::unique_ptr<QTcpSocket>& peer : stalled)
        peer->write(QByteArray::fromHex("00010000000601"));
    std::vector<std::unique_ptr<QTcpSocket>> idle = connectPeers(modbusPort, IDLE_PEERS);
    // Those beyond what the service can hold are closed at once rather than left waiting.
    QTRY_COMPARE_WITH_TIMEOUT(countIn(idle, QAbstractSocket::ConnectingState), 0, WAIT_MS);
    QTRY_VERIFY_WITH_TIMEOUT(countIn(idle, QAbstractSocket::UnconnectedState)
            >= STALLED_PEERS + IDLE_PEERS - DESCRIPTOR_LIMIT,
        WAIT_MS);

    const double cpuBefore = cpuSeconds(tarvex.processId());
    QTest::qWait(CPU_WINDOW_MS); // the window CPU time is measured over, not an assertion
    const double cpuShare = (cpuSeconds(tarvex.processId()) - cpuBefore) * 1000 / CPU_WINDOW_MS;
    QVERIFY2(cpuShare < MAX_IDLE_CPU_SHARE, qPrintable(QString("CPU %1").arg(cpuShare)));

    QCOMPARE(webStatus(), 200);
    // A loaded machine may have made the client log in more than once already.
    const int logins = networkServer.received("auth_req").size();
    networkServer.dropConnections();
    QTRY_VERIFY_WITH_TIMEOUT(networkServer.received("auth_req").size() > logins, WAIT_MS);
    networkServer.pushRx(
        QJsonObject {{"devEui", DEV_EUI.toLower()}, {"type", "UNCONF_UP"}, {"data", "0100d7"}});
    // The stalled peers are closed, and a new master is served the value of the uplink.
    QTRY_COMPARE_WITH_TIMEOUT(
        countIn(stalled, QAbstractSocket::UnconnectedState), STALLED_PEERS, STALLED_CLOSE_WAIT_MS);
    QTRY_COMPARE_WITH_TIMEOUT(readCounter(modbusPort), 215, WAIT_MS);

    tarvex.terminate();
    QVERIFY(tarvex.waitForFinished(WAIT_MS));
    QFile console(dir.filePath("console.txt"));
    QVERIFY(console.open(QIODevice::ReadOnly));
    QCOMPARE(console.readAll().count("closes new connections at once"), 1); // once a minute
}

QTEST_GUILESS_MAIN(TestIdlePeers)
#include "tst_idlepeers.moc"
