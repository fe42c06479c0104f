// Latency and throughput of app/getRegisterValues on a running tarvex, next to the bare HTTP
// server's echo handler under the same requests.
//
// tarvex runs in a temporary working directory with one device of 20 16-bit registers, added
// through app/addDevice. While wrk reads the device's registers, the fake network server pushes
// uplinks for that same device at a steady rate, so every read competes with the writes of the
// rows it returns. The echo server gets the same POST (same body, cookie and headers) with
// tarvex idle; the ratio shows what the web application costs on top of the HTTP layer.
#include "cfakenetworkserver.h"
#include "eventwait.h"
#include "freeport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
const int FIELDS = 20;
const int PUSH_PERIOD_MS = 10;
const int START_TIMEOUT_MS = 15000;
const QString APP_EUI = QStringLiteral("00000000000000C2");
const QString DEV_EUI = QStringLiteral("C200000000000001");
const QString WEB_LOGIN = QStringLiteral("bench");
const QString WEB_PASSWORD = QStringLiteral("bench");

struct SWrkResult
{
    bool valid = false;
    double requestsPerSecond = 0;
    double p99Ms = 0;
    QString failures; // wrk's lines about non-2xx answers and socket errors
};

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

// One packet layout of FIELDS big-endian 16-bit values after the packet type byte, each value
// on the register of its own index.
void writeTemplate(const QString& folder)
{
    QJsonArray fields;
    for (int field = 0; field < FIELDS; ++field) {
        fields.append(QJsonObject {{"packet_bias", 1 + 2 * field}, {"data_bit_bias", 0},
            {"data_bit_size", 16}, {"data_type", "uinteger"}, {"endianness", "be"},
            {"reg_map_bias", field}, {"reg_bit_bias", 0}, {"reg_bit_size", 16},
            {"data_name", QString("V%1").arg(field)}});
    }
    const QJsonObject packet {
        {"packet_type", 1}, {"packet_size", 1 + 2 * FIELDS}, {"packet_fields", fields}};
    const QJsonObject deviceTemplate {
        {"app_eui", APP_EUI}, {"dev_type", "WebBench"}, {"device_packets", QJsonArray {packet}}};
    writeFile(folder + "/webbench.json", QJsonDocument(deviceTemplate).toJson());
}

void writeSettings(const QString& dir, const QUrl& networkServer, quint16 webPort)
{
    writeFile(dir + "/settings.conf",
        QString("[server]\naddress=%1\nlogin=bench\npassword=bench\n\n"
                "[webui]\nip=127.0.0.1\nport=%2\nlogin=%3\npassword=%4\n")
            .arg(networkServer.toString())
            .arg(webPort)
            .arg(WEB_LOGIN, WEB_PASSWORD)
            .toUtf8());
}

QJsonObject newDevice(quint16 modbusPort)
{
    QJsonArray registers;
    for (int field = 0; field < FIELDS; ++field) {
        registers.append(QJsonObject {{"data_name", QString("V%1").arg(field)}, {"source", 1},
            {"reg_map_bias", field}, {"reg_bit_size", 16}, {"data_type", "uinteger"},
            {"addition", 0}, {"multiplication", 1}, {"units", ""}});
    }
    return {{"port", modbusPort}, {"startAddr", 0}, {"devEui", DEV_EUI}, {"app_eui", APP_EUI},
        {"dev_type", "WebBench"}, {"devRegisters", registers}};
}

QString payloadHex(int uplink)
{
    QString hex = "01";
    for (int field = 0; field < FIELDS; ++field)
        hex += QString("%1").arg(quint16(uplink + field), 4, 16, QLatin1Char('0'));
    return hex;
}

// A blocking POST; the reply stays valid until the manager is deleted.
QNetworkReply* post(QNetworkAccessManager& manager, const QUrl& url, const QByteArray& type,
    const QByteArray& body, const QByteArray& sid = QByteArray())
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, type);
    if (!sid.isEmpty())
        request.setRawHeader("Cookie", "SID=" + sid);
    QNetworkReply* reply = manager.post(request, body);
    waitUntil([reply] { return reply->isFinished(); }, START_TIMEOUT_MS);
    return reply;
}

// The session id of a successful login, or nothing while the web interface is not up yet.
QByteArray logIn(QNetworkAccessManager& manager, const QUrl& base)
{
    const QByteArray form
        = QString("username=%1&password=%2").arg(WEB_LOGIN, WEB_PASSWORD).toUtf8();
    QNetworkReply* reply = post(manager, base.resolved(QUrl("/api/v1/auth/login")),
        "application/x-www-form-urlencoded", form);
    if (reply->readAll() != "Ok.")
        return QByteArray();
    const QRegularExpression sid("SID=([^;]+)");
    return sid.match(QString::fromUtf8(reply->rawHeader("set-cookie"))).captured(1).toUtf8();
}

