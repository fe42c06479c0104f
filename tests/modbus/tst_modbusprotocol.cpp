#include "modbus/cmodbusprotocol.h"

#include <QtTest>

using Protocol = CModbusProtocol;

class tst_ModbusProtocol : public QObject
{
    Q_OBJECT
private slots:
    void peekFrame_data();
    void peekFrame();
    void checkRequest_data();
    void checkRequest();
    void answers();
};

void tst_ModbusProtocol::peekFrame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("size");

    const QByteArray request = QByteArray::fromHex("000100000006010300000002");
    QTest::newRow("empty") << QByteArray() << 0 << int(Protocol::FRAME_INCOMPLETE_HEADER) << 0;
    QTest::newRow("five bytes") << request.left(5) << 0 << int(Protocol::FRAME_INCOMPLETE_HEADER)
                                << 0;
    QTest::newRow("header only") << request.left(6) << 0 << int(Protocol::FRAME_INCOMPLETE_BODY)
                                 << 12;
    QTest::newRow("one byte short")
        << request.left(11) << 0 << int(Protocol::FRAME_INCOMPLETE_BODY) << 12;
    QTest::newRow("complete") << request << 0 << int(Protocol::FRAME_COMPLETE) << 12;
    QTest::newRow("second frame") << request + request << 12 << int(Protocol::FRAME_COMPLETE) << 12;
    QTest::newRow("extra pdu bytes") << QByteArray::fromHex("00010000000801030000000200ff") << 0
                                     << int(Protocol::FRAME_COMPLETE) << 14;
    QTest::newRow("length 5 is too short") << QByteArray::fromHex("0001000000050103000000") << 0
                                           << int(Protocol::FRAME_TOO_SHORT) << 11;
    QTest::newRow("length 0 is too short")
        << QByteArray::fromHex("000100000000") << 0 << int(Protocol::FRAME_TOO_SHORT) << 6;
    QTest::newRow("longest frame waits") << QByteArray::fromHex("0001000000fe01") << 0
                                         << int(Protocol::FRAME_INCOMPLETE_BODY) << 260;
    // Judged on the header alone: nothing is buffered waiting for such a body.
    QTest::newRow("length 255 is garbage")
        << QByteArray::fromHex("0001000000ff") << 0 << int(Protocol::FRAME_TOO_LONG) << 261;
    QTest::newRow("length 65535 is garbage")
        << QByteArray::fromHex("00010000ffff") << 0 << int(Protocol::FRAME_TOO_LONG) << 65541;
}

void tst_ModbusProtocol::peekFrame()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, offset);
    QFETCH(int, status);
    QFETCH(int, size);

    const Protocol::SFrame frame = Protocol::peekFrame(bytes, offset);
    QCOMPARE(int(frame.status), status);
    if (status != Protocol::FRAME_INCOMPLETE_HEADER)
        QCOMPARE(frame.size, size);
    if (status == Protocol::FRAME_COMPLETE) {
        QCOMPARE(frame.mbap.transactionId, quint16(1));
        QCOMPARE(frame.header.unitId, quint8(1));
        QCOMPARE(frame.header.functionCode, quint8(3));
        QCOMPARE(frame.header.startAddress, quint16(0));
        QCOMPARE(frame.header.quantity, quint16(2));
    }
}

void tst_ModbusProtocol::checkRequest_data()
{
    QTest::addColumn<int>("functionCode");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<int>("exception");

    QTest::newRow("fc3") << 3 << 0 << 125 << int(Protocol::EXCEPTION_NONE);
    QTest::newRow("fc4") << 4 << 100 << 10 << int(Protocol::EXCEPTION_NONE);
    QTest::newRow("quantity 0") << 3 << 65535 << 0 << int(Protocol::EXCEPTION_NONE);
    QTest::newRow("last register") << 3 << 65535 << 1 << int(Protocol::EXCEPTION_NONE);
    QTest::newRow("fc1") << 1 << 0 << 1 << int(Protocol::EXCEPTION_ILLEGAL_FUNCTION);
    QTest::newRow("fc6") << 6 << 0 << 1 << int(Protocol::EXCEPTION_ILLEGAL_FUNCTION);
    QTest::newRow("fc16") << 16 << 0 << 1 << int(Protocol::EXCEPTION_ILLEGAL_FUNCTION);
    QTest::newRow("quantity 126") << 3 << 0 << 126 << int(Protocol::EXCEPTION_ILLEGAL_DATA_VALUE);
    QTest::newRow("past 65535") << 4 << 65535 << 2 << int(Protocol::EXCEPTION_ILLEGAL_DATA_ADDRESS);
    QTest::newRow("ends at 65535") << 3 << 65411 << 125 << int(Protocol::EXCEPTION_NONE);
    // Protocol order: function code, then quantity, then address range.
    QTest::newRow("bad function wins")
        << 6 << 65535 << 500 << int(Protocol::EXCEPTION_ILLEGAL_FUNCTION);
    QTest::newRow("quantity before range")
        << 3 << 65535 << 500 << int(Protocol::EXCEPTION_ILLEGAL_DATA_VALUE);
}

void tst_ModbusProtocol::checkRequest()
{
    QFETCH(int, functionCode);
    QFETCH(int, start);
    QFETCH(int, quantity);
    QFETCH(int, exception);

    Protocol::SModbusTcpPacketHeader header;
    header.functionCode = quint8(functionCode);
    header.startAddress = quint16(start);
    header.quantity = quint16(quantity);
    QCOMPARE(int(Protocol::checkRequest(header)), exception);
}

void tst_ModbusProtocol::answers()
{
    Protocol::SModbusMBAP mbap;
    mbap.transactionId = 1;
    Protocol::SModbusTcpPacketHeader header;
    header.unitId = 1;
    header.functionCode = 3;
    const QMap<quint16, quint16> registers {{0, 0x1234}, {1, 0x5678}};
    QCOMPARE(Protocol::normalAnswer(mbap, header, registers).toHex(),
        QByteArray("00010000000701030412345678"));
    QCOMPARE(Protocol::normalAnswer(mbap, header, {}).toHex(), QByteArray("000100000003010300"));

    mbap.transactionId = 0x0102;
    mbap.protocolId = 0xabcd;
    header.unitId = 17;
    header.functionCode = 6;
    QCOMPARE(Protocol::exceptionAnswer(mbap, header, Protocol::EXCEPTION_ILLEGAL_FUNCTION).toHex(),
        QByteArray("0102abcd0003118601"));
    header.functionCode = 4;
    QCOMPARE(
        Protocol::exceptionAnswer(mbap, header, Protocol::EXCEPTION_ILLEGAL_DATA_ADDRESS).toHex(),
        QByteArray("0102abcd0003118402"));
}

QTEST_GUILESS_MAIN(tst_ModbusProtocol)
#include "tst_modbusprotocol.moc"
