#include "appcontroller.h"

#include "apijsonkeys.h"
#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "clogfile.h"
#include "commconstants.h"
#include "newdevicereader.h"
#include "webtexts.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QLocale>

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

namespace {
// 2^53: whole numbers up to it are exact in a double.
constexpr double MAX_EXACT_INTEGER = 9007199254740992.0;
// About the length of one row of the register answer.
constexpr int ANSWER_RESERVE_PER_ROW = 256;
const QString TIME_FORMAT = QStringLiteral("dd-MMM-yy HH:mm:ss");
// When this file was compiled, e.g. "Oct 22 2024 12:27:44".
const QString BUILD_TIME = QStringLiteral(__DATE__ " " __TIME__);

QJsonObject deviceObject(const DB::SDeviceRegMapDescription& device)
{
    return {
        {HTTP::API_JSON_KEY_DEV_EUI, device.devEui},
        {HTTP::API_JSON_KEY_DEV_APP_EUI, device.appEui},
        {HTTP::API_JSON_KEY_DEV_TYPE, device.name},
        {HTTP::API_JSON_KEY_START_ADDR, device.startAddr},
        {HTTP::API_JSON_KEY_PORT, device.port},
        {HTTP::API_JSON_KEY_ID, device.id},
    };
}

QString timeText(quint64 timeMs)
{
    if (timeMs == 0)
        return WebTexts::NEVER;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(timeMs)).toString(TIME_FORMAT);
}

// The time texts of one answer. Every conversion to local time reads the time-zone file, and
// the rows that uplinks wrote within one second share their text, so each such second is
// converted once. (Offsets from UTC are whole seconds, so the text changes only between them.)
class TimeTexts
{
public:
    QString text(quint64 timeMs)
    {
        // Zero means never written; times beyond the signed range read as before 1970, where
        // the division below would not give their second.
        if (timeMs == 0 || timeMs > quint64(std::numeric_limits<qint64>::max()))
            return timeText(timeMs);
        const quint64 second = timeMs / 1000;
        auto found = texts.constFind(second);
        if (found == texts.constEnd())
            found = texts.insert(second, timeText(timeMs));
        return *found;
    }

private:
    QHash<quint64, QString> texts; // by whole seconds since 1970
};

const char HEX_DIGITS[] = "0123456789abcdef";

// The register answer is written here rather than built from QJsonObject rows and serialised,
// which cost more than all the rest of the request. The functions below write what
// QJsonDocument::toJson(QJsonDocument::Compact) writes for the same values.

// From c on, the characters that go out as UTF-8 unchanged: non-ASCII ones, with surrogates
// only in pairs.
const QChar* utf8RunEnd(const QChar* c, const QChar* end)
{
    while (c != end && c->unicode() >= 0x80) {
        if (!c->isSurrogate())
            ++c;
        else if (c->isHighSurrogate() && c + 1 != end && (c + 1)->isLowSurrogate())
            c += 2;
        else
            break;
    }
    return c;
}

// A quote, backslash or control character, escaped as JSON needs it, or a lone surrogate as
// \uXXXX.
void appendEscaped(QByteArray& out, ushort unit)
{
    switch (unit) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    }
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += HEX_DIGITS[(unit >> shift) & 0xf];
}

bool isPlainAscii(QChar c)
{
    return c.unicode() >= 0x20 && c.unicode() < 0x80 && c != QLatin1Char('"')
        && c != QLatin1Char('\\');
}

// Plain ASCII, most of every answer, is copied in runs rather than character by character.
void appendPlainAscii(QByteArray& out, const QChar* begin, const QChar* end)
{
    const int start = out.size();
    out.resize(start + static_cast<int>(end - begin));
    char* to = out.data() + start;
    for (const QChar* c = begin; c != end; ++c)
        *to++ = static_cast<char>(c->unicode());
}

void appendString(QByteArray& out, const QString& text)
{
    out += '"';
    const QChar* c = text.constData();
    const QChar* const end = c + text.size();
    while (c != end) {
        const QChar* const run = c;
        while (c != end && isPlainAscii(*c))
            ++c;
        appendPlainAscii(out, run, c);
        const QChar* const utf8Run = c;
        c = utf8RunEnd(c, end);
        if (c != utf8Run)
            out += QString::fromRawData(utf8Run, static_cast<int>(c - utf8Run)).toUtf8();
        else if (c != end)
            appendEscaped(out, (c++)->unicode());
    }
    out += '"';
}

