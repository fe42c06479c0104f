#include "cpayloaddecoder.h"

#include "clogfile.h"
#include "logquote.h"
#include "regsconstants.h"
#include "templatetexts.h"

#include <cmath>
#include <limits>

namespace {
const int BITS_PER_BYTE = 8;
const int DIGITS_PER_REGISTER = 4; // one 16-bit register holds four hexadecimal digits
const int DIGITS_32BIT = 8;
const int DIGITS_64BIT = 16;
const int DIGITS_PER_BYTE = 2;
const int TYPE_DIGITS = 2; // packet type in log messages
const int EUI_LAST_GROUP = 12; // character index of an EUI's last four-digit group
const quint64 MS_PER_SECOND = 1000;

// A value's first register lies within this many registers of the device's start register, on
// either side; further away it could not be a register of the 16-bit map.
const int MAX_REGISTER_DISTANCE = 65535;

// Register bit sizes above these limits make an EUI start at an earlier four-digit group.
const int EUI_ONE_REGISTER_BITS = 16;
const int EUI_TWO_REGISTERS_BITS = 32;
const int EUI_THREE_REGISTERS_BITS = 48;
// SNR and frame counter take two registers above this size, one otherwise.
const int ONE_REGISTER_BITS = 16;

// n in base 16, lower case, left-padded with zeros to at least width digits.
QString hexText(quint64 n, int width)
{
    return QString::number(n, 16).rightJustified(width, QLatin1Char('0'));
}

// The last width digits of a value: for a negative value its width*4-bit two's complement.
QString lowHex(qint64 n, int width)
{
    return hexText(static_cast<quint64>(n), width).right(width);
}

// Nearest integer, halves toward positive infinity. Out-of-range values saturate instead of
// overflowing; register texts keep only their low digits in any case.
qint64 roundHalfUp(double x)
{
    const double rounded = std::floor(x + 0.5);
    if (std::isnan(rounded))
        return 0;
    if (rounded >= static_cast<double>(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<qint64>::min()))
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(rounded);
}

// The same with a 32-bit result, as 1- and 2-byte fields and the SNR take it.
qint64 roundHalfUp32(double x)
{
    return qBound<qint64>(
        std::numeric_limits<qint32>::min(), roundHalfUp(x), std::numeric_limits<qint32>::max());
}

// Truncation toward zero to an unsigned 64-bit integer, saturating at both ends.
quint64 truncateUnsigned(double x)
{
    if (std::isnan(x) || x <= 0.0)
        return 0;
    if (x >= static_cast<double>(std::numeric_limits<quint64>::max()))
        return std::numeric_limits<quint64>::max();
    return static_cast<quint64>(x);
}

// Writes a value of several registers: the first carries the full text, the others only their
// four characters. Chunks past the end of the text are empty and write nothing.
void writeRegisters(
    DB::SDbDeviceRegDataSet& set, const QString& text, int regOffset, int registerCount)
{
    set.appendRewriteData(text.mid(0, DIGITS_PER_REGISTER), regOffset, text);
    for (int k = 1; k < registerCount; ++k)
        set.appendRewriteData(
            text.mid(k * DIGITS_PER_REGISTER, DIGITS_PER_REGISTER), regOffset + k, QString());
}

// An EUI goes to up to four registers; a smaller register size keeps only its last groups.
void writeEui(DB::SDbDeviceRegDataSet& set, const QString& eui, int regOffset, int regBitSize)
{
    int first = EUI_LAST_GROUP;
    if (regBitSize > EUI_THREE_REGISTERS_BITS)
        first = 0;
    else if (regBitSize > EUI_TWO_REGISTERS_BITS)
        first = 4;
    else if (regBitSize > EUI_ONE_REGISTER_BITS)
        first = 8;
    const QString rest = eui.mid(first, EUI_LAST_GROUP + DIGITS_PER_REGISTER - first);
    writeRegisters(set, rest, regOffset, (EUI_LAST_GROUP - first) / DIGITS_PER_REGISTER + 1);
}

// A 32-bit value in two registers, or only its low word in one.
void writeWord32(
    DB::SDbDeviceRegDataSet& set, const QString& digits, int regOffset, bool twoRegisters)
{
    if (twoRegisters) {
        writeRegisters(set, digits, regOffset, 2);
        return;
    }
    const QString low = digits.mid(DIGITS_PER_REGISTER, DIGITS_PER_REGISTER);
    set.appendRewriteData(low, regOffset, low);
}

// False, logged, for a value placed where no register of the device can be. Such a value is
// skipped, so that no register offset is ever computed past the range of an int.
bool fitsRegisterMap(int regOffset, const QString& name)
{
    if (regOffset >= -MAX_REGISTER_DISTANCE && regOffset <= MAX_REGISTER_DISTANCE)
        return true;
    addLog(
        TemplateTexts::VALUE_OUTSIDE_REGISTER_MAP.arg(logQuote(name), QString::number(regOffset)));
    return false;
}

void appendServerData(
    const REGS::SServerData& entry, const API::SApiDeviceData& data, DB::SDbDeviceRegDataSet& set)
{
    if (!fitsRegisterMap(entry.regMapBias, entry.dataName))
        return;
    const QString& code = entry.dataCode;
    const int r = entry.regMapBias;
    if (code == REGS::REGS_JSON_KEY_CODE_TS) {
        const QString t = hexText(data.ts / MS_PER_SECOND, DIGITS_32BIT);
        set.appendRewriteData(t.left(DIGITS_PER_REGISTER), r, t);
        set.appendRewriteData(t.right(DIGITS_PER_REGISTER), r + 1, QString());
    } else if (code == REGS::REGS_JSON_KEY_CODE_RSSI) {
        const QString v = lowHex(data.rssi, DIGITS_PER_REGISTER);
        set.appendRewriteData(v, r, v);
    } else if (code == REGS::REGS_JSON_KEY_CODE_GATEWAYID) {
        writeEui(set, data.gatewayId, r, entry.regBitSize);
    } else if (code == REGS::REGS_JSON_KEY_CODE_DEVEUI) {
        writeEui(set, data.devEui, r, entry.regBitSize);
    } else if (code == REGS::REGS_JSON_KEY_CODE_SNR) {
        writeWord32(set, lowHex(roundHalfUp32(data.snr), DIGITS_32BIT), r,
            entry.regBitSize > ONE_REGISTER_BITS);
    } else if (code == REGS::REGS_JSON_KEY_CODE_FCNT) {
        writeWord32(set, lowHex(data.fcnt, DIGITS_32BIT), r, entry.regBitSize > ONE_REGISTER_BITS);
    } else {
        addLog(TemplateTexts::UNKNOWN_DATA_CODE.arg(logQuote(code)));
    }
}

// The bytes as an unsigned number in the given byte order.
quint64 readUnsigned(const QByteArray& bytes, bool bigEndian)
{
    quint64 value = 0;
    const int size = bytes.size();
    for (int i = 0; i < size; ++i) {
        const int index = bigEndian ? i : size - 1 - i;
        value = (value << BITS_PER_BYTE) | static_cast<quint8>(bytes.at(index));
    }
    return value;
}

// Sign-extends a two's complement number of byteCount bytes.
qint64 signExtend(quint64 value, int byteCount)
{
    const int bits = byteCount * BITS_PER_BYTE;
    if (bits >= 64)
        return static_cast<qint64>(value);
    const quint64 signBit = quint64(1) << (bits - 1);
    return static_cast<qint64>((value ^ signBit) - signBit);
}

// Digits of a numeric field's register text: four for 1- and 2-byte values, two per byte
// otherwise.
int numberDigits(int byteCount)
{
    return byteCount <= 2 ? DIGITS_PER_REGISTER : byteCount * DIGITS_PER_BYTE;
}

// Register text of a numeric field after scaling by the register's parameters.
QString scaledText(double x, int byteCount, bool isSigned)
{
    if (byteCount == 8 && !isSigned)
        return hexText(truncateUnsigned(x), DIGITS_64BIT);
    const qint64 rounded = byteCount <= 2 ? roundHalfUp32(x) : roundHalfUp(x);
    return lowHex(rounded, numberDigits(byteCount));
}

// Register text of a numeric field read as raw. An unscaled value is written as read: a double
// holds only 53 bits, too few for a 64-bit value.
QString numberText(quint64 raw, int byteCount, bool isSigned, const DB::SDbDevRegParam& param)
{
    const qint64 value = isSigned ? signExtend(raw, byteCount) : static_cast<qint64>(raw);
    if (param.startValue == 0.0 && param.gratingPeriod == 1.0)
        return lowHex(value, numberDigits(byteCount));
    const double rawValue = isSigned ? static_cast<double>(value) : static_cast<double>(raw);
    return scaledText(param.startValue + rawValue * param.gratingPeriod, byteCount, isSigned);
}

bool isDecodableSize(int byteCount)
{
    return byteCount == 1 || byteCount == 2 || byteCount == 4 || byteCount == 8;
}

// Decodes one packet field into the set; every reason to skip it is logged.
void appendField(const REGS::SDevicePacketField& field, const API::SApiDeviceData& data,
    const DB::SDeviceRegMapDescription& device,
    const CPayloadDecoder::RegisterParamLookup& lookupParam, DB::SDbDeviceRegDataSet& set)
{
    // Bit-level fields are not decoded.
    if (field.dataBitBias % BITS_PER_BYTE != 0 || field.dataBitSize % BITS_PER_BYTE != 0) {
        addLog(TemplateTexts::UNSUPPORTED_BIT_LAYOUT);
        return;
    }
    const int byteCount = field.dataBitSize / BITS_PER_BYTE;
    if (!isDecodableSize(byteCount)) {
        addLog(TemplateTexts::UNSUPPORTED_DATA_SIZE.arg(byteCount));
        return;
    }
    const bool isInteger = field.dataType == REGS::REGS_JSON_KEY_TYPE_INT;
    const bool isUnsigned = field.dataType == REGS::REGS_JSON_KEY_TYPE_UINT;
    const bool isText = field.dataType == REGS::REGS_JSON_KEY_TYPE_TEXT;
    if (!isInteger && !isUnsigned && !isText) {
        addLog(TemplateTexts::UNSUPPORTED_DATA_TYPE.arg(
            logQuote(field.dataType), QString::number(byteCount)));
        return;
    }
    // A template whose fields exceed its packet size must not make us read past the payload.
    // Compared without adding to the offset, which may be as large as an int goes.
    if (field.packetBias < 0 || field.packetBias > data.data.size() - byteCount) {
        addLog(TemplateTexts::FIELD_OUTSIDE_PACKET.arg(logQuote(field.dataName),
            QString::number(field.packetBias), QString::number(byteCount),
            QString::number(data.data.size())));
        return;
    }
    if (!fitsRegisterMap(field.regMapBias, field.dataName))
        return;

    QByteArray bytes = data.data.mid(field.packetBias, byteCount);
    QString text;
    if (isText) {
        const int zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        text = QString::fromUtf8(bytes);
    } else {
        const DB::SDbDevRegParam param
            = lookupParam(data.devEui, static_cast<uint>(device.startAddr + field.regMapBias));
        text = numberText(readUnsigned(bytes, field.bigEndian), byteCount, isInteger, param);
    }
    // One register for 1- and 2-byte values, one per two bytes otherwise.
    writeRegisters(set, text, field.regMapBias, byteCount <= 2 ? 1 : byteCount / 2);
}
} // namespace

