#include "echohandler.h"

#include "connection.h"
#include "server.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// Runs a client program while the event loop keeps serving, since the server is in this thread.
static QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    return process.readAllStandardOutput();
}

static std::unique_ptr<QTcpSocket> connectTo(quint16 port, const QByteArray& request)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->write(request);
    return socket;
}

// Everything the peer sent before it closed the connection.
static QByteArray readUntilClosed(QTcpSocket& socket, int timeout)
{
    QByteArray received;
    QDeadlineTimer deadline(timeout);
    while (socket.state() != QTcpSocket::UnconnectedState && !deadline.hasExpired()) {
        QTest::qWait(10);
        received += socket.readAll();
    }
    return socket.state() == QTcpSocket::UnconnectedState ? received + socket.readAll() : "<open>";
}

class TestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_server.listen(QHostAddress::LocalHost, 0)); }
    void curl();
    void slowStalledAndPipelinedClients();
    void failures();
    void connectionLimitAndIdleSweep();
    void https();
    void destroyedWithOpenConnections();

private:
    quint16 port() const { return m_server.serverPort(); }
    QString url(QString p) const { return "http://127.0.0.1:" + QString::number(port()) + p; }

    EchoHandler m_handler;
    Http::Server m_server {&m_handler};
};

void TestHttpServer::curl()
{
    // One kept-alive connection; gzip when asked for, but never for images.
    m_handler.clientPorts.clear();
    const QByteArray three = run("curl",
        {"-sS", "-D", "-", "--compressed", url("/a?x=1"), url("/bytes?n=5000"),
            url("/bytes?n=5000&type=image/png")});
    const QByteArray body = three.right(5000);
    QVERIFY(three.contains("\r\n\r\nGET /a\nquery x=1\nHTTP/1.1 200 OK\r\n"));
    QCOMPARE(three.count(body), 2);
    QCOMPARE(m_handler.clientPorts.count(m_handler.clientPorts.value(0)), 3);
    QCOMPARE(three.count("\r\nconnection: keep-alive\r\n"), 3);
    QCOMPARE(three.count("\r\ncontent-encoding: gzip\r\n"), 1);
    QCOMPARE(three.count("\r\ncontent-length: 5000\r\n"), 1);
    // Accept-Encoding as other clients may word it.
    for (const char* no : {"", "GZIP", "gzip;q=0", "br, *;q=0", "gzip;q=0, gzip", "gzip;q=x"})
        QVERIFY2(!Http::acceptsGzipEncoding(QString::fromLatin1(no)), no);
    QVERIFY(Http::acceptsGzipEncoding("gzip ; q = 0.8") && Http::acceptsGzipEncoding("br, *;q=.5"));
    QVERIFY(Http::acceptsGzipEncoding("gzip;q=0, *"));

    // HEAD answers with the GET's headers, the uncompressed length and no body.
    m_handler.methods.clear();
    const QByteArray head = run("curl", {"-sS", "-I", "--compressed", url("/bytes?n=3000")});
    QCOMPARE(m_handler.methods, QStringList("GET"));
    QVERIFY(head.startsWith("HTTP/1.1 200 OK\r\n") && head.endsWith("\r\n\r\n"));
    QVERIFY(head.contains("\r\ncontent-length: 3000\r\n") && !head.contains("encoding"));

    // A 2 MiB form field arrives whole.
    const QByteArray value = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(80660).left(2097152);
    QCOMPARE(run("curl", {"-sS", "--data-binary", "@-", url("/up")}, "data=" + value),
        "POST /up\nform data 2097152 "
            + QCryptographicHash::hash(value, QCryptographicHash::Md5).toHex() + "\n");
}

void TestHttpServer::slowStalledAndPipelinedClients()
{
    // Byte by byte: no answer until the last byte is there, then exactly one.
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

    // Four requests in one segment are answered in order.
    received.clear();
    client->write("GET /1 HTTP/1.1\r\n\r\nPOST /2 HTTP/1.1\r\nContent-Type: "
                  "application/x-www-form-urlencoded\r\n"
                  "Content-Length: 3\r\n\r\na=bHEAD /3 HTTP/1.1\r\n\r\nGET /4 HTTP/1.1\r\n\r\n");
    QTRY_VERIFY((received += client->readAll()).endsWith("GET /4\n"));
    QCOMPARE(received.count("HTTP/1.1 200 OK\r\n"), 4);
    const int two = received.indexOf("POST /2\nform a 1 92eb5ffee6ae2fec3ad71c777531578f\n");
    QVERIFY(received.indexOf("GET /1\n") < two && two < received.indexOf("GET /4\n"));

    // One client asks for 40 MB of answers and never reads them, another sends half a request.
    auto reader
        = connectTo(port(), QByteArray("GET /bytes?n=100000 HTTP/1.1\r\n\r\n").repeated(400));
    reader->setReadBufferSize(1);
    auto trickler = connectTo(port(), "GET /tr");
    QTRY_COMPARE(reader->bytesToWrite(), 0);

    QCOMPARE(run("curl", {"-sS", "-m", "5", url("/other")}), QByteArray("GET /other\n"));
    QCOMPARE(reader->state(), QTcpSocket::ConnectedState);

    // Once the stalled reader reads again, every answer arrives.
    reader->setReadBufferSize(0);
    qint64 total = 0;
    QTRY_VERIFY_WITH_TIMEOUT((total += reader->readAll().size()) >= 400 * 100000, 30000);
}

