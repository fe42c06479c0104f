#include "echohandler.h"

#include "http/connection.h"
#include "http/server.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct ProcessResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a client program while the event loop keeps serving, since the server is in this thread.
ProcessResult run(
    const QString& program, const QStringList& arguments, const QByteArray& input = QByteArray())
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
        &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (process.state() != QProcess::NotRunning) {
        process.write(input);
        process.closeWriteChannel();
        loop.exec();
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    ProcessResult result;
    if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString httpUrl(quint16 port, const QString& path)
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void gzipAcceptance_data();
    void gzipAcceptance();
    void curlKeepAliveAndHead();
    void curlCompressed();
    void curlLargePost();
    void splitAndPipelinedRequests();
    void stalledClientsDoNotBlockOthers();
    void failures_data();
    void failures();
    void oversizedRequest();
    void connectionLimit();
    void idleSweep();
    void https();

private:
    std::unique_ptr<QTcpSocket> connectRaw(quint16 port);

    EchoHandler m_handler;
    std::unique_ptr<Http::Server> m_server;
    quint16 m_port = 0;
};

std::unique_ptr<QTcpSocket> TestHttpServer::connectRaw(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

void TestHttpServer::initTestCase()
{
    m_server = std::make_unique<Http::Server>(&m_handler);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_port = m_server->serverPort();
}

void TestHttpServer::gzipAcceptance_data()
{
    QTest::addColumn<QString>("codings");
    QTest::addColumn<bool>("gzip");

    QTest::newRow("absent") << "" << false;
    QTest::newRow("plain gzip") << "gzip" << true;
    QTest::newRow("browser list") << "gzip, deflate, br" << true;
    QTest::newRow("upper case") << "GZIP" << false;
    QTest::newRow("q zero") << "gzip;q=0" << false;
    QTest::newRow("q zero, then star") << "gzip;q=0, *" << true;
    QTest::newRow("star with q") << "deflate, *;q=0.5" << true;
    QTest::newRow("star q zero") << "deflate, *;q=0" << false;
    QTest::newRow("q with spaces") << "gzip ; q = 0.8" << true;
    QTest::newRow("first gzip item decides") << "gzip;q=0, gzip" << false;
    QTest::newRow("broken q") << "gzip;q=x" << false;
    QTest::newRow("only commas") << " , ," << false;
}

void TestHttpServer::gzipAcceptance()
{
    QFETCH(QString, codings);
    QFETCH(bool, gzip);
    QCOMPARE(Http::acceptsGzipEncoding(codings), gzip);
}

void TestHttpServer::curlKeepAliveAndHead()
{
    m_handler.clientPorts.clear();
    const ProcessResult twice
        = run("curl", {"-sS", "-v", httpUrl(m_port, "/a?x=1"), httpUrl(m_port, "/b%20c")});
    QCOMPARE(twice.exitCode, 0);
    QCOMPARE(twice.out, QByteArray("GET /a\nquery x=1\nGET /b c\n"));
    QVERIFY(twice.err.contains("Re-using existing connection"));
    QCOMPARE(m_handler.clientPorts.size(), 2);
    QCOMPARE(m_handler.clientPorts.at(0), m_handler.clientPorts.at(1));
    QVERIFY(twice.err.contains("< connection: keep-alive"));

    // HEAD answers with the GET's headers, the uncompressed length and no body.
    m_handler.methods.clear();
    const ProcessResult head
        = run("curl", {"-sS", "-I", "--compressed", httpUrl(m_port, "/bytes?n=3000")});
    QCOMPARE(head.exitCode, 0);
    QCOMPARE(m_handler.methods, QStringList("GET"));
    QVERIFY(head.out.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(head.out.contains("\r\ncontent-length: 3000\r\n"));
    QVERIFY(head.out.contains("\r\ncontent-type: text/plain\r\n"));
    QVERIFY(!head.out.contains("content-encoding"));
    QVERIFY(head.out.endsWith("\r\n\r\n"));
}

void TestHttpServer::curlCompressed()
{
    const ProcessResult plain = run("curl", {"-sS", httpUrl(m_port, "/bytes?n=5000")});
    QCOMPARE(plain.out.size(), 5000);

    const ProcessResult gzip
        = run("curl", {"-sS", "-D", "-", "--compressed", httpUrl(m_port, "/bytes?n=5000")});
    QCOMPARE(gzip.exitCode, 0);
    const int end = gzip.out.indexOf("\r\n\r\n");
    const QByteArray headers = gzip.out.left(end);
    QVERIFY(headers.contains("\r\ncontent-encoding: gzip"));
    const int length = QRegularExpression("content-length: (\\d+)")
                           .match(QString::fromLatin1(headers))
                           .captured(1)
                           .toInt();
    QVERIFY2(length > 0 && length < 1000, headers.constData());
    QCOMPARE(gzip.out.mid(end + 4), plain.out);

    const ProcessResult png = run("curl",
        {"-sS", "-D", "-", "--compressed", httpUrl(m_port, "/bytes?n=5000&type=image/png")});
    QVERIFY(!png.out.contains("content-encoding"));
    QVERIFY(png.out.contains("\r\ncontent-length: 5000\r\n"));
}

void TestHttpServer::curlLargePost()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("body"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray value(2 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < value.size(); ++i)
        value[i] = char('a' + i % 26);
    file.write("data=" + value);
    file.close();

    const ProcessResult result
        = run("curl", {"-sS", "--data-binary", "@" + file.fileName(), httpUrl(m_port, "/upload")});
    QCOMPARE(result.exitCode, 0);
    const QByteArray md5 = QCryptographicHash::hash(value, QCryptographicHash::Md5).toHex();
    QCOMPARE(result.out, "POST /upload\nform data 2097152 " + md5 + "\n");
}

void TestHttpServer::splitAndPipelinedRequests()
{
    auto client = connectRaw(m_port);
    QTRY_COMPARE(client->state(), QAbstractSocket::ConnectedState);

    // Byte by byte: no answer until the last byte is there, then exactly one.
    const QByteArray request = "GET /split HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int i = 0; i < request.size() - 1; ++i) {
        client->write(request.mid(i, 1));
        QTRY_COMPARE(client->bytesToWrite(), 0);
        QTest::qWait(2);
    }
    QTest::qWait(50);
    QCOMPARE(client->bytesAvailable(), 0);
    client->write(request.right(1));
    QByteArray received;
    QTRY_VERIFY((received += client->readAll()).endsWith("GET /split\n"));
    QCOMPARE(received.count("HTTP/1.1 "), 1);

    // Three requests in one segment are answered in order.
    received.clear();
    client->write(
        "GET /one HTTP/1.1\r\n\r\n"
        "POST /two HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 7\r\n\r\n"
        "{\"a\":1}"
        "HEAD /three HTTP/1.1\r\n\r\nGET /four HTTP/1.1\r\n\r\n");
    QTRY_VERIFY((received += client->readAll()).endsWith("GET /four\n"));
    QCOMPARE(received.count("HTTP/1.1 200 OK\r\n"), 4);
    const int one = received.indexOf("GET /one\n");
    const int two = received.indexOf("POST /two\njson {\"a\":1}\n");
    const int four = received.indexOf("GET /four\n");
    QVERIFY(one > 0 && two > one && four > two);
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

void TestHttpServer::stalledClientsDoNotBlockOthers()
{
    // One client asks for 40 MB of answers and never reads them, another sends half a request.
    auto reader = connectRaw(m_port);
    QByteArray requests;
    for (int i = 0; i < 400; ++i)
        requests += "GET /bytes?n=100000 HTTP/1.1\r\n\r\n";
    reader->setReadBufferSize(1);
    reader->write(requests);
    auto trickler = connectRaw(m_port);
    trickler->write("GET /tr");
    QTRY_COMPARE(reader->bytesToWrite(), 0);

    const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    const ProcessResult other = run("curl", {"-sS", httpUrl(m_port, "/other")});
    QCOMPARE(other.out, QByteArray("GET /other\n"));
    QVERIFY(started.elapsed() < 5000);
    QCOMPARE(reader->state(), QAbstractSocket::ConnectedState);

    // Once the stalled reader reads again, every answer arrives.
    reader->setReadBufferSize(0);
    qint64 received = 0;
    QTRY_VERIFY_WITH_TIMEOUT((received += reader->readAll().size()) >= 400 * 100000, 30000);
}

void TestHttpServer::failures_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QString>("warning");

    QTest::newRow("unknown method")
        << QByteArray("BREW /pot HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 501 Not Implemented")
        << "Bad Http request method, closing socket. IP: 127.0.0.1. Method: \"BREW\"";
    QTest::newRow("lower-case method")
        << QByteArray("get / HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
        << "Bad Http request, closing socket. IP: 127.0.0.1";
    QTest::newRow("header without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
        << "Bad Http request, closing socket. IP: 127.0.0.1";
    // Refused from the header alone, without waiting for the announced body.
    QTest::newRow("body over 64 MiB")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n")
        << QByteArray("HTTP/1.1 400 Bad Request")
        << "Bad Http request, closing socket. IP: 127.0.0.1";
}

void TestHttpServer::failures()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QFETCH(QString, warning);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    auto client = connectRaw(m_port);
    client->write(request);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += client->readAll(), client->state() == QAbstractSocket::UnconnectedState),
        5000);
    received += client->readAll();
    QVERIFY2(received.startsWith(statusLine + "\r\n"), received.constData());
    QVERIFY(received.contains("\r\nconnection: close\r\n"));
    QVERIFY(received.contains("\r\ncontent-length: 0\r\n"));
    QVERIFY(received.contains("\r\ndate: "));
    QVERIFY(received.endsWith("\r\n\r\n"));
    QCOMPARE(received.count("HTTP/1.1"), 1);
}

