#include "creader.h"

#include "soaklayout.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QtEndian>

#include <algorithm>

namespace {
const int MODBUS_TIMEOUT_MS = 3000;
const int WEB_TIMEOUT_MS = 10000;
const int MODBUS_HEADER_SIZE = 6; // transaction, protocol and length ahead of the unit id
const quint8 READ_HOLDING_REGISTERS = 3;
const QByteArray HEADER_END = "\r\n\r\n";

quint32 registerPair(const uchar* data)
{
    return quint32(qFromBigEndian<quint16>(data)) << 16 | qFromBigEndian<quint16>(data + 2);
}

QByteArray headerValue(const QByteArray& answer, const QString& name)
{
    const QRegularExpression header("^" + name + ":\\s*([^\r]*)",
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    return header.match(QString::fromLatin1(answer.left(answer.indexOf(HEADER_END))))
        .captured(1)
        .toLatin1();
}

// The body of a 200 answer; empty for any other.
QByteArray okBody(const QByteArray& answer)
{
    if (!answer.startsWith("HTTP/1.1 200 "))
        return {};
    return answer.mid(answer.indexOf(HEADER_END) + HEADER_END.size());
}
} // namespace

SReads::SReads(const QVector<quint32>& sent) : sent(sent), last(SoakLayout::DEVICE_COUNT, 0)
{
}

void SReads::answer(int device, quint32 sequence, quint32 check, qint64 latencyUs)
{
    ++answers;
    latenciesUs.push_back(latencyUs);
    const bool nothingStored = sequence == 0 && check == 0;
    if (!nothingStored && check != sequence + SoakLayout::CHECK_OFFSET)
        ++torn;
    if (sequence < last[device])
        ++backwards;
    if (sequence > sent[device])
        ++ahead;
    last[device] = std::max(last[device], sequence);
}

double SReads::percentileMs(double fraction)
{
    if (latenciesUs.empty())
        return 0;
    std::sort(latenciesUs.begin(), latenciesUs.end());
    const size_t index = std::min(latenciesUs.size() - 1, size_t(fraction * latenciesUs.size()));
    return latenciesUs[index] / 1000.0;
}

// Each request goes out in one write with Nagle's delay off, as browsers send it: a client that
// writes the body apart waits for the service's delayed acknowledgement (40 ms) every time.
CReader::CReader(EKind kind, quint16 port, const QList<int>& devices, SReads* reads)
    : kind(kind), port(port), devices(devices), reads(reads)
{
    deadline.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &CReader::poll);
    connect(&deadline, &QTimer::timeout, this, [this] {
        socket.abort();
        finish(TIMED_OUT, {});
    });
    connect(&socket, &QTcpSocket::connected, this, [this] {
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.write(request);
    });
    connect(&socket, &QTcpSocket::readyRead, this, &CReader::readAnswer);
    connect(&socket, &QTcpSocket::errorOccurred, this, [this] {
        socket.abort();
        finish(FAILED, {});
    });
}

void CReader::stop()
{
    timer.stop();
    deadline.stop();
    done = nullptr;
    socket.abort();
}

void CReader::poll()
{
    if (done)
        return; // the answer is still due; the deadline ends it
    const int device = devices[next];
    next = (next + 1) % devices.size();
    const Done then
        = [this, device](EResult result, const QByteArray& frame) { take(device, result, frame); };
    if (kind == WEB) {
        const QJsonObject body {{"devEui", SoakLayout::devEui(device)}};
        send(webRequest("app/getRegisterValues", QJsonDocument(body).toJson(QJsonDocument::Compact),
                 "application/json"),
            then);
        return;
    }
    uchar frame[12];
    qToBigEndian<quint16>(++transaction, frame);
    qToBigEndian<quint16>(0, frame + 2);
    qToBigEndian<quint16>(6, frame + 4);
    frame[6] = 1; // unit id
    frame[7] = READ_HOLDING_REGISTERS;
    qToBigEndian<quint16>(quint16(SoakLayout::startRegister(device)), frame + 8);
    qToBigEndian<quint16>(quint16(SoakLayout::REGISTERS), frame + 10);
    send(QByteArray(reinterpret_cast<const char*>(frame), sizeof frame), then);
}

