#include "cdevicefile.h"

#include "nssimtexts.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {
const QString KEY_GATEWAY_ID = QStringLiteral("gatewayId");
const QString KEY_DEVICES = QStringLiteral("devices");
const QString KEY_DEV_EUI = QStringLiteral("devEui");
const QString KEY_APP_EUI = QStringLiteral("appEui");
const QString KEY_NAME = QStringLiteral("name");
const QString KEY_INTERVAL = QStringLiteral("interval");
const QString KEY_RSSI = QStringLiteral("rssi");
const QString KEY_SNR = QStringLiteral("snr");
const QString KEY_PACKETS = QStringLiteral("packets");
const QString KEY_TYPE = QStringLiteral("type");
const QString KEY_FIELDS = QStringLiteral("fields");
const QString KEY_SIZE = QStringLiteral("size");
const QString KEY_ENDIANNESS = QStringLiteral("endianness");
const QString KEY_GENERATOR = QStringLiteral("generator");
const QString KEY_START = QStringLiteral("start");
const QString KEY_MIN = QStringLiteral("min");
const QString KEY_MAX = QStringLiteral("max");
const QString KEY_STEP = QStringLiteral("step");

const QString DEFAULT_GATEWAY_ID = QStringLiteral("00800000A0001234");
const int DEFAULT_RSSI = -85;
const double MAX_INTERVAL_S = 86400;
const double DEFAULT_SNR = 7.5;

const QMap<QString, CValueGenerator::EKind> GENERATORS {
    {QStringLiteral("drift"), CValueGenerator::DRIFT},
    {QStringLiteral("counter"), CValueGenerator::COUNTER},
    {QStringLiteral("constant"), CValueGenerator::CONSTANT}};

bool isEui(const QJsonValue& value)
{
    static const QRegularExpression eui(QStringLiteral("^[0-9A-Fa-f]{16}$"));
    return eui.match(value.toString()).hasMatch();
}

// A JSON number without a fractional part that a double holds exactly.
bool readWholeNumber(const QJsonValue& value, qint64& number)
{
    const double maxExact = 9007199254740992.0; // 2^53
    const double d = value.toDouble(std::nan(""));
    if (!value.isDouble() || std::floor(d) != d || std::fabs(d) > maxExact)
        return false;
    number = qint64(d);
    return true;
}

// Reads an optional whole number into number; false when present but not a whole number.
bool readOptional(const QJsonObject& object, const QString& key, qint64& number)
{
    return !object.contains(key) || readWholeNumber(object.value(key), number);
}

// The values a field of this size and sign holds; 64-bit unsigned fields stop at the largest
// signed value.
void fieldRange(int size, bool isSigned, qint64& min, qint64& max)
{
    if (size == 8) {
        min = isSigned ? std::numeric_limits<qint64>::min() : 0;
        max = std::numeric_limits<qint64>::max();
        return;
    }
    const qint64 values = qint64(1) << (8 * size);
    min = isSigned ? -values / 2 : 0;
    max = isSigned ? values / 2 - 1 : values - 1;
}

// The line and column, counted from 1 as an editor does, of the character the parser stopped
// at: its error offset points just past that character.
void lineAndColumn(const QByteArray& content, int offset, int& line, int& column)
{
    const int position = std::max(offset - 1, 0);
    const QByteArray before = content.left(position);
    line = before.count('\n') + 1;
    column = position - (before.lastIndexOf('\n') + 1) + 1;
}
} // namespace

bool CDeviceFile::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = NsSimTexts::FILE_NOT_READ.arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), path);
}

bool CDeviceFile::parse(const QByteArray& content, const QString& fileName)
{
    this->fileName = fileName;
    simulated.clear();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        int line = 0;
        int column = 0;
        lineAndColumn(content, parseError.offset, line, column);
        error = NsSimTexts::FILE_SYNTAX.arg(fileName).arg(line).arg(column).arg(
            parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = NsSimTexts::FILE_NOT_OBJECT.arg(fileName);
        return false;
    }
    const QJsonObject top = document.object();
    gateway = top.value(KEY_GATEWAY_ID).toString(DEFAULT_GATEWAY_ID).toUpper();
    if (!isEui(gateway)) {
        error = NsSimTexts::FILE_BAD_GATEWAY.arg(fileName);
        return false;
    }
    const QJsonArray devices = top.value(KEY_DEVICES).toArray();
    if (devices.isEmpty()) {
        error = NsSimTexts::FILE_NO_DEVICES.arg(fileName);
        return false;
    }
    for (int i = 0; i < devices.size(); ++i) {
        const QJsonObject object = devices[i].toObject();
        const QString label = object.value(KEY_NAME).toString(object.value(KEY_DEV_EUI).toString());
        const QString problem
            = devices[i].isObject() ? readDevice(object) : NsSimTexts::NOT_AN_OBJECT;
        if (!problem.isEmpty()) {
            error = NsSimTexts::DEVICE_ERROR.arg(fileName).arg(i + 1).arg(label, problem);
            return false;
        }
    }
    return true;
}