bool CPayloadDecoder::decode(const API::SApiDeviceData& data,
    const DB::SDeviceRegMapDescription& device, const REGS::SDeviceTemplate& deviceTemplate,
    const RegisterParamLookup& lookupParam, DB::SDbDeviceRegDataSet& dataSet)
{
    DB::SDbDeviceRegDataSet decoded;
    decoded.devEui = data.devEui;
    decoded.startAddr = device.startAddr;
    // When nothing is to be stored the caller gets the set without any register text.
    dataSet = decoded;

    for (const REGS::SServerData& entry : deviceTemplate.serverData)
        appendServerData(entry, data, decoded);

    const uint packetType = data.data.isEmpty() ? 0 : static_cast<quint8>(data.data.at(0));
    const QString typeText
        = QString::number(packetType).rightJustified(TYPE_DIGITS, QLatin1Char('0'));
    const auto packet = deviceTemplate.packets.constFind(packetType);
    if (packet == deviceTemplate.packets.constEnd()) {
        addLog(TemplateTexts::UNKNOWN_PACKET_TYPE.arg(typeText));
        return false;
    }
    if (packet->packetSize != data.data.size()) {
        addLog(TemplateTexts::INVALID_PACKET_SIZE.arg(typeText, logQuoteHex(data.data),
            QString::number(packet->packetSize), QString::number(data.data.size())));
        return false;
    }

    for (const REGS::SDevicePacketField& field : packet->fields)
        appendField(field, data, device, lookupParam, decoded);

    dataSet = decoded;
    return true;
}
