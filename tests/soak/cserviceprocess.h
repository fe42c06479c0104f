#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The real service (the program named by TARVEX_BINARY) in a working directory of its own with
// the soak template, a log file and a settings file pointing at the soak's network server.
class CServiceProcess
{
public:
    bool start(quint16 networkServerPort, quint16 webPort);
    bool isRunning() const { return process.state() == QProcess::Running; }
    // The resident set size from /proc, in kB; 0 when it cannot be read.
    qint64 rssKb() const;
    // Stops it with SIGTERM; true when it ended by itself with status 0.
    bool stop();
    QString logText() const;
    QString databasePath() const { return directory.filePath("server.db"); }
    // Keeps the working directory (database, log, console) for a look after a failed run.
    QString keep();

private:
    bool writeFile(const QString& name, const QByteArray& content) const;

    QTemporaryDir directory;
    QProcess process;
};