// Appends the device to the simulated ones; the problem found otherwise.
QString CDeviceFile::readDevice(const QJsonObject& object)
{
    for (const QString& key : {KEY_DEV_EUI, KEY_APP_EUI}) {
        if (!isEui(object.value(key)))
            return NsSimTexts::BAD_EUI.arg(key);
    }
    const CSimulatedDevice::SIdentity identity {object.value(KEY_DEV_EUI).toString().toUpper(),
        object.value(KEY_APP_EUI).toString().toUpper(), object.value(KEY_NAME).toString()};
    for (const CSimulatedDevice& other : qAsConst(simulated)) {
        if (other.identity().devEui == identity.devEui)
            return NsSimTexts::DUPLICATE_EUI.arg(identity.devEui);
    }
    if (identity.name.isEmpty())
        return NsSimTexts::NO_NAME;
    const double intervalSeconds = object.value(KEY_INTERVAL).toDouble(0);
    if (!(intervalSeconds > 0 && intervalSeconds <= MAX_INTERVAL_S))
        return NsSimTexts::BAD_INTERVAL;
    qint64 rssi = DEFAULT_RSSI;
    if (!readOptional(object, KEY_RSSI, rssi))
        return NsSimTexts::BAD_NUMBER.arg(KEY_RSSI);
    const double snr = object.value(KEY_SNR).toDouble(DEFAULT_SNR);

    const QJsonArray packetArray = object.value(KEY_PACKETS).toArray();
    if (packetArray.isEmpty())
        return NsSimTexts::NO_PACKETS;
    QList<CPacketGenerator> packets;
    QSet<int> types;
    for (int i = 0; i < packetArray.size(); ++i) {
        CPacketGenerator packet;
        const QString problem = readPacket(packetArray[i].toObject(), i + 1, packet);
        if (!problem.isEmpty())
            return problem;
        if (types.contains(packet.type()))
            return NsSimTexts::DUPLICATE_PACKET_TYPE.arg(i + 1).arg(packet.type());
        types.insert(packet.type());
        packets.append(packet);
    }
    simulated.append(
        CSimulatedDevice(identity, qRound(intervalSeconds * 1000), packets, int(rssi), snr));
    return QString();
}

QString CDeviceFile::readPacket(const QJsonObject& object, int number, CPacketGenerator& packet)
{
    qint64 type = -1;
    if (!readWholeNumber(object.value(KEY_TYPE), type) || type < 0 || type > 255)
        return NsSimTexts::BAD_PACKET_TYPE.arg(number);
    const QJsonArray fieldArray = object.value(KEY_FIELDS).toArray();
    if (fieldArray.isEmpty())
        return NsSimTexts::NO_FIELDS.arg(number);
    QList<CPacketGenerator::SField> fields;
    for (int i = 0; i < fieldArray.size(); ++i) {
        CPacketGenerator::SField field;
        const QString problem = readField(fieldArray[i].toObject(), field);
        if (!problem.isEmpty())
            return NsSimTexts::FIELD_ERROR.arg(number).arg(i + 1).arg(problem);
        fields.append(field);
    }
    packet = CPacketGenerator(quint8(type), fields);
    return QString();
}

QString CDeviceFile::readField(const QJsonObject& object, CPacketGenerator::SField& field)
{
    qint64 size = 0;
    if (!readWholeNumber(object.value(KEY_SIZE), size)
        || !QList<qint64> {1, 2, 4, 8}.contains(size))
        return NsSimTexts::BAD_SIZE;
    const QString type = object.value(KEY_TYPE).toString();
    if (type != QLatin1String("integer") && type != QLatin1String("uinteger"))
        return NsSimTexts::BAD_TYPE;
    const QString endianness = object.value(KEY_ENDIANNESS).toString(QStringLiteral("le"));
    if (endianness != QLatin1String("le") && endianness != QLatin1String("be"))
        return NsSimTexts::BAD_ENDIANNESS;
    const QString generator = object.value(KEY_GENERATOR).toString();
    if (!GENERATORS.contains(generator))
        return NsSimTexts::BAD_GENERATOR;

    qint64 rangeMin = 0;
    qint64 rangeMax = 0;
    fieldRange(int(size), type == QLatin1String("integer"), rangeMin, rangeMax);
    qint64 start = 0;
    qint64 min = rangeMin;
    qint64 max = rangeMax;
    qint64 step = 1;
    if (!readWholeNumber(object.value(KEY_START), start))
        return NsSimTexts::BAD_NUMBER.arg(KEY_START);
    const std::pair<QString, qint64*> optionalNumbers[]
        = {{KEY_MIN, &min}, {KEY_MAX, &max}, {KEY_STEP, &step}};
    for (const auto& [key, number] : optionalNumbers) {
        if (!readOptional(object, key, *number))
            return NsSimTexts::BAD_NUMBER.arg(key);
    }
    if (!(rangeMin <= min && min <= start && start <= max && max <= rangeMax))
        return NsSimTexts::OUT_OF_RANGE.arg(rangeMin).arg(rangeMax);
    if (step < 1 || step > std::numeric_limits<int>::max())
        return NsSimTexts::BAD_STEP;
    field.size = int(size);
    field.bigEndian = endianness == QLatin1String("be");
    field.value = CValueGenerator(GENERATORS.value(generator), start, min, max, step);
    return QString();
}
