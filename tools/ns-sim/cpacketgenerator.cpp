#include "cpacketgenerator.h"

CPacketGenerator::CPacketGenerator(quint8 type, const QList<SField>& fields)
    : packetType(type), fields(fields)
{
}

QByteArray CPacketGenerator::next(QRandomGenerator& random)
{
    QByteArray payload(1, char(packetType));
    for (SField& field : fields) {
        payload.append(encode(field));
        field.value.advance(random);
    }
    return payload;
}

// The low bytes of the value's two's complement, which serves signed and unsigned fields alike.
QByteArray CPacketGenerator::encode(const SField& field)
{
    const quint64 bits = quint64(field.value.value());
    QByteArray bytes;
    for (int i = 0; i < field.size; ++i) {
        const char byte = char((bits >> (8 * i)) & 0xff);
        if (field.bigEndian)
            bytes.prepend(byte);
        else
            bytes.append(byte);
    }
    return bytes;
}
