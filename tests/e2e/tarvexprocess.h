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
    // Sends a signal, as an operator's kill does.
    void sendSignal(int signalNumber);
    void stop();
    QProcess& process() { return tarvex; }

private:
    QString workingDirectory;
    QProcess tarvex;
    QString standardErrorText;
};