void TestHttpServer::failures()
{
    const QString closing = QStringLiteral("closing socket. IP: 127.0.0.1");
    const QList<std::tuple<QByteArray, QByteArray, QString>> cases
        = {{"BREW /pot HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n", "501 Not Implemented",
               "Bad Http request method, " + closing + ". Method: \"BREW\""},
            {"get / HTTP/1.1\r\n\r\n", "400 Bad Request", "Bad Http request, " + closing},
            {"GET /" + QByteArray(73819750, 'a'), "413 Payload Too Large",
                "Http request size exceeds limitation, closing socket. Limit: 73819750, IP: "
                "127.0.0.1"}};
    for (const auto& [request, status, warning] : cases) {
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        const QByteArray received = readUntilClosed(*connectTo(port(), request), 30000);
        QCOMPARE(received.left(received.indexOf("date: ")),
            "HTTP/1.1 " + status + "\r\nconnection: close\r\ncontent-length: 0\r\n");
        QVERIFY(received.endsWith("\r\n\r\n") && received.count("HTTP/1.1") == 1);
    }
}

void TestHttpServer::connectionLimitAndIdleSweep()
{
    // All 500 are served, so all are open on the server side; the next is closed without a word.
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 500; ++i)
        clients.push_back(connectTo(port(), "GET /limit HTTP/1.1\r\n\r\n"));
    for (auto& client : clients)
        QTRY_VERIFY_WITH_TIMEOUT(client->bytesAvailable() > 0, 20000);
    QCOMPARE(
        readUntilClosed(*connectTo(port(), "GET /limit HTTP/1.1\r\n\r\n"), 10000), QByteArray());

    // A closed connection frees its place (once the server has seen it go). The one that
    // takes it goes silent after its answer and is dropped 7 s later by a sweep every 2 s.
    clients.front()->disconnectFromHost();
    std::unique_ptr<QTcpSocket> idle;
    QVERIFY(QTest::qWaitFor(
        [&] {
            idle = connectTo(port(), "GET /idle HTTP/1.1\r\n\r\n");
            return QTest::qWaitFor([&] { return idle->peek(4096).endsWith("GET /idle\n"); }, 300);
        },
        10000));
    QElapsedTimer elapsed;
    elapsed.start();
    QTRY_COMPARE_WITH_TIMEOUT(idle->state(), QTcpSocket::UnconnectedState, 12000);
    QVERIFY(elapsed.elapsed() >= 6900 && elapsed.elapsed() < 9900);
}

void TestHttpServer::https()
{
    QTemporaryDir dir;
    const QString certificate = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    run("openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
            "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2", "-keyout", key,
            "-out", certificate});
    const auto read = [](const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    Http::Server server(&m_handler);
    QTest::ignoreMessage(QtDebugMsg, "No valid certificate files has been found!");
    QVERIFY(!server.setupHttps("garbage", read(key)) && !server.isHttps());
    QVERIFY(
        server.setupHttps(read(certificate), read(key)) && server.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());

    QCOMPARE(run("curl", {"-sS", "--cacert", certificate, "https://" + address + "/s?x=1"}),
        QByteArray("GET /s\nquery x=1\n"));

    // The unknown method after the GET makes the server close, which ends s_client. TLS 1.1
    // finds no usable cipher suite.
    const QByteArray requests = "GET /s HTTP/1.1\r\n\r\nBREW / HTTP/1.1\r\n\r\n";
    const QStringList sClient = {"s_client", "-connect", address, "-quiet", "-ign_eof"};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Bad Http request method"));
    const QByteArray tls12 = run("openssl", sClient + QStringList {"-tls1_2"}, requests);
    QVERIFY(
        tls12.startsWith("HTTP/1.1 200 OK\r\n") && tls12.contains("\r\n\r\nGET /s\nHTTP/1.1 501"));
    const QStringList tls11 = {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"};
    QVERIFY(!run("openssl", sClient + tls11, requests).contains("HTTP"));

    // A plain-HTTP client on the TLS port never sees an HTTP answer.
    auto plain = connectTo(server.serverPort(), "GET / HTTP/1.1\r\n\r\n");
    QVERIFY(!readUntilClosed(*plain, 12000).contains("HTTP")
        && plain->state() == QTcpSocket::UnconnectedState);
}

void TestHttpServer::destroyedWithOpenConnections()
{
    // Closing the sockets while the server is destroyed must not reach back into its set.
    auto server = std::make_unique<Http::Server>(&m_handler);
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectTo(server->serverPort(), "GET /open HTTP/1.1\r\n\r\n"));
        QTRY_VERIFY(clients.back()->bytesAvailable() > 0);
    }
    server.reset();
    for (const auto& client : clients)
        QTRY_COMPARE(client->state(), QTcpSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
