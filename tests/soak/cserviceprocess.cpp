#include "cserviceprocess.h"

#include "soaklayout.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
const int START_MS = 15000;
const int STOP_MS = 30000;
const QString LOG_FILE = QStringLiteral("history.log");

QJsonObject field(
    int packetBias, const QString& endianness, int registerOffset, const QString& name)
{
    return {{"packet_bias", packetBias}, {"data_bit_bias", 0}, {"data_bit_size", 32},
        {"data_type", "uinteger"}, {"endianness", endianness}, {"reg_map_bias", registerOffset},
        {"reg_bit_bias", 0}, {"reg_bit_size", 32}, {"data_name", name}};
}

QByteArray soakTemplate()
{
    const QJsonObject packet {{"packet_type", 1}, {"packet_size", 9},
        {"packet_fields", QJsonArray {field(1, "le", 0, "Sequence"), field(5, "be", 2, "Check")}}};
    return QJsonDocument(
        QJsonObject {{"app_eui", SoakLayout::APP_EUI}, {"dev_type", SoakLayout::DEVICE_TYPE},
            {"device_packets", QJsonArray {packet}}})
        .toJson();
}
} // namespace

bool CServiceProcess::writeFile(const QString& name, const QByteArray& content) const
{
    QFile file(directory.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool CServiceProcess::start(quint16 networkServerPort, quint16 webPort)
{
    const QString conf = QString("[debug]\nlog=true\nfile=%1\n\n"
                                 "[server]\naddress=ws://127.0.0.1:%2\nlogin=%3\npassword=%4\n\n"
                                 "[webui]\nip=127.0.0.1\nport=%5\nlogin=%3\npassword=%4\n")
                             .arg(LOG_FILE)
                             .arg(networkServerPort)
                             .arg(SoakLayout::LOGIN, SoakLayout::PASSWORD)
                             .arg(webPort);
    if (!directory.isValid() || !QDir(directory.path()).mkpath("deviceFolder")
        || !writeFile("deviceFolder/soak.json", soakTemplate())
        || !writeFile("settings.conf", conf.toUtf8()))
        return false;
    process.setWorkingDirectory(directory.path());
    process.setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(directory.filePath("console.txt"));
    process.start();
    return process.waitForStarted(START_MS);
}

qint64 CServiceProcess::rssKb() const
{
    QFile status(QString("/proc/%1/status").arg(process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression vmRss("^VmRSS:\\s+(\\d+) kB", QRegularExpression::MultilineOption);
    return vmRss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

bool CServiceProcess::stop()
{
    process.terminate();
    if (!process.waitForFinished(STOP_MS)) {
        process.kill();
        process.waitForFinished(STOP_MS);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The log file and the older ones it was rotated into.
QString CServiceProcess::logText() const
{
    QString text;
    const QDir dir(directory.path());
    for (const QString& name : dir.entryList({LOG_FILE + "*"}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

QString CServiceProcess::keep()
{
    directory.setAutoRemove(false);
    return directory.path();
}
