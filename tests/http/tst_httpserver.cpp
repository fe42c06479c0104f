#include "echohandler.h"

#include "connection.h"
#include "server.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
const int CONNECTION_LIMIT = 500;
const int IDLE_TIMEOUT_MS = 7000;
const int SWEEP_INTERVAL_MS = 2000;

// Runs a client program while the event loop keeps serving, since the server is in this thread.
QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    return process.readAllStandardOutput();
}

std::unique_ptr<QTcpSocket> connectTo(quint16 port, const QByteArray& request)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->write(request);
    return socket;
}

// Everything the peer sent before it closed the connection, or "<open>" if it did not close.
QByteArray readUntilClosed(QTcpSocket& socket, int timeout)
{
    QByteArray received;
    QDeadlineTimer deadline(timeout);
    while (socket.state() != QTcpSocket::UnconnectedState && !deadline.hasExpired()) {
        QTest::qWait(10);
        received += socket.readAll();
    }
    return socket.state() == QTcpSocket::UnconnectedState ? received + socket.readAll() : "<open>";
}

QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void acceptsGzipEncoding_data();
    void acceptsGzipEncoding();
    void keptAliveConnectionServesEveryRequest();
    void gzipWhenTheClientAsks_data();
    void gzipWhenTheClientAsks();
    void headAnswersWithTheGetHeadersAndNoBody();
    void largeFormFieldArrivesWhole();
    void requestInSingleBytesIsAnsweredOnceComplete();
    void pipelinedRequestsAreAnsweredInOrder();
    void failedRequestIsAnsweredAndClosed_data();
    void failedRequestIsAnsweredAndClosed();
    void connectionBeyondTheLimitIsClosedUnanswered();
    void idleConnectionIsDropped();
    void tls12ClientIsServed();
    void tls11ClientFindsNoCipherSuite();
    void plainClientOnTheTlsPortGetsNoAnswer();

private:
    quint16 port() const { return server.serverPort(); }
    QString url(const QString& path) const
    {
        return "http://127.0.0.1:" + QString::number(port()) + path;
    }

    QTemporaryDir dir;
    QString certificateFile;
    QString keyFile;
    EchoHandler handler;
    Http::Server server {&handler};
    Http::Server httpsServer {&handler};
};

void TestHttpServer::initTestCase()
{
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    certificateFile = dir.filePath("cert.pem");
    keyFile = dir.filePath("key.pem");
    // An RSA key in its traditional form, which the key loader reads only on its second try.
    run("openssl", {"genrsa", "-traditional", "-out", keyFile, "2048"});
    run("openssl",
        {"req", "-x509", "-key", keyFile, "-subj", "/CN=localhost", "-addext",
            "subjectAltName=IP:127.0.0.1", "-days", "2", "-out", certificateFile});
    QVERIFY(httpsServer.setupHttps(readFile(certificateFile), readFile(keyFile)));
    QVERIFY(httpsServer.listen(QHostAddress::LocalHost, 0));
}

void TestHttpServer::acceptsGzipEncoding_data()
{
    QTest::addColumn<QString>("codings");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("upper case") << "GZIP" << false;
    QTest::newRow("gzip with q 0") << "gzip;q=0" << false;
    QTest::newRow("gzip with q 0, then star") << "gzip;q=0, *" << true;
    QTest::newRow("deflate, star with q 0.5") << "deflate, *;q=0.5" << true;
}

void TestHttpServer::acceptsGzipEncoding()
{
    QFETCH(QString, codings);

    QTEST(Http::acceptsGzipEncoding(codings), "accepted");
}

void TestHttpServer::keptAliveConnectionServesEveryRequest()
{
    handler.clientPorts.clear();

    const QByteArray output
        = run("curl", {"-sS", "-D", "-", url("/1"), url("/2"), url("/3"), "-o", "/dev/null"});

    QCOMPARE(output.count("\r\nconnection: keep-alive\r\n"), 3);
    QCOMPARE(handler.clientPorts.size(), 3);
    QCOMPARE(handler.clientPorts.count(handler.clientPorts.first()), 3);
}

