#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <QVector>

#include <functional>
#include <vector>

// What the readers of one kind saw. A read is torn when its check value does not belong to its
// sequence number, goes backwards when it is older than the device's previous read, and is
// ahead when it names an uplink not sent yet.
struct SReads
{
    // sent: the uplinks sent to each device so far, the sequence number of its last one.
    explicit SReads(const QVector<quint32>& sent);
    // Sequence and check 0 stand for a device nothing was stored for yet.
    void answer(int device, quint32 sequence, quint32 check, qint64 latencyUs);
    // The answer time that this fraction of the answers did not exceed, in milliseconds.
    double percentileMs(double fraction);

    const QVector<quint32>& sent;
    qint64 answers = 0;
    qint64 errors = 0;
    qint64 timeouts = 0;
    qint64 torn = 0;
    qint64 backwards = 0;
    qint64 ahead = 0;
    QVector<quint32> last; // per device: the highest sequence number read
    std::vector<qint64> latenciesUs;
};

// A client of the service on one connection, opened again when it closes, one request at a
// time: a Modbus master reading the four registers of its devices in turn every 100 ms, or a
// browser asking getRegisterValues for its devices in turn once a second. A web client also
// makes the set-up's calls.
class CReader : public QObject
{
public:
    enum EKind { MODBUS, WEB };

    CReader(EKind kind, quint16 port, const QList<int>& devices = {}, SReads* reads = nullptr);

    void start() { timer.start(kind == MODBUS ? 100 : 1000); }
    void stop();
    // Waits for the answer of a web API call, the rest of the program running meanwhile.
    QJsonObject call(const QString& path, const QJsonObject& body = {});
    bool logIn();

private:
    enum EResult { ANSWERED, FAILED, TIMED_OUT };
    using Done = std::function<void(EResult, const QByteArray&)>;

    void poll();
    void take(int device, EResult result, const QByteArray& frame);
    void send(const QByteArray& bytes, const Done& then);
    QByteArray webRequest(
        const QString& path, const QByteArray& body, const QByteArray& contentType);
    QByteArray exchange(const QByteArray& bytes);
    void readAnswer();
    void finish(EResult result, const QByteArray& frame);

    EKind kind;
    quint16 port;
    QList<int> devices;
    SReads* reads;
    QTcpSocket socket;
    QTimer timer;
    QTimer deadline;
    QElapsedTimer sentAt;
    QByteArray request;
    QByteArray received;
    QByteArray sessionCookie;
    Done done;
    int next = 0;
    quint16 transaction = 0;
};