void appendInteger(QByteArray& out, qint64 value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, static_cast<int>(end.ptr - digits));
}

void appendValue(QByteArray& out, int value)
{
    appendInteger(out, value);
}

// Whole numbers up to 2^53 are written as integers, other finite numbers in their shortest
// form; whole numbers beyond, rare enough, are left to QJsonDocument itself.
void appendValue(QByteArray& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
    } else if (value != std::trunc(value)) {
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    } else if (std::fabs(value) <= MAX_EXACT_INTEGER) {
        appendInteger(out, static_cast<qint64>(value));
    } else {
        const QByteArray array = QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact);
        out += array.mid(1, array.size() - 2);
    }
}

void appendValue(QByteArray& out, const QString& value)
{
    appendString(out, value);
}

// The separator, then "key":value.
template<typename Value>
void appendMember(QByteArray& out, char separator, const QString& key, const Value& value)
{
    out += separator;
    appendString(out, key);
    out += ':';
    appendValue(out, value);
}

// The members in sorted key order, the order QJsonObject keeps.
void appendRegister(QByteArray& out, const DB::SDbDevRegDataInfo& row, const QString& time)
{
    appendMember(out, '{', HTTP::API_JSON_KEY_ADDITION, row.startValue);
    appendMember(out, ',', HTTP::API_JSON_KEY_DATA_NAME, row.name);
    appendMember(out, ',', HTTP::API_JSON_KEY_DATA_TYPE, row.dataType);
    appendMember(out, ',', HTTP::API_JSON_KEY_MULTIPLICATION, row.gratingPeriod);
    appendMember(out, ',', HTTP::API_JSON_KEY_REG_BIT_SIZE, row.bitSize);
    appendMember(out, ',', HTTP::API_JSON_KEY_REG_MAP_BIAS, row.regAddr);
    appendMember(out, ',', HTTP::API_JSON_KEY_SOURCE, row.source);
    appendMember(out, ',', HTTP::API_JSON_KEY_TIME, time);
    appendMember(out, ',', HTTP::API_JSON_KEY_UNITS, row.unit);
    appendMember(out, ',', HTTP::API_JSON_KEY_VALUE, row.value);
    out += '}';
}

// {"registers":[rows],"result":true}
QByteArray registersAnswer(const QList<DB::SDbDevRegDataInfo>& rows)
{
    QByteArray out;
    out.reserve(ANSWER_RESERVE_PER_ROW * (rows.size() + 1));
    out += '{';
    appendString(out, HTTP::API_JSON_KEY_REGISTERS);
    out += ":[";
    TimeTexts timeTexts;
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0)
            out += ',';
        appendRegister(out, rows.at(i), timeTexts.text(rows.at(i).time));
    }
    out += "],";
    appendString(out, HTTP::API_JSON_KEY_RESULT);
    out += ":true}";
    return out;
}
} // namespace

AppController::AppController(
    CAllDeviceHandler* registry, CDataBaseHandler* database, QObject* parent)
    : APIController(parent), registry(registry), database(database)
{
}

void AppController::getTemplatesAction()
{
    QJsonArray templates;
    for (const REGS::SDeviceTemplate& deviceTemplate : registry->getDeviceTemplates())
        templates.append(deviceTemplate.json);
    setResult(QJsonObject {{HTTP::API_JSON_KEY_TEMPLATES, templates}});
}

void AppController::getDevicesAction()
{
    const QString filter = json().object().value(HTTP::API_JSON_KEY_FILTER).toString();
    QJsonArray devices;
    for (const DB::SDeviceRegMapDescription& device : database->getDevices(filter))
        devices.append(deviceObject(device));
    setResult(QJsonObject {{HTTP::API_JSON_KEY_DEVICES, devices}});
}

void AppController::addDeviceAction()
{
    answerWithResult([this](QJsonObject&) { return addDevice(json().object()); });
}