void TestHttpServer::gzipWhenTheClientAsks_data()
{
    QTest::addColumn<bool>("asked");

    QTest::newRow("asked for") << true;
    QTest::newRow("not asked for") << false;
}

// Compressed or not, curl reads back the whole body.
void TestHttpServer::gzipWhenTheClientAsks()
{
    QFETCH(bool, asked);

    QStringList args {"-sS", "-D", dir.filePath("headers"), url("/bytes?n=5000")};
    if (asked)
        args << "--compressed";
    const QByteArray body = run("curl", args);

    QCOMPARE(readFile(dir.filePath("headers")).contains("\r\ncontent-encoding: gzip\r\n"), asked);
    QCOMPARE(body, EchoHandler::bytes(5000));
}

void TestHttpServer::headAnswersWithTheGetHeadersAndNoBody()
{
    handler.methods.clear();

    const QByteArray head = run("curl", {"-sS", "-I", "--compressed", url("/bytes?n=3000")});

    QCOMPARE(handler.methods, QStringList("GET"));
    QVERIFY(head.contains("\r\ncontent-length: 3000\r\n"));
    QVERIFY(!head.contains("content-encoding"));
    QVERIFY(head.endsWith("\r\n\r\n"));
}

void TestHttpServer::largeFormFieldArrivesWhole()
{
    const QByteArray value = EchoHandler::bytes(2097152);

    const QByteArray answer
        = run("curl", {"-sS", "--data-binary", "@-", url("/up")}, "data=" + value);

    QCOMPARE(answer,
        "POST /up\nform data 2097152 "
            + QCryptographicHash::hash(value, QCryptographicHash::Md5).toHex() + "\n");
}

void TestHttpServer::requestInSingleBytesIsAnsweredOnceComplete()
{
    const QByteArray request = "GET /split HTTP/1.1\r\nHost: x\r\n\r\n";
    auto client = connectTo(port(), request.left(1));
    for (const char byte : request.mid(1).chopped(1)) {
        QTRY_COMPARE(client->bytesToWrite(), 0);
        QTest::qWait(2);
        client->write(&byte, 1);
    }
    QTest::qWait(50);
    QCOMPARE(client->bytesAvailable(), 0);

    client->write(request.right(1));

    QByteArray received;
    QTRY_VERIFY((received += client->readAll()).endsWith("GET /split\n"));
    QCOMPARE(received.count("HTTP/1.1 "), 1);
}

void TestHttpServer::pipelinedRequestsAreAnsweredInOrder()
{
    auto client = connectTo(port(),
        "GET /1 HTTP/1.1\r\n\r\nPOST /2 HTTP/1.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: 3\r\n\r\na=b"
        "HEAD /3 HTTP/1.1\r\n\r\nGET /4 HTTP/1.1\r\n\r\n");

    QByteArray received;
    QTRY_VERIFY((received += client->readAll()).endsWith("GET /4\n"));
    QCOMPARE(received.count("HTTP/1.1 200 OK\r\n"), 4);
    const int first = received.indexOf("GET /1\n");
    const int second = received.indexOf("POST /2\nform a 1 92eb5ffee6ae2fec3ad71c777531578f\n");
    QVERIFY(first >= 0);
    QVERIFY(second > first);
}

