#pragma once

#include "cdatabasehandler.h"
#include "clogfile.h"
#include "freeport.h"
#include "sapidevicedata.h"

#include <QtNetwork>
#include <QtTest>
#include <algorithm>
#include <memory>

// Shared set-up of the Modbus and registry tests: a real database file with devices and values.
namespace ModbusTest {

const int WAIT_MS = 5000;

// How many history-log entries contain text; the first call starts listening to the log.
inline int logged(const QString& text)
{
    static QSignalSpy spy(CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal);
    return int(std::count_if(spy.begin(), spy.end(), [&text](const QList<QVariant>& entry) {
        return entry.value(0).toString().contains(text);
    }));
}

// A connected client, or null when nobody accepts on the port.
inline std::unique_ptr<QTcpSocket> connectTo(quint16 port)
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, port);
    return client->waitForConnected(WAIT_MS) ? std::move(client) : nullptr;
}

// Sends the bytes and returns what arrives until answerSize bytes are there or time runs out.
inline QByteArray exchange(QTcpSocket& client, const QByteArray& request, int answerSize)
{
    client.write(request);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (received.size() < answerSize && timer.elapsed() < WAIT_MS) {
        QTest::qWait(1);
        received += client.readAll();
    }
    return received;
}

inline QByteArray readRequest(
    quint16 id, quint8 unit, quint8 function, quint16 start, quint16 count)
{
    return QByteArray::fromHex(
        QString::asprintf("%04x00000006%02x%02x%04x%04x", id, unit, function, start, count)
            .toLatin1());
}

// Reads the register image from the database, as the registry hands it to the listeners.
inline QVector<quint16> readFromDatabase(quint16 port, int first, int count)
{
    return CDataBaseHandler::getInstance()->getRegisterWords(port, first, count);
}

// A device whose register entries are { offset from startAddr, bit size }.
inline DB::SDeviceRegMapDescription device(const QString& devEui, quint16 port, int startAddr = 0,
    const QList<QPair<int, int>>& entries = {})
{
    DB::SDeviceRegMapDescription description {devEui, "0102030405060708", "", startAddr, {}, port};
    for (const QPair<int, int>& entry : entries)
        description.registers.append({"reg", 0, entry.first, entry.second, "uinteger", 0, 1, {}});
    return description;
}

// An uplink of the device carrying the payload given in hexadecimal.
inline API::SApiDeviceData uplink(const QString& devEui, const QByteArray& payloadHex)
{
    API::SApiDeviceData devData;
    devData.devEui = devEui;
    devData.data = QByteArray::fromHex(payloadHex);
    devData.valid = true;
    return devData;
}

// Opens the database file with two devices sharing one port: 16-, 32- and 64-bit values, an
// entry that never got a value and a gap without entries. Returns what registers 0..22 must
// read, or nothing when the set-up failed.
inline QVector<quint16> storeSharedPortLayout(const QString& fileName, quint16 port)
{
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    const QString first = "A000000000000001", second = "B000000000000002";
    QString error;
    if (!database->init(fileName)
        || !database->registerNewDevice(
            device(first, port, 0, {{0, 32}, {2, 16}, {3, 64}, {7, 16}}), error)
        || !database->registerNewDevice(device(second, port, 20, {{0, 16}, {1, 32}}), error))
        return {};
    const auto store
        = [database](const QString& devEui, int startAddr, int offset, const QString& value) {
              DB::SDbDeviceRegDataSet dataSet {devEui, startAddr, {}, {}};
              dataSet.appendRewriteData(value.left(4), offset, value); // as the decoder stores it
              database->saveRegisterData(dataSet);
          };
    store(first, 0, 0, "12345678");
    store(first, 0, 2, "beef");
    store(first, 0, 3, "0102030405060708");
    store(second, 20, 0, "00ff");
    store(second, 20, 1, "deadbeef");
    QVector<quint16> image = {0x1234, 0x5678, 0xbeef, 0x0102, 0x0304, 0x0506, 0x0708};
    image.resize(20);
    return image << 0x00ff << 0xdead << 0xbeef;
}

} // namespace ModbusTest
