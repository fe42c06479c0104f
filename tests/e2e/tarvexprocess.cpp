#include "tarvexprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

TarvexProcess::TarvexProcess(const QString& workingDirectory) : m_workingDirectory(workingDirectory)
{
    m_process.setWorkingDirectory(workingDirectory);
    m_process.setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
}

TarvexProcess::~TarvexProcess()
{
    stop();
}

void TarvexProcess::writeSettings(const QString& iniText)
{
    QFile file(QDir(m_workingDirectory).filePath("settings.conf"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText.toUtf8());
}

bool TarvexProcess::start()
{
    m_standardError.clear();
    m_process.start();
    return m_process.waitForStarted(5000);
}

QString TarvexProcess::standardError()
{
    m_standardError += QString::fromUtf8(m_process.readAllStandardError());
    return m_standardError;
}

bool TarvexProcess::waitForStandardError(const QString& text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!standardError().contains(text)) {
        if (timer.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
            return standardError().contains(text);
        m_process.waitForReadyRead(100);
    }
    return true;
}

void TarvexProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