void TestHttpServer::failedRequestIsAnsweredAndClosed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QString>("warning");

    // Each request is followed by one that is never answered.
    const QByteArray next = "GET / HTTP/1.1\r\n\r\n";
    QTest::newRow("unknown method")
        << "BREW /pot HTTP/1.1\r\n\r\n" + next << QByteArray("501 Not Implemented")
        << "Bad Http request method, closing socket. IP: 127.0.0.1. Method: \"BREW\"";
    QTest::newRow("lower-case method")
        << "get / HTTP/1.1\r\n\r\n" + next << QByteArray("400 Bad Request")
        << "Bad Http request, closing socket. IP: 127.0.0.1";
    QTest::newRow("header block never ends")
        << "GET /" + QByteArray(73819750, 'a') << QByteArray("413 Payload Too Large")
        << "Http request size exceeds limitation, closing socket. Limit: 73819750, IP: "
           "127.0.0.1";
}

void TestHttpServer::failedRequestIsAnsweredAndClosed()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(QString, warning);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    const QByteArray received = readUntilClosed(*connectTo(port(), request), 30000);

    QCOMPARE(received.left(received.indexOf("date: ")),
        "HTTP/1.1 " + status + "\r\nconnection: close\r\ncontent-length: 0\r\n");
    QVERIFY(received.endsWith("\r\n\r\n"));
    QCOMPARE(received.count("HTTP/1.1"), 1);
}

// All 500 are answered, so all are open on the server side; the next is closed without a word.
void TestHttpServer::connectionBeyondTheLimitIsClosedUnanswered()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < CONNECTION_LIMIT; ++i)
        clients.push_back(connectTo(port(), "GET /limit HTTP/1.1\r\n\r\n"));
    for (auto& client : clients)
        QTRY_VERIFY_WITH_TIMEOUT(client->bytesAvailable() > 0, 20000);

    const QByteArray received
        = readUntilClosed(*connectTo(port(), "GET /limit HTTP/1.1\r\n\r\n"), 10000);

    QCOMPARE(received, QByteArray());
    // Leave the server with its places free for the tests that follow.
    for (auto& client : clients)
        client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(
        run("curl", {"-sS", "-m", "2", url("/free")}), QByteArray("GET /free\n"), 20000);
}

// A silent connection is dropped 7 s after its last write, by a sweep every 2 s.
void TestHttpServer::idleConnectionIsDropped()
{
    auto idle = connectTo(port(), "GET /idle HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(idle->peek(4096).endsWith("GET /idle\n"));
    QElapsedTimer elapsed;
    elapsed.start();

    QTRY_COMPARE_WITH_TIMEOUT(
        idle->state(), QTcpSocket::UnconnectedState, IDLE_TIMEOUT_MS + SWEEP_INTERVAL_MS + 5000);
    QVERIFY(elapsed.elapsed() >= IDLE_TIMEOUT_MS - 100);
}

// The unknown method after the GET makes the server close, which ends s_client.
void TestHttpServer::tls12ClientIsServed()
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(httpsServer.serverPort());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Bad Http request method"));

    const QByteArray received
        = run("openssl", {"s_client", "-connect", address, "-quiet", "-ign_eof", "-tls1_2"},
            "GET /s HTTP/1.1\r\n\r\nBREW / HTTP/1.1\r\n\r\n");

    QVERIFY2(received.startsWith("HTTP/1.1 200 OK\r\n"), received.left(200).constData());
    QVERIFY(received.contains("\r\n\r\nGET /s\nHTTP/1.1 501"));
}

void TestHttpServer::tls11ClientFindsNoCipherSuite()
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(httpsServer.serverPort());

    const QByteArray received = run("openssl",
        {"s_client", "-connect", address, "-quiet", "-ign_eof", "-tls1_1", "-cipher",
            "DEFAULT@SECLEVEL=0"},
        "GET /s HTTP/1.1\r\n\r\n");

    QVERIFY(!received.contains("HTTP"));
}

void TestHttpServer::plainClientOnTheTlsPortGetsNoAnswer()
{
    auto plain = connectTo(httpsServer.serverPort(), "GET / HTTP/1.1\r\n\r\n");

    const QByteArray received = readUntilClosed(*plain, 12000);

    QVERIFY(!received.contains("HTTP"));
    QCOMPARE(plain->state(), QTcpSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