void TestHttpServer::oversizedRequest()
{
    QTest::ignoreMessage(QtWarningMsg,
        "Http request size exceeds limitation, closing socket. Limit: 73819750, "
        "IP: 127.0.0.1");
    auto client = connectRaw(m_port);
    client->write("GET /" + QByteArray(73819750, 'a'));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += client->readAll(), client->state() == QAbstractSocket::UnconnectedState),
        30000);
    received += client->readAll();
    QVERIFY2(received.startsWith("HTTP/1.1 413 Payload Too Large\r\n"), received.left(100));
    QCOMPARE(received.count("HTTP/1.1"), 1);
}

void TestHttpServer::connectionLimit()
{
    const QByteArray request = "GET /limit HTTP/1.1\r\n\r\n";
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 500; ++i) {
        clients.push_back(connectRaw(m_port));
        clients.back()->write(request);
    }
    // Every one of the 500 is served, so all of them are open on the server side.
    for (auto& client : clients)
        QTRY_VERIFY_WITH_TIMEOUT(client->bytesAvailable() > 0, 20000);

    auto refused = connectRaw(m_port);
    refused->write(request);
    QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QAbstractSocket::UnconnectedState, 10000);
    QCOMPARE(refused->readAll(), QByteArray());

    // A closed connection frees its place.
    clients.front()->disconnectFromHost();
    QTRY_COMPARE(clients.front()->state(), QAbstractSocket::UnconnectedState);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            auto next = connectRaw(m_port);
            next->write(request);
            QTest::qWait(100);
            received = next->readAll();
            return received.endsWith("GET /limit\n");
        }(),
        10000);
}

