#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QVector>

// What the end-to-end tests share: a working directory with the template of a temperature,
// humidity and battery sensor and one such device stored on a Modbus port, its uplinks, and
// what the peers of the service see of them (Modbus registers, rows of the database file).
namespace SensorFixture {

// Bound of every wait for the service, generous for a loaded machine.
const int WAIT_MS = 10000;

extern const QString DEV_EUI;
// The device's first register; its registers, by offset: 0-1 time, 2 RSSI, 3 SNR,
// 4 temperature, 5 humidity, 6 battery.
extern const int START;
const int REGISTER_COUNT = 7;

// settings.conf text that points the service at a network server and has the web interface
// listen on loopback at webPort (0: a free port, for tests that do not use it).
QString serverSettings(const QUrl& networkServer, quint16 webPort = 0);
// Writes the template into dir's device folder and stores the device in dir's server.db.
bool prepare(const QString& dir, quint16 modbusPort);
// The network server's rx record of one uplink: temperature -26, humidity 65 and the given
// battery value, received at RSSI -70 and SNR -7.5.
QJsonObject uplink(quint16 battery);
// The device's registers after that uplink.
QVector<quint16> registersAfterUplink(quint16 battery);

// The device's registers read by a libmodbus master; empty when the read fails.
QVector<quint16> readRegisters(quint16 port);
// The stored full text of the register at START + offset, as in the database file.
QString storedFullValue(const QString& dbPath, int offset);
// SQLite's verdict on the database file: "ok" when it is intact.
QString integrityCheck(const QString& dbPath);

} // namespace SensorFixture
