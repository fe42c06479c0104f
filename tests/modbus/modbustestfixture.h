#pragma once

#include "cdatabasehandler.h"
#include "clogfile.h"
#include "freeport.h"

#include <QtNetwork>
#include <QtTest>
#include <algorithm>
#include <memory>

// Shared set-up of the Modbus and registry tests: devices in a real database file, masters on
// loopback, and the history log.
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

// A device starting at register 0 whose register entries are { offset, bit size }.
inline DB::SDeviceRegMapDescription device(
    const QString& devEui, quint16 port, const QList<QPair<int, int>>& entries = {})
{
    DB::SDeviceRegMapDescription description {devEui, "0102030405060708", "", 0, {}, port};
    for (const QPair<int, int>& entry : entries)
        description.registers.append({"reg", 0, entry.first, entry.second, "uinteger", 0, 1, {}});
    return description;
}

} // namespace ModbusTest
