#include "modbustestfixture.h"

#include "app/clogfile.h"
#include "modbus/cconnectionhandler.h"
#include "modbus/cdevicehandler.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace ModbusTest;

namespace {
const int WAIT_MS = 5000;

// The answer of unit 1 to a function 3 read of one register.
QByteArray oneRegisterAnswer(quint16 transactionId, quint16 value)
{
    QByteArray answer = QByteArray::fromHex("000000000005010302");
    qToBigEndian<quint16>(transactionId, answer.data());
    answer.append(char(value >> 8)).append(char(value & 0xff));
    return answer;
}
} // namespace

// Raw-socket framing tests against a real listener whose registers live in a real SQLite file.
class tst_ModbusConnection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void answers_data();
    void answers();
    void splitRequest();
    void peerLeavesMidFrame();
    void garbageIsDropped();
    void stalledReaderIsDroppedWithoutStallingOthers();
    void burstOfRequestsIsAnswered();
    void closingPortClosesConnections();

private:
    std::unique_ptr<QTcpSocket> connectClient();
    QByteArray exchange(QTcpSocket& client, const QByteArray& request, int answerSize);

    QTemporaryDir dir;
    quint16 port = 0;
    std::unique_ptr<CDeviceHandler> listener;
    std::unique_ptr<QSignalSpy> logSpy;
};

void tst_ModbusConnection::initTestCase()
{
    QVERIFY(dir.isValid());
    logSpy = std::make_unique<QSignalSpy>(
        CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal);
    QVERIFY(openDatabase(dir.filePath("server.db")));
    port = freePort();
    QVERIFY(storeSharedPortLayout(port));
    listener = std::make_unique<CDeviceHandler>(port);
    QVERIFY(listener->isListening());
}

std::unique_ptr<QTcpSocket> tst_ModbusConnection::connectClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, port);
    if (!client->waitForConnected(WAIT_MS))
        return nullptr;
    return client;
}

// Sends the bytes and returns what arrives until answerSize bytes are there or time runs out.
QByteArray tst_ModbusConnection::exchange(
    QTcpSocket& client, const QByteArray& request, int answerSize)
{
    client.write(request);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (received.size() < answerSize && timer.elapsed() < WAIT_MS) {
        QTest::qWait(1);
        received += client.readAll();
    }
    return received;
}

void tst_ModbusConnection::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("32-bit value, both registers")
        << readRequest(1, 1, 3, 0, 2) << QByteArray::fromHex("00010000000701030412345678");
    QTest::newRow("32-bit value, first register")
        << readRequest(1, 1, 3, 0, 1) << QByteArray::fromHex("0001000000050103021234");
    QTest::newRow("second register of a value reads 0")
        << readRequest(1, 1, 3, 1, 1) << QByteArray::fromHex("0001000000050103020000");
    QTest::newRow("fc4 reads the same image") << readRequest(
        9, 5, 4, 2, 5) << QByteArray::fromHex("00090000000d05040abeef0102030405060708");
    QTest::newRow("quantity 0") << readRequest(7, 1, 3, 0, 0)
                                << QByteArray::fromHex("000700000003010300");
    QTest::newRow("function 6") << readRequest(0x0102, 17, 6, 0, 1)
                                << QByteArray::fromHex("010200000003118601");
    QTest::newRow("quantity 126") << readRequest(3, 1, 3, 0, 126)
                                  << QByteArray::fromHex("000300000003018303");
    QTest::newRow("range past 65535")
        << readRequest(4, 1, 4, 65535, 2) << QByteArray::fromHex("000400000003018402");
    QTest::newRow("last register")
        << readRequest(5, 1, 3, 65535, 1) << QByteArray::fromHex("0005000000050103020000");
    // Protocol order: function code, then quantity, then address range.
    QTest::newRow("function checked first")
        << readRequest(3, 1, 16, 65535, 500) << QByteArray::fromHex("000300000003019001");
    QTest::newRow("quantity checked before range")
        << readRequest(3, 1, 3, 65535, 500) << QByteArray::fromHex("000300000003018303");
    QTest::newRow("two requests in one segment")
        << readRequest(1, 1, 3, 0, 1) + readRequest(2, 1, 4, 2, 1)
        << QByteArray::fromHex("0001000000050103021234"
                               "000200000005010402beef");
    QTest::newRow("length 4 discarded, next answered")
        << QByteArray::fromHex("00050000000401030000") + readRequest(6, 1, 3, 20, 1)
        << QByteArray::fromHex("00060000000501030200ff");
    QTest::newRow("bytes beyond the request are ignored")
        << QByteArray::fromHex("0008000000080103000000010203") + readRequest(9, 1, 3, 0, 1)
        << QByteArray::fromHex("0008000000050103021234"
                               "0009000000050103021234");
}

void tst_ModbusConnection::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);

    std::unique_ptr<QTcpSocket> client = connectClient();
    QVERIFY(client);
    QCOMPARE(exchange(*client, request, answer.size()).toHex(), answer.toHex());
    // Nothing more than the expected answers arrives.
    QCOMPARE(exchange(*client, readRequest(0xfff, 1, 3, 2, 1), 11).toHex(),
        QByteArray("0fff00000005010302beef"));
}