void CReader::take(int device, EResult result, const QByteArray& frame)
{
    if (result == TIMED_OUT) {
        ++reads->timeouts;
        return;
    }
    bool valid = result == ANSWERED;
    quint32 sequence = 0;
    quint32 check = 0;
    if (kind == MODBUS) {
        const auto* data = reinterpret_cast<const uchar*>(frame.constData());
        valid = valid && frame.size() == 9 + 2 * SoakLayout::REGISTERS
            && qFromBigEndian<quint16>(data) == transaction && data[7] == READ_HOLDING_REGISTERS;
        if (valid) {
            sequence = registerPair(data + 9);
            check = registerPair(data + 13);
        }
    } else {
        const QJsonObject values = QJsonDocument::fromJson(okBody(frame)).object();
        valid = valid && values.value("result").toBool();
        const QJsonArray registers = values.value("registers").toArray();
        sequence = SoakLayout::shownValue(registers, device, 0);
        check = SoakLayout::shownValue(registers, device, 2);
    }
    if (valid)
        reads->answer(device, sequence, check, sentAt.nsecsElapsed() / 1000);
    else
        ++reads->errors;
}

void CReader::send(const QByteArray& bytes, const Done& then)
{
    request = bytes;
    done = then;
    received.clear();
    sentAt.start();
    deadline.start(kind == MODBUS ? MODBUS_TIMEOUT_MS : WEB_TIMEOUT_MS);
    if (socket.state() == QAbstractSocket::ConnectedState)
        socket.write(request);
    else if (socket.state() == QAbstractSocket::UnconnectedState)
        socket.connectToHost(QHostAddress::LocalHost, port);
}

// The request bytes of a web API call.
QByteArray CReader::webRequest(
    const QString& path, const QByteArray& body, const QByteArray& contentType)
{
    return "POST /api/v1/" + path.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1:"
        + QByteArray::number(port) + "\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size())
        + (sessionCookie.isEmpty() ? QByteArray() : "\r\nCookie: SID=" + sessionCookie) + HEADER_END
        + body;
}

void CReader::readAnswer()
{
    received += socket.readAll();
    int size = -1;
    if (kind == MODBUS && received.size() >= MODBUS_HEADER_SIZE)
        size = MODBUS_HEADER_SIZE + qFromBigEndian<quint16>(received.constData() + 4);
    const int headEnd = received.indexOf(HEADER_END);
    if (kind == WEB && headEnd >= 0)
        size = headEnd + HEADER_END.size() + headerValue(received, "content-length").toInt();
    if (size >= 0 && received.size() >= size)
        finish(ANSWERED, received.left(size));
}

void CReader::finish(EResult result, const QByteArray& frame)
{
    deadline.stop();
    received.clear();
    if (!done)
        return;
    // The callback may send the next request, which sets a new one.
    const Done finished = std::move(done);
    done = nullptr;
    finished(result, frame);
}

// Sends a request and waits for its answer, the rest of the program running meanwhile.
QByteArray CReader::exchange(const QByteArray& bytes)
{
    QEventLoop loop;
    QByteArray answer;
    send(bytes, [&](EResult, const QByteArray& frame) {
        answer = frame;
        loop.quit();
    });
    if (done)
        loop.exec();
    return answer;
}

QJsonObject CReader::call(const QString& path, const QJsonObject& body)
{
    const QByteArray answer = exchange(
        webRequest(path, QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json"));
    return QJsonDocument::fromJson(okBody(answer)).object();
}

bool CReader::logIn()
{
    const QByteArray answer = exchange(webRequest("auth/login",
        "username=" + QUrl::toPercentEncoding(SoakLayout::LOGIN)
            + "&password=" + QUrl::toPercentEncoding(SoakLayout::PASSWORD),
        "application/x-www-form-urlencoded"));
    const QByteArray cookie = headerValue(answer, "set-cookie");
    if (cookie.startsWith("SID="))
        sessionCookie = cookie.mid(4, cookie.indexOf(';') - 4);
    return okBody(answer) == "Ok.";
}
