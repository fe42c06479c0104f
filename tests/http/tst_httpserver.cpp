#include "echohandler.h"

#include "connection.h"
#include "server.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
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
    void keptAliveConnectionServesEveryRequest();
    void gzipWhenTheClientAsks_data();
    void gzipWhenTheClientAsks();
    void headAnswersWithTheGetHeadersAndNoBody();
    void largeFormFieldArrivesWhole();
    void tricklingHeaderIsDropped();
    void tls12ClientIsServed();
    void tls11ClientFindsNoCipherSuite();

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

// A client that sends its header a byte a second is never idle; the header deadline ends it.
void TestHttpServer::tricklingHeaderIsDropped()
{
    const QByteArray header = "GET /slow HTTP/1.1\r\nx-padding: " + QByteArray(60, 'a');
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port());
    QVERIFY(client.waitForConnected(5000));
    int sent = 0;
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, &client, [&] {
        if (sent < header.size())
            client.write(header.mid(sent++, 1));
    });
    trickle.start(1000);

    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 45000);
    QVERIFY(sent < header.size());
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

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
