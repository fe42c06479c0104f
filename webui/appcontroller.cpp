#include "appcontroller.h"

#include "apijsonkeys.h"
#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "clogfile.h"
#include "commconstants.h"
#include "jsontext.h"
#include "newdevicereader.h"
#include "webtexts.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>

#include <limits>

namespace {
const QString TIME_FORMAT = QStringLiteral("dd-MMM-yy HH:mm:ss");
// About the bytes of one register row in a register values answer.
const int REGISTER_OBJECT_SIZE = 192;
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

// One register row, keys in the order QJsonDocument sorts them to; time is its time text.
void appendRegisterObject(QByteArray& out, const DB::SDbDevRegDataInfo& row, const QString& time)
{
    out += '{';
    JsonText::appendIntegerMember(out, HTTP::API_JSON_KEY_ADDITION, row.startValue);
    JsonText::appendStringMember(out, HTTP::API_JSON_KEY_DATA_NAME, row.name);
    JsonText::appendStringMember(out, HTTP::API_JSON_KEY_DATA_TYPE, row.dataType);
    JsonText::appendNumberMember(out, HTTP::API_JSON_KEY_MULTIPLICATION, row.gratingPeriod);
    JsonText::appendIntegerMember(out, HTTP::API_JSON_KEY_REG_BIT_SIZE, row.bitSize);
    JsonText::appendIntegerMember(out, HTTP::API_JSON_KEY_REG_MAP_BIAS, row.regAddr);
    JsonText::appendIntegerMember(out, HTTP::API_JSON_KEY_SOURCE, row.source);
    JsonText::appendStringMember(out, HTTP::API_JSON_KEY_TIME, time);
    JsonText::appendStringMember(out, HTTP::API_JSON_KEY_UNITS, row.unit);
    JsonText::appendStringMember(out, HTTP::API_JSON_KEY_VALUE, row.value);
    JsonText::endObject(out);
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
    uint id = 0;
    const QString missing = findDevice(json().object(), id);
    if (!missing.isEmpty()) {
        answerWithResult([&missing](QJsonObject&) { return missing; });
        return;
    }
    const QList<DB::SDbDevRegDataInfo> rows = database->getRegistersData(id);
    SRegisterValuesAnswer& last = registerValuesAnswers[id];
    if (last.json.bytes.isEmpty() || last.rows != rows)
        last = {rows, registerValuesAnswer(rows)};
    setResult(last.json);
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

// Written by hand: a polling page makes this answer anew after every uplink of its device, and
// building it as a QJsonObject took several times as long as the rest of the request.
SJsonText AppController::registerValuesAnswer(const QList<DB::SDbDevRegDataInfo>& rows)
{
    QByteArray out;
    out.reserve(REGISTER_OBJECT_SIZE * (rows.size() + 1));
    out += '{';
    JsonText::appendKey(out, HTTP::API_JSON_KEY_REGISTERS);
    out += '[';
    TimeTexts timeTexts;
    for (const DB::SDbDevRegDataInfo& row : rows) {
        if (&row != &rows.first())
            out += ',';
        appendRegisterObject(out, row, timeTexts.text(row.time));
    }
    out += "],";
    JsonText::appendKey(out, HTTP::API_JSON_KEY_RESULT);
    out += "true}";
    return {out};
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
