#pragma once

#include "csimulateddevice.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// The simulator's device file: a JSON object with an optional "gatewayId" (16 hexadecimal
// digits) and a "devices" array. Each device has "devEui", "appEui", "name", "interval" (seconds
// between uplinks), optional "rssi" and "snr" (where its radio link starts) and "packets"; each
// packet a "type" (its first payload byte) and "fields", laid out after the type byte in order;
// each field a "size" in bytes (1, 2, 4, 8), a "type" ("integer" or "uinteger"), an optional
// "endianness" ("le", the default, or "be"), a "generator" ("drift", "counter" or "constant"),
// "start", optional "min" and "max" (the field's whole range by default) and "step" (1).
class CDeviceFile
{
public:
    // Reads and checks the file. On false, errorText() says what is wrong and where: the line
    // and column of a syntax error, the device, packet and field of a bad value.
    bool load(const QString& path);
    // The same check of a file's content; fileName stands for the file in the error text.
    bool parse(const QByteArray& content, const QString& fileName);

    QString errorText() const { return error; }
    QString gatewayId() const { return gateway; }
    QList<CSimulatedDevice> devices() const { return simulated; }

private:
    QString readDevice(const QJsonObject& object);
    QString readPacket(const QJsonObject& object, int number, CPacketGenerator& packet);
    static QString readField(const QJsonObject& object, CPacketGenerator::SField& field);

    QString fileName; // names the file in error texts
    QString error;
    QString gateway;
    QList<CSimulatedDevice> simulated;
};
