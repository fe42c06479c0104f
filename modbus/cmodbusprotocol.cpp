#include "cmodbusprotocol.h"

#include <QtEndian>

namespace {
quint16 readWord(const QByteArray& bytes, int offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

void appendWord(QByteArray& bytes, quint16 value)
{
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xff));
}

// The answer always starts with the request's ids and a length covering unit, function and data.
QByteArray answerHead(const CModbusProtocol::SModbusMBAP& mbap,
    const CModbusProtocol::SModbusTcpPacketHeader& header, quint16 length, quint8 functionCode)
{
    QByteArray answer;
    answer.reserve(CModbusProtocol::MBAP_SIZE + length);
    appendWord(answer, mbap.transactionId);
    appendWord(answer, mbap.protocolId);
    appendWord(answer, length);
    answer.append(static_cast<char>(header.unitId));
    answer.append(static_cast<char>(functionCode));
    return answer;
}
} // namespace

CModbusProtocol::SFrame CModbusProtocol::peekFrame(const QByteArray& bytes, int offset)
{
    SFrame frame;
    const int available = bytes.size() - offset;
    if (available < MBAP_SIZE) {
        frame.status = FRAME_INCOMPLETE_HEADER;
        return frame;
    }
    frame.mbap.transactionId = readWord(bytes, offset);
    frame.mbap.protocolId = readWord(bytes, offset + 2);
    frame.mbap.length = readWord(bytes, offset + 4);
    frame.size = MBAP_SIZE + frame.mbap.length;

    // Checked before waiting for the body, so a bogus length never makes us buffer 64 KiB.
    if (frame.mbap.length > MAX_LENGTH_FIELD)
        frame.status = FRAME_TOO_LONG;
    else if (available < frame.size)
        frame.status = FRAME_INCOMPLETE_BODY;
    else if (frame.size < REQUEST_SIZE)
        frame.status = FRAME_TOO_SHORT;
    else {
        frame.status = FRAME_COMPLETE;
        frame.header.unitId = static_cast<quint8>(bytes.at(offset + 6));
        frame.header.functionCode = static_cast<quint8>(bytes.at(offset + 7));
        frame.header.startAddress = readWord(bytes, offset + 8);
        frame.header.quantity = readWord(bytes, offset + 10);
    }
    return frame;
}

CModbusProtocol::EExceptionCode CModbusProtocol::checkRequest(const SModbusTcpPacketHeader& header)
{
    if (header.functionCode != FC_READ_HOLDING_REGISTERS
        && header.functionCode != FC_READ_INPUT_REGISTERS)
        return EXCEPTION_ILLEGAL_FUNCTION;
    if (header.quantity > MAX_READ_QUANTITY)
        return EXCEPTION_ILLEGAL_DATA_VALUE;
    if (header.startAddress + header.quantity > REGISTER_COUNT)
        return EXCEPTION_ILLEGAL_DATA_ADDRESS;
    return EXCEPTION_NONE;
}

QByteArray CModbusProtocol::normalAnswer(
    const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header, const QVector<quint16>& words)
{
    const int byteCount = 2 * words.size();
    QByteArray answer
        = answerHead(mbap, header, static_cast<quint16>(byteCount + 3), header.functionCode);
    answer.append(static_cast<char>(byteCount & 0xff));
    // Written in place: an answer of 125 registers is built for every read, so it must be cheap.
    const int dataStart = answer.size();
    answer.resize(dataStart + byteCount);
    char* data = answer.data() + dataStart;
    for (const quint16 value : words) {
        qToBigEndian<quint16>(value, data);
        data += 2;
    }
    return answer;
}

QByteArray CModbusProtocol::exceptionAnswer(
    const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header, EExceptionCode code)
{
    QByteArray answer = answerHead(mbap, header, 3, header.functionCode | 0x80);
    answer.append(static_cast<char>(code));
    return answer;
}