QJsonObject callApi(QNetworkAccessManager& manager, const QUrl& base, const QByteArray& sid,
    const QString& action, const QJsonObject& body)
{
    QNetworkReply* reply = post(manager, base.resolved(QUrl("/api/v1/app/" + action)),
        "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact), sid);
    return QJsonDocument::fromJson(reply->readAll()).object();
}

// The request every case sends, as a browser page polling the register values does.
void writeWrkScript(const QString& path, const QByteArray& sid)
{
    const QByteArray body
        = QJsonDocument(QJsonObject {{"devEui", DEV_EUI}}).toJson(QJsonDocument::Compact);
    writeFile(path,
        QString("wrk.method = \"POST\"\n"
                "wrk.body = '%1'\n"
                "wrk.headers[\"Content-Type\"] = \"application/json\"\n"
                "wrk.headers[\"Accept-Encoding\"] = \"gzip, deflate\"\n"
                "wrk.headers[\"Cookie\"] = \"SID=%2\"\n")
            .arg(QString::fromUtf8(body), QString::fromUtf8(sid))
            .toUtf8());
}

double milliseconds(const QString& number, const QString& unit)
{
    const double value = number.toDouble();
    if (unit == "us")
        return value / 1000;
    if (unit == "s")
        return value * 1000;
    if (unit == "m")
        return value * 60000;
    return value;
}

SWrkResult parseWrk(const QString& output)
{
    SWrkResult result;
    const auto rate = QRegularExpression(R"(Requests/sec:\s+([\d.]+))").match(output);
    const auto p99 = QRegularExpression(R"(\n\s+99%\s+([\d.]+)(us|ms|s|m)\b)").match(output);
    result.valid = rate.hasMatch() && p99.hasMatch();
    result.requestsPerSecond = rate.captured(1).toDouble();
    result.p99Ms = milliseconds(p99.captured(1), p99.captured(2));
    auto failures
        = QRegularExpression(R"(\n\s*((Non-2xx|Socket errors)[^\n]*))").globalMatch(output);
    while (failures.hasNext())
        result.failures += failures.next().captured(1) + "; ";
    return result;
}

// wrk runs while the event loop goes on, so the fake network server keeps pushing meanwhile.
SWrkResult runWrk(const QString& url, const QString& script, int connections, int seconds)
{
    QProcess wrk;
    wrk.setProcessChannelMode(QProcess::MergedChannels);
    wrk.start("wrk",
        {QString("-t%1").arg(connections < 2 ? 1 : 2), QString("-c%1").arg(connections),
            QString("-d%1s").arg(seconds), "--latency", "-s", script, url});
    wrk.waitForStarted();
    waitUntil([&wrk] { return wrk.state() == QProcess::NotRunning; }, (seconds + 30) * 1000);
    const QString output = QString::fromUtf8(wrk.readAll());
    SWrkResult result = parseWrk(output);
    if (!result.valid)
        std::fprintf(stderr, "wrk gave no figures:\n%s\n", qPrintable(output));
    return result;
}

// Pushes uplinks for the bench device at a steady rate while it runs, catching up after a
// late timer so that the average holds.
class UplinkPusher
{
public:
    UplinkPusher(CFakeNetworkServer& server, int perSecond) : server(server), perSecond(perSecond)
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] { pushDue(); });
    }
    void start()
    {
        clock.start();
        pushedSinceStart = 0;
        timer.start(PUSH_PERIOD_MS);
    }
    void stop() { timer.stop(); }
    int perSecondWanted() const { return perSecond; }
    double rate() const { return pushedSinceStart * 1000.0 / qMax<qint64>(1, clock.elapsed()); }
    int total() const { return pushed; }

private:
    void pushDue()
    {
        const qint64 due = clock.elapsed() * perSecond / 1000;
        for (; pushedSinceStart < due; ++pushedSinceStart, ++pushed) {
            server.pushRx(QJsonObject {{"devEui", DEV_EUI}, {"type", "UNCONF_UP"},
                {"ts", QDateTime::currentMSecsSinceEpoch()}, {"data", payloadHex(pushed)}});
        }
    }

    CFakeNetworkServer& server;
    const int perSecond;
    QTimer timer;
    QElapsedTimer clock;
    qint64 pushedSinceStart = 0;
    int pushed = 0;
};

bool startEcho(QProcess& echo, QString& url)
{
    echo.start(ECHO_SERVER_PATH, {"0"});
    if (!waitUntil([&echo] { return echo.canReadLine(); }, START_TIMEOUT_MS))
        return false;
    url = QString("http://127.0.0.1:%1/api/v1/app/getRegisterValues")
              .arg(QString::fromUtf8(echo.readLine().trimmed()));
    return true;
}