void tst_ModbusConnection::splitRequest()
{
    std::unique_ptr<QTcpSocket> client = connectClient();
    QVERIFY(client);
    const QByteArray request = readRequest(0x4242, 1, 3, 0, 2);

    const int waitingHeader = countLogged(*logSpy, "Incomplete packet [1]. Wait for continue...");
    client->write(request.left(3));
    QTRY_COMPARE_WITH_TIMEOUT(countLogged(*logSpy, "Incomplete packet [1]. Wait for continue..."),
        waitingHeader + 1, WAIT_MS);

    const int waitingBody = countLogged(*logSpy, "Incomplete packet [2]. Wait for continue...");
    client->write(request.mid(3, 4));
    QTRY_COMPARE_WITH_TIMEOUT(countLogged(*logSpy, "Incomplete packet [2]. Wait for continue..."),
        waitingBody + 1, WAIT_MS);
    QCOMPARE(client->bytesAvailable(), 0);

    QCOMPARE(
        exchange(*client, request.mid(7), 13).toHex(), QByteArray("42420000000701030412345678"));
}

void tst_ModbusConnection::peerLeavesMidFrame()
{
    std::unique_ptr<QTcpSocket> client = connectClient();
    QVERIFY(client);
    QTRY_COMPARE_WITH_TIMEOUT(listener->findChildren<CConnectionHandler*>().size(), 1, WAIT_MS);
    client->write(readRequest(1, 1, 3, 0, 2).left(8));
    client->flush();
    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(listener->findChildren<CConnectionHandler*>().size(), 0, WAIT_MS);

    std::unique_ptr<QTcpSocket> next = connectClient();
    QVERIFY(next);
    QCOMPARE(exchange(*next, readRequest(1, 1, 3, 0, 1), 11).toHex(),
        QByteArray("0001000000050103021234"));
}

void tst_ModbusConnection::garbageIsDropped()
{
    std::unique_ptr<QTcpSocket> client = connectClient();
    QVERIFY(client);
    // A length field no Modbus frame has; the connection must not wait to buffer 64 KiB.
    client->write(QByteArray::fromHex("00010000ffff") + QByteArray(100, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, WAIT_MS);
    QVERIFY(logged(*logSpy, "dropped: frame length 65535"));
}

void tst_ModbusConnection::stalledReaderIsDroppedWithoutStallingOthers()
{
    std::unique_ptr<QTcpSocket> stalled = connectClient();
    QVERIFY(stalled);
    stalled->setReadBufferSize(1); // stops reading: answers pile up on the server's side
    QByteArray flood;
    for (int i = 0; i < 40000; ++i)
        flood += readRequest(quint16(i), 1, 3, 0, 125);

    std::unique_ptr<QTcpSocket> other = connectClient();
    QVERIFY(other);
    for (int round = 0; round < 5; ++round) {
        stalled->write(flood);
        QCOMPARE(exchange(*other, readRequest(quint16(round), 1, 3, 2, 1), 11).toHex(),
            oneRegisterAnswer(quint16(round), 0xbeef).toHex());
        if (logged(*logSpy, "unsent bytes"))
            break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(logged(*logSpy, "unsent bytes"), 20000);
    QCOMPARE(exchange(*other, readRequest(77, 1, 3, 0, 1), 11).toHex(),
        oneRegisterAnswer(77, 0x1234).toHex());
}

void tst_ModbusConnection::burstOfRequestsIsAnswered()
{
    // More answers than the output limit, requested at once by a peer that does read them.
    const int requests = 6000;
    const int answerSize = 9 + 2 * 125;
    QByteArray burst;
    for (int i = 0; i < requests; ++i)
        burst += readRequest(quint16(i), 1, 3, 0, 125);
    std::unique_ptr<QTcpSocket> client = connectClient();
    QVERIFY(client);
    const QByteArray answers = exchange(*client, burst, requests * answerSize);
    QCOMPARE(answers.size(), requests * answerSize);
    QCOMPARE(answers.mid((requests - 1) * answerSize, 13).toHex(),
        QByteArray("176f000000fd0103fa12345678"));
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

void tst_ModbusConnection::closingPortClosesConnections()
{
    const quint16 otherPort = freePort();
    auto closing = std::make_unique<CDeviceHandler>(otherPort);
    QVERIFY(closing->isListening());
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, otherPort);
    QVERIFY(client.waitForConnected(WAIT_MS));
    QTRY_COMPARE_WITH_TIMEOUT(closing->findChildren<CConnectionHandler*>().size(), 1, WAIT_MS);

    closing.reset();
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, WAIT_MS);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, otherPort);
    QVERIFY(!late.waitForConnected(WAIT_MS));
}

QTEST_GUILESS_MAIN(tst_ModbusConnection)
#include "tst_modbusconnection.moc"
