#pragma once

#include <QProcess>
#include <QString>

// The real tarvex executable (path from TARVEX_BINARY) running in a working directory of a test.
class TarvexProcess
{
public:
    explicit TarvexProcess(const QString& workingDirectory);
    ~TarvexProcess();

    void writeSettings(const QString& iniText);
    bool start();
    bool waitForStandardError(const QString& text, int timeoutMs = 10000);
    QString standardError();
    void stop();
    QProcess& process() { return m_process; }

private:
    QString m_workingDirectory;
    QProcess m_process;
    QString m_standardError;
};
