#include "freeport.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {
// The service retries a failed connection 10 s after the attempt began; a second attempt comes
// well within this bound.
const int WAIT_MS = 40000;
const qint64 PEAK_RSS_LIMIT_KIB = 64 * 1024;
const qint64 FLOOD_BYTES = 100 * 1024 * 1024;
const int CHUNK_BYTES = 64 * 1024;
// The peer keeps this much queued, so the flood runs at the speed the service reads it.
const qint64 MAX_QUEUED_BYTES = 1024 * 1024;
const QByteArray WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// The process's peak resident set size in KiB; 0 when it cannot be read.
qint64 peakRssKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// An unmasked frame header with a 64-bit payload length.
QByteArray frameHeader(quint8 finAndOpcode, qint64 payloadBytes)
{
    QByteArray header(10, '\0');
    header[0] = char(finAndOpcode);
    header[1] = char(127);
    qToBigEndian(quint64(payloadBytes), header.data() + 2);
    return header;
}

// The upgrade answer that completes the client's WebSocket handshake.
QByteArray upgradeAnswer(const QByteArray& request)
{
    QByteArray key;
    for (const QByteArray& line : request.split('\n')) {
        if (line.toLower().startsWith("sec-websocket-key:"))
            key = line.mid(line.indexOf(':') + 1).trimmed();
    }
    const QByteArray accept
        = QCryptographicHash::hash(key + WEBSOCKET_GUID, QCryptographicHash::Sha1).toBase64();
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: "
        + accept + "\r\n\r\n";
}
} // namespace

// A network server that answers the client's upgrade request and then floods it.
class CHostilePeer : public QObject
{
    Q_OBJECT
public:
    enum EFlood { HEADER_LINES, ONE_FRAME, FRAGMENTED_MESSAGE };
    Q_ENUM(EFlood)

    explicit CHostilePeer(EFlood flood) : flood(flood)
    {
        connect(&server, &QTcpServer::newConnection, this, &CHostilePeer::accept);
    }
    bool listen() { return server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return server.serverPort(); }
    int attempts() const { return attemptCount; }

private:
    void accept();
    void answer(QTcpSocket* client);
    void feed(QTcpSocket* client);
    QByteArray nextChunk(QTcpSocket* client);

    EFlood flood;
    int attemptCount = 0;
    QHash<QTcpSocket*, QByteArray> requests;
    QHash<QTcpSocket*, qint64> payloadSent;
    // Declared last, so its connections go while the state above them still exists.
    QTcpServer server;
};

void CHostilePeer::accept()
{
    while (QTcpSocket* client = server.nextPendingConnection()) {
        ++attemptCount;
        connect(client, &QTcpSocket::readyRead, this, [this, client] { answer(client); });
        connect(client, &QTcpSocket::bytesWritten, this, [this, client] { feed(client); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QObject::destroyed, this, [this, client] {
            requests.remove(client);
            payloadSent.remove(client);
        });
    }
}

// Answers once the request is complete, then feeds the flood.
void CHostilePeer::answer(QTcpSocket* client)
{
    QByteArray& request = requests[client];
    if (payloadSent.contains(client))
        return;
    request += client->readAll();
    if (!request.contains("\r\n\r\n"))
        return;
    payloadSent[client] = 0;
    if (flood == HEADER_LINES)
        client->write("HTTP/1.1 101 Switching Protocols\r\n");
    else
        client->write(upgradeAnswer(request));
    if (flood == ONE_FRAME)
        client->write(frameHeader(0x81, FLOOD_BYTES)); // final text frame
    feed(client);
}

void CHostilePeer::feed(QTcpSocket* client)
{
    while (client->state() == QAbstractSocket::ConnectedState
        && client->bytesToWrite() < MAX_QUEUED_BYTES) {
        const QByteArray chunk = nextChunk(client);
        if (chunk.isEmpty())
            return;
        client->write(chunk);
    }
}

// The next piece of the flood; empty once FLOOD_BYTES of payload are out. Header lines never
// end.
QByteArray CHostilePeer::nextChunk(QTcpSocket* client)
{
    qint64& sent = payloadSent[client];
    if (flood == HEADER_LINES) {
        const QByteArray line = "X-Flood: aaaaaaaaaaaaaaaa\r\n";
        return line.repeated(CHUNK_BYTES / line.size());
    }
    if (sent >= FLOOD_BYTES)
        return QByteArray();
    QByteArray chunk;
    if (flood == FRAGMENTED_MESSAGE) {
        const quint8 opcode = sent == 0 ? 0x01 : 0x00; // text, then continuation frames
        const quint8 fin = sent + CHUNK_BYTES >= FLOOD_BYTES ? 0x80 : 0x00;
        chunk = frameHeader(fin | opcode, CHUNK_BYTES);
    }
    sent += CHUNK_BYTES;
    return chunk + QByteArray(CHUNK_BYTES, 'a');
}

// The real executable (path from TARVEX_BINARY) against a network server that floods it.
class TestHostileNetworkServer : public QObject
{
    Q_OBJECT
private slots:
    void floodLeavesMemoryBounded_data();
    void floodLeavesMemoryBounded();
};

void TestHostileNetworkServer::floodLeavesMemoryBounded_data()
{
    QTest::addColumn<CHostilePeer::EFlood>("flood");

    QTest::newRow("endless header lines") << CHostilePeer::HEADER_LINES;
    QTest::newRow("one 100 MiB frame") << CHostilePeer::ONE_FRAME;
    QTest::newRow("100 MiB message in 64 KiB frames") << CHostilePeer::FRAGMENTED_MESSAGE;
}

// Whatever the network server sends, the service's memory stays bounded, and it connects
// again afterwards.
void TestHostileNetworkServer::floodLeavesMemoryBounded()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory makes the service's RSS no measure of what it keeps");
#endif
    QFETCH(CHostilePeer::EFlood, flood);

    CHostilePeer peer(flood);
    QVERIFY(peer.listen());
    QTemporaryDir dir;
    QFile settings(dir.filePath("settings.conf"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(QString("[server]\naddress=ws://127.0.0.1:%1\nlogin=gateway\npassword=secret\n"
                           "[webui]\nip=127.0.0.1\nport=%2\n")
                       .arg(peer.port())
                       .arg(freePort())
                       .toUtf8());
    settings.close();
    QProcess tarvex;
    tarvex.setWorkingDirectory(dir.path());
    tarvex.setStandardErrorFile(dir.filePath("console.txt"));
    tarvex.start(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")), QStringList());
    QVERIFY(tarvex.waitForStarted(WAIT_MS));

    // Gives up as soon as the bound is broken, so a service without it does not take the
    // machine's memory.
    const qint64 pid = tarvex.processId();
    const bool ended = QTest::qWaitFor(
        [&] { return peer.attempts() >= 2 || peakRssKiB(pid) >= PEAK_RSS_LIMIT_KIB; }, WAIT_MS);
    const qint64 peak = peakRssKiB(pid);
    tarvex.kill();
    tarvex.waitForFinished(WAIT_MS);

    QVERIFY2(ended, "the service connects again or breaks the bound");
    QVERIFY2(peak < PEAK_RSS_LIMIT_KIB, qPrintable(QString("peak RSS %1 KiB").arg(peak)));
    QCOMPARE(peer.attempts(), 2);
}

QTEST_GUILESS_MAIN(TestHostileNetworkServer)
#include "tst_hostilenetworkserver.moc"
