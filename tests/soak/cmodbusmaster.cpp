#include "cmodbusmaster.h"

#include "creadchecker.h"
#include "soaklayout.h"

#include <QHostAddress>
#include <QtEndian>

namespace {
const int ANSWER_TIMEOUT_MS = 3000;
const int HEADER_SIZE = 6; // transaction, protocol and length ahead of the unit id
const quint8 UNIT_ID = 1;
const quint8 READ_HOLDING_REGISTERS = 3;

quint32 registerPair(const uchar* data)
{
    return quint32(qFromBigEndian<quint16>(data)) << 16 | qFromBigEndian<quint16>(data + 2);
}
} // namespace

CModbusMaster::CModbusMaster(quint16 port, const QList<int>& devices, CReadChecker& checker)
    : port(port), devices(devices), checker(checker)
{
    connect(&timer, &QTimer::timeout, this, &CModbusMaster::poll);
    connect(&socket, &QTcpSocket::readyRead, this, &CModbusMaster::readAnswers);
    connect(&socket, &QTcpSocket::errorOccurred, this, [this] {
        this->checker.error();
        asked = -1;
        socket.abort();
    });
}

void CModbusMaster::start()
{
    timer.start(PERIOD_MS);
}

void CModbusMaster::stop()
{
    timer.stop();
    socket.abort();
}

void CModbusMaster::poll()
{
    if (asked >= 0 && sentAt.elapsed() < ANSWER_TIMEOUT_MS)
        return; // the previous answer is still due
    if (asked >= 0) {
        checker.timeout();
        asked = -1;
        socket.abort();
    }
    if (socket.state() == QAbstractSocket::UnconnectedState) {
        received.clear();
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    if (socket.state() == QAbstractSocket::ConnectedState)
        request();
}

void CModbusMaster::request()
{
    asked = devices[next];
    next = (next + 1) % devices.size();
    uchar frame[12];
    qToBigEndian<quint16>(++transaction, frame);
    qToBigEndian<quint16>(0, frame + 2);
    qToBigEndian<quint16>(6, frame + 4);
    frame[6] = UNIT_ID;
    frame[7] = READ_HOLDING_REGISTERS;
    qToBigEndian<quint16>(quint16(SoakLayout::startRegister(asked)), frame + 8);
    qToBigEndian<quint16>(quint16(SoakLayout::REGISTERS), frame + 10);
    sentAt.start();
    socket.write(reinterpret_cast<const char*>(frame), sizeof frame);
}

void CModbusMaster::readAnswers()
{
    received += socket.readAll();
    while (received.size() >= HEADER_SIZE) {
        const int size = HEADER_SIZE + qFromBigEndian<quint16>(received.constData() + 4);
        if (received.size() < size)
            return;
        takeAnswer(received.left(size));
        received.remove(0, size);
    }
}

void CModbusMaster::takeAnswer(const QByteArray& frame)
{
    const auto* data = reinterpret_cast<const uchar*>(frame.constData());
    const int byteCount = 2 * SoakLayout::REGISTERS;
    const bool valid = asked >= 0 && qFromBigEndian<quint16>(data) == transaction
        && frame.size() == 9 + byteCount && data[7] == READ_HOLDING_REGISTERS
        && data[8] == byteCount;
    if (valid)
        checker.answer(
            asked, registerPair(data + 9), registerPair(data + 13), sentAt.nsecsElapsed() / 1000);
    else
        checker.error();
    asked = -1;
}
