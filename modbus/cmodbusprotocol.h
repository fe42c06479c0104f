#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// Modbus TCP framing and answers, free of any socket: takes received bytes, returns bytes to send.
class CModbusProtocol
{
public:
    // MBAP header as received; all fields are big-endian on the wire.
    struct SModbusMBAP
    {
        quint16 transactionId = 0;
        quint16 protocolId = 0;
        quint16 length = 0; // bytes that follow the length field
    };

    // Start of a request PDU.
    struct SModbusTcpPacketHeader
    {
        quint8 unitId = 0;
        quint8 functionCode = 0;
        quint16 startAddress = 0;
        quint16 quantity = 0;
    };

    enum EFrameStatus {
        FRAME_COMPLETE,
        FRAME_INCOMPLETE_HEADER, // not even the MBAP header yet
        FRAME_INCOMPLETE_BODY, // header known, rest of the frame still to come
        FRAME_TOO_SHORT, // complete, but too short for a read request: discard it
        FRAME_TOO_LONG, // longer than any Modbus TCP frame: the peer is not speaking Modbus
    };

    enum EExceptionCode : quint8 {
        EXCEPTION_NONE = 0,
        EXCEPTION_ILLEGAL_FUNCTION = 1,
        EXCEPTION_ILLEGAL_DATA_ADDRESS = 2,
        EXCEPTION_ILLEGAL_DATA_VALUE = 3,
        EXCEPTION_SERVER_DEVICE_FAILURE = 4,
    };

    struct SFrame
    {
        EFrameStatus status = FRAME_INCOMPLETE_HEADER;
        SModbusMBAP mbap;
        SModbusTcpPacketHeader header; // valid for FRAME_COMPLETE only
        int size = 0; // bytes the frame occupies; valid for FRAME_COMPLETE and FRAME_TOO_SHORT
    };

    static const int MBAP_SIZE = 6;
    static const int REQUEST_SIZE = 12; // MBAP, unit, function, start address, quantity
    static const int MAX_LENGTH_FIELD = 254; // unit id plus the largest PDU (253 bytes)
    static const int MAX_READ_QUANTITY = 125; // registers that fit one answer
    static const int REGISTER_COUNT = 65536;
    static const quint8 FC_READ_HOLDING_REGISTERS = 3;
    static const quint8 FC_READ_INPUT_REGISTERS = 4;

    // Examines the frame that starts at offset in bytes.
    static SFrame peekFrame(const QByteArray& bytes, int offset);
    // The exception a read request deserves, checked in protocol order, or EXCEPTION_NONE.
    static EExceptionCode checkRequest(const SModbusTcpPacketHeader& header);
    // The answer carrying words, in their order, as the requested registers.
    static QByteArray normalAnswer(const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header,
        const QVector<quint16>& words);
    static QByteArray exceptionAnswer(
        const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header, EExceptionCode code);
};