QString loadAverage()
{
    QFile file("/proc/loadavg");
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll()).section(' ', 0, 2);
}

void printRow(const QString& name, const SWrkResult& result, double echoRate)
{
    std::printf("%-34s %10.0f %9.2f %8.2f  %s\n", qPrintable(name), result.requestsPerSecond,
        result.p99Ms, echoRate > 0 ? result.requestsPerSecond / echoRate : 0.0,
        qPrintable(result.failures));
}
// Logs in once tarvex is up and adds the bench device; the session id, or nothing on failure.
QByteArray openBenchDevice(
    QNetworkAccessManager& manager, const QUrl& base, CFakeNetworkServer& networkServer)
{
    QByteArray sid;
    const bool up = waitUntil(
        [&] {
            return !networkServer.received("auth_req").isEmpty()
                && !(sid = logIn(manager, base)).isEmpty();
        },
        START_TIMEOUT_MS);
    const QJsonObject added
        = up ? callApi(manager, base, sid, "addDevice", newDevice(freePort())) : QJsonObject();
    if (added.value("result").toBool())
        return sid;
    std::printf("tarvex is not serving: %s\n", qPrintable(QJsonDocument(added).toJson()));
    return QByteArray();
}

// Each echo run goes first with tarvex idle; uplinks arrive only during the tarvex runs.
void runCases(const QString& echoUrl, const QString& appUrl, const QString& script, int seconds,
    UplinkPusher& pusher)
{
    std::printf("%d s per case; %d uplinks/s for the device during the tarvex cases\n", seconds,
        pusher.perSecondWanted());
    // The figures swing with whatever else the machine runs: the load goes with them.
    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    std::printf("%-34s %10s %9s %8s\n", "case", "req/s", "p99 ms", "ratio");
    for (int connections : {1, 50}) {
        const SWrkResult echoResult = runWrk(echoUrl, script, connections, seconds);
        pusher.start();
        const SWrkResult appResult = runWrk(appUrl, script, connections, seconds);
        pusher.stop();
        printRow(QString("echo handler, %1 conn").arg(connections), echoResult,
            echoResult.requestsPerSecond);
        printRow(QString("getRegisterValues, %1 conn").arg(connections), appResult,
            echoResult.requestsPerSecond);
        std::printf("  uplinks pushed meanwhile: %.0f/s\n", pusher.rate());
    }
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"seconds", "Duration of each wrk run.", "s", "10"});
    parser.addOption({"uplinks", "Uplinks per second during the tarvex runs.", "n", "1000"});
    parser.addOption({"binary", "The tarvex executable.", "path", TARVEX_BINARY_PATH});
    parser.process(app);
    const int seconds = parser.value("seconds").toInt();
    const int uplinksPerSecond = parser.value("uplinks").toInt();

    QTemporaryDir dir;
    QDir(dir.path()).mkpath("deviceFolder");
    writeTemplate(dir.filePath("deviceFolder"));
    CFakeNetworkServer networkServer;
    networkServer.listen();
    const quint16 webPort = freePort();
    writeSettings(dir.path(), networkServer.url(), webPort);

    QProcess tarvex;
    tarvex.setWorkingDirectory(dir.path());
    // The service's console lines go to a file, as they would to a journal.
    tarvex.setProcessChannelMode(QProcess::MergedChannels);
    tarvex.setStandardOutputFile(dir.filePath("console.txt"));
    tarvex.start(parser.value("binary"), QStringList());
    QProcess echo;
    QString echoUrl;
    if (!tarvex.waitForStarted() || !startEcho(echo, echoUrl)) {
        std::printf("cannot start tarvex or the echo server\n");
        return 1;
    }

    QNetworkAccessManager manager;
    const QUrl base(QString("http://127.0.0.1:%1/").arg(webPort));
    const QByteArray sid = openBenchDevice(manager, base, networkServer);
    if (sid.isEmpty())
        return 1;
    const QString script = dir.filePath("getregistervalues.lua");
    writeWrkScript(script, sid);
    const QString appUrl = base.resolved(QUrl("/api/v1/app/getRegisterValues")).toString();

    UplinkPusher pusher(networkServer, uplinksPerSecond);
    runCases(echoUrl, appUrl, script, seconds, pusher);

    const QJsonObject last
        = callApi(manager, base, sid, "getRegisterValues", {{"devEui", DEV_EUI}});
    const QJsonArray rows = last.value("registers").toArray();
    std::printf("registers answered: %d, first value after %d uplinks: %s\n", int(rows.size()),
        pusher.total(),
        qPrintable(
            rows.isEmpty() ? QString("-") : rows.first().toObject().value("value").toString()));
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    tarvex.terminate();
    echo.terminate();
    tarvex.waitForFinished();
    echo.waitForFinished();
    return 0;
}
