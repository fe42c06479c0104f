#pragma once

#include "cvaluegenerator.h"

#include <QByteArray>
#include <QList>

class QRandomGenerator;

// The payloads of one packet type of a simulated device: the type byte, then each field's
// current value in its size and byte order, fields back to back.
class CPacketGenerator
{
public:
    struct SField
    {
        int size = 1; // bytes: 1, 2, 4 or 8
        bool bigEndian = false;
        CValueGenerator value;
    };

    CPacketGenerator() = default;
    CPacketGenerator(quint8 type, const QList<SField>& fields);

    quint8 type() const { return packetType; }
    // The payload of the current values; then every value moves on for the next uplink.
    QByteArray next(QRandomGenerator& random);

private:
    static QByteArray encode(const SField& field);

    quint8 packetType = 0;
    QList<SField> fields;
};