void TestHttpServer::idleSweep()
{
    // A client that goes silent after its answer is dropped 7 s later, by a sweep that runs
    // every 2 s. (The request also waits out the clients the previous test left behind.)
    auto client = connectRaw(m_port);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            client = connectRaw(m_port);
            client->write("GET /idle HTTP/1.1\r\n\r\n");
            QTest::qWait(100);
            received = client->readAll();
            return received.endsWith("GET /idle\n");
        }(),
        10000);
    QElapsedTimer elapsed;
    elapsed.start();
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 12000);
    QVERIFY2(elapsed.elapsed() >= 6900 && elapsed.elapsed() < 9900,
        qPrintable(QString::number(elapsed.elapsed())));
}

void TestHttpServer::https()
{
    QTemporaryDir dir;
    const ProcessResult generated = run("openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
            "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2", "-keyout",
            dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
    QCOMPARE(generated.exitCode, 0);
    QFile certificate(dir.filePath("cert.pem"));
    QFile key(dir.filePath("key.pem"));
    QVERIFY(certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));

    Http::Server server(&m_handler);
    QTest::ignoreMessage(QtDebugMsg, "No valid certificate files has been found!");
    QVERIFY(!server.setupHttps("garbage", key.readAll()));
    QVERIFY(!server.isHttps());
    key.seek(0);
    QVERIFY(server.setupHttps(certificate.readAll(), key.readAll()));
    QVERIFY(server.isHttps());
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());

    const ProcessResult curl = run(
        "curl", {"-sS", "--cacert", certificate.fileName(), "https://" + address + "/secure?x=1"});
    QVERIFY2(curl.exitCode == 0, curl.err.constData());
    QCOMPARE(curl.out, QByteArray("GET /secure\nquery x=1\n"));

    // The unknown method after the GET makes the server close, which ends s_client.
    const QByteArray requests = "GET /s HTTP/1.1\r\n\r\nBREW / HTTP/1.1\r\n\r\n";
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Bad Http request method"));
    const ProcessResult tls12 = run(
        "openssl", {"s_client", "-connect", address, "-tls1_2", "-quiet", "-ign_eof"}, requests);
    QVERIFY2(tls12.out.contains("HTTP/1.1 200 OK\r\n"), tls12.err.constData());
    QVERIFY(tls12.out.contains("GET /s\n"));
    QVERIFY(tls12.out.contains("HTTP/1.1 501 Not Implemented\r\n"));

    const ProcessResult tls11 = run("openssl",
        {"s_client", "-connect", address, "-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0", "-quiet",
            "-ign_eof"},
        requests);
    QVERIFY(tls11.exitCode != 0);
    QVERIFY(!tls11.out.contains("HTTP/1.1"));

    // A plain-HTTP client on the TLS port never sees an HTTP answer.
    auto plain = connectRaw(server.serverPort());
    plain->write("GET / HTTP/1.1\r\n\r\n");
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += plain->readAll(), plain->state() == QAbstractSocket::UnconnectedState), 12000);
    QVERIFY(!received.contains("HTTP/1.1"));
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
