#include "regvaluetostring.h"

#include "clogfile.h"
#include "dbtexts.h"

namespace {
const QString NO_VALUE = QStringLiteral("-");

// Reads the first 2, 4 or 8 bytes of a hexadecimal text as a big-endian two's-complement
// number; bytes missing at the end count as 0.
QString signedHexToString(const QString& text, int bitSize)
{
    const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
    const int width = bitSize <= 16 ? 2 : (bitSize == 32 ? 4 : 8);
    quint64 raw = 0;
    for (int i = 0; i < width; ++i)
        raw = (raw << 8) | (i < bytes.size() ? quint8(bytes.at(i)) : 0u);

    qint64 number = 0;
    if (width == 2)
        number = static_cast<qint16>(raw);
    else if (width == 4)
        number = static_cast<qint32>(raw);
    else
        number = static_cast<qint64>(raw);
    return QString::number(number);
}
} // namespace

QString regValueToString(const QString& dataType, const QVariant& value, int bitSize)
{
    if (dataType == QLatin1String("boolean")) {
        addLog(DbTexts::BOOLEAN_UNSUPPORTED);
        return NO_VALUE;
    }
    if (dataType == QLatin1String("text")) {
        if (value.isNull())
            return NO_VALUE;
        const QString text = value.toString();
        return text.left(text.indexOf(QChar(0)));
    }
    if (dataType == QLatin1String("integer")) {
        if (value.isNull())
            return NO_VALUE;
        return signedHexToString(value.toString(), bitSize);
    }
    if (dataType == QLatin1String("uinteger")) {
        if (value.isNull())
            return NO_VALUE;
        bool ok = false;
        const qulonglong number = value.toString().toULongLong(&ok, 16);
        return ok ? QString::number(number) : QStringLiteral("0");
    }
    addLog(DbTexts::UNKNOWN_DATA_TYPE.arg(dataType));
    return NO_VALUE;
}