void AppController::removeDeviceAction()
{
    answerWithResult([this](QJsonObject&) { return removeDevice(json().object()); });
}

void AppController::getRegisterValuesAction()
{
    QByteArray answer;
    answerWithResult(
        [this, &answer](QJsonObject&) { return registerValues(json().object(), answer); });
    // A success is answered by the text registerValues wrote; a failure as by the other actions.
    if (!answer.isEmpty())
        setResult(JsonText {answer});
}

void AppController::getLastFreeRegisterAction()
{
    const int port = json().object().value(HTTP::API_JSON_KEY_PORT).toInt();
    if (port == 0) {
        setResult(QJsonObject {
            {HTTP::API_JSON_KEY_REGISTER, 0}, {HTTP::API_JSON_KEY_ERROR, WebTexts::NO_PORT}});
        return;
    }
    setResult(
        QJsonObject {{HTTP::API_JSON_KEY_REGISTER, database->getLastFreeRegisterForPort(port)}});
}

void AppController::aboutAction()
{
    setResult(QJsonObject {
        {HTTP::API_JSON_KEY_VERSION, COMM::VERSION}, {HTTP::API_JSON_KEY_BUILD, BUILD_TIME}});
}

// "result" tells whether the step completed; "error" carries its text when it did not.
void AppController::answerWithResult(const Step& step)
{
    QJsonObject answer;
    QString error;
    try {
        error = step(answer);
    } catch (...) {
        answer = QJsonObject();
        error = WebTexts::UNEXPECTED_ERROR;
    }
    answer[HTTP::API_JSON_KEY_RESULT] = error.isEmpty();
    if (!error.isEmpty())
        answer[HTTP::API_JSON_KEY_ERROR] = error;
    setResult(answer);
}

QString AppController::addDevice(const QJsonObject& body)
{
    DB::SDeviceRegMapDescription device;
    const QString invalid = readNewDevice(body, device);
    if (!invalid.isEmpty())
        return invalid;

    QString refusal;
    if (!database->registerNewDevice(device, refusal)) {
        addLog(WebTexts::DEVICE_NOT_CREATED);
        return refusal.isEmpty() ? WebTexts::INTERNAL_ERROR : refusal;
    }
    return openDevice(device);
}

// A registered device whose port cannot be opened (another program holds it, or it needs
// privileges) is taken back out of the registry and the database, so the operator can choose
// another port: an answer of failure leaves nothing behind, and no listener goes on retrying a
// port that the operator was told about.
QString AppController::openDevice(const DB::SDeviceRegMapDescription& device)
{
    if (registry->addNewDevice(device)) {
        addLog(WebTexts::DEVICE_CREATED);
        return QString();
    }
    registry->removeDevice(device.devEui);
    uint id = 0;
    if (database->getDeviceId(device.devEui, id))
        database->deleteDevice(id);
    addLog(WebTexts::DEVICE_NOT_CREATED);
    return WebTexts::PORT_NOT_OPENED.arg(device.port);
}

// The database rows go first: when their deletion fails the device stays fully configured,
// rather than left in the database without its listener and decoding.
QString AppController::removeDevice(const QJsonObject& body)
{
    uint id = 0;
    const QString missing = findDevice(body, id);
    if (!missing.isEmpty())
        return missing;
    if (!database->deleteDevice(id))
        return WebTexts::DEVICE_NOT_DELETED;
    registry->removeDevice(body.value(HTTP::API_JSON_KEY_DEV_EUI).toString());
    return QString();
}

QString AppController::registerValues(const QJsonObject& body, QByteArray& answer)
{
    uint id = 0;
    const QString missing = findDevice(body, id);
    if (!missing.isEmpty())
        return missing;
    answer = registersAnswer(database->getRegistersData(id));
    return QString();
}

QString AppController::findDevice(const QJsonObject& body, uint& id)
{
    const QString devEui = body.value(HTTP::API_JSON_KEY_DEV_EUI).toString();
    if (devEui.isEmpty())
        return WebTexts::NO_DEVICE_DEV_EUI;
    if (!database->getDeviceId(devEui, id))
        return WebTexts::DEVICE_NOT_FOUND;
    return QString();
}
