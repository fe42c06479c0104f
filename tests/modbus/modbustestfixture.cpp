#include "modbustestfixture.h"

#include "db/cdatabasehandler.h"

#include <QTcpServer>
#include <QtEndian>

namespace ModbusTest {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

bool openDatabase(const QString& fileName)
{
    return CDataBaseHandler::getInstance()->init(fileName);
}

bool registerDevice(
    const QString& devEui, quint16 port, int startAddr, const QList<QPair<int, int>>& entries)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = devEui;
    device.appEui = "0102030405060708";
    device.name = "test device";
    device.startAddr = startAddr;
    device.port = port;
    for (const QPair<int, int>& entry : entries) {
        REGS::SRegisterInfo info;
        info.name = QString("reg %1").arg(entry.first);
        info.regOffset = entry.first;
        info.bitSize = entry.second;
        info.dataType = "uinteger";
        device.registers.append(info);
    }
    QString errorText;
    return CDataBaseHandler::getInstance()->registerNewDevice(device, errorText);
}

void storeValue(const QString& devEui, int startAddr, int offset, const QString& fullValue)
{
    DB::SDbDeviceRegDataSet dataSet;
    dataSet.devEui = devEui;
    dataSet.startAddr = startAddr;
    dataSet.appendRewriteData(fullValue.left(4), offset, fullValue);
    CDataBaseHandler::getInstance()->saveRegisterData(dataSet);
}

bool storeSharedPortLayout(quint16 port)
{
    const QString first = "A000000000000001";
    const QString second = "B000000000000002";
    if (!registerDevice(first, port, 0, {{0, 32}, {2, 16}, {3, 64}, {7, 16}}))
        return false;
    if (!registerDevice(second, port, 20, {{0, 16}, {1, 32}}))
        return false;
    storeValue(first, 0, 0, "12345678");
    storeValue(first, 0, 2, "beef");
    storeValue(first, 0, 3, "0102030405060708");
    storeValue(second, 20, 0, "00ff");
    storeValue(second, 20, 1, "deadbeef");
    return true;
}

QVector<quint16> expectedRegisters()
{
    QVector<quint16> registers(23, 0);
    registers[0] = 0x1234;
    registers[1] = 0x5678;
    registers[2] = 0xbeef;
    registers[3] = 0x0102;
    registers[4] = 0x0304;
    registers[5] = 0x0506;
    registers[6] = 0x0708;
    registers[20] = 0x00ff;
    registers[21] = 0xdead;
    registers[22] = 0xbeef;
    return registers;
}

QByteArray readRequest(
    quint16 transactionId, quint8 unitId, quint8 functionCode, quint16 start, quint16 quantity)
{
    QByteArray request(12, '\0');
    char* data = request.data();
    qToBigEndian<quint16>(transactionId, data);
    qToBigEndian<quint16>(6, data + 4);
    data[6] = static_cast<char>(unitId);
    data[7] = static_cast<char>(functionCode);
    qToBigEndian<quint16>(start, data + 8);
    qToBigEndian<quint16>(quantity, data + 10);
    return request;
}

int countLogged(const QSignalSpy& spy, const QString& text)
{
    int count = 0;
    for (const QList<QVariant>& arguments : spy) {
        if (arguments.value(0).toString().contains(text))
            ++count;
    }
    return count;
}

bool logged(const QSignalSpy& spy, const QString& text)
{
    return countLogged(spy, text) > 0;
}

} // namespace ModbusTest
