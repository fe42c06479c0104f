#include "modbus/cmodbusprotocol.h"

#include <QtTest>

using Protocol = CModbusProtocol;

// Frame reassembly on plain bytes; answers and exceptions are checked on the wire.
class tst_ModbusProtocol : public QObject
{
    Q_OBJECT
private slots:
    void peekFrame_data();
    void peekFrame();
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

QTEST_GUILESS_MAIN(tst_ModbusProtocol)
#include "tst_modbusprotocol.moc"
