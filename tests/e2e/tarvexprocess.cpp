#include "tarvexprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>

TarvexProcess::TarvexProcess(const QString& workingDirectory) : workingDirectory(workingDirectory)
{
    tarvex.setWorkingDirectory(workingDirectory);
    tarvex.setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
}

TarvexProcess::~TarvexProcess()
{
    stop();
}

void TarvexProcess::writeSettings(const QString& iniText)
{
    QFile file(QDir(workingDirectory).filePath("settings.conf"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText.toUtf8());
}

bool TarvexProcess::start()
{
    standardErrorText.clear();
    tarvex.start();
    return tarvex.waitForStarted(5000);
}

QString TarvexProcess::standardError()
{
    standardErrorText += QString::fromUtf8(tarvex.readAllStandardError());
    return standardErrorText;
}

bool TarvexProcess::waitForStandardError(const QString& text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!standardError().contains(text)) {
        if (timer.elapsed() > timeoutMs || tarvex.state() == QProcess::NotRunning)
            return standardError().contains(text);
        tarvex.waitForReadyRead(100);
    }
    return true;
}

void TarvexProcess::sendSignal(int signalNumber)
{
    ::kill(static_cast<pid_t>(tarvex.processId()), signalNumber);
}

void TarvexProcess::stop()
{
    if (tarvex.state() == QProcess::NotRunning)
        return;
    tarvex.terminate();
    if (!tarvex.waitForFinished(5000)) {
        tarvex.kill();
        tarvex.waitForFinished(5000);
    }
}
