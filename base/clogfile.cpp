#include "clogfile.h"

#include "basetexts.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>

namespace {
CLogFile* instance = nullptr;
QMutex creationMutex;
} // namespace

CLogFile::CLogFile(const QString& fileName, const QString& sessionName) : sessionName(sessionName)
{
    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");
    if (fileName.isEmpty())
        return;

    file.setFileName(fileName);
    const QIODevice::OpenMode mode = file.exists()
        ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text
        : QIODevice::ReadWrite | QIODevice::Text;
    if (!file.open(mode)) {
        qDebug().noquote() << BaseTexts::LOG_OPEN_FAILED;
        return;
    }
    writeEntry(BaseTexts::LOG_SESSION_STARS);
    writeEntry(sessionName.isEmpty() ? BaseTexts::LOG_SESSION_BANNER
                                     : BaseTexts::LOG_NAMED_SESSION_BANNER.arg(sessionName));
}

CLogFile::~CLogFile()
{
    file.close();
}

CLogFile* CLogFile::getInstance(const QString& fileName, const QString& sessionName)
{
    QMutexLocker locker(&creationMutex);
    if (!instance)
        instance = new CLogFile(fileName, sessionName);
    return instance;
}

CLogFile* CLogFile::getInstance()
{
    QMutexLocker locker(&creationMutex);
    return instance;
}

// Formats one entry, writes and flushes it, and returns the entry as written.
QString CLogFile::writeEntry(const QString& logStr)
{
    QMutexLocker locker(&mutex);
    const QString entry
        = "\n[" + QDateTime::currentDateTime().toString(BaseTexts::LOG_TIME_FORMAT) + "]" + logStr;
    if (file.isOpen()) {
        file.write(entry.toUtf8());
        file.flush();
    }
    return entry;
}

void CLogFile::addLogMetod(QString logStr, CLogFile::ELogMessageType type)
{
    QString entry = writeEntry(logStr);
    entry.remove(QLatin1Char('\n'));
    emit addLogSignal(entry, type);
}

void CLogFile::addLogIntoFileOnly(QString logStr)
{
    writeEntry(logStr);
}

void addLog(QString logStr, CLogFile::ELogMessageType type, bool toConsole)
{
    if (toConsole)
        qDebug().noquote() << logStr;
    CLogFile* log = CLogFile::getInstance();
    if (!log
        || !QMetaObject::invokeMethod(log, "addLogMetod", Qt::QueuedConnection,
            Q_ARG(QString, logStr), Q_ARG(CLogFile::ELogMessageType, type))) {
        qDebug().noquote() << BaseTexts::LOG_NOT_REACHED.arg(BaseTexts::ADD_LOG_SIGNATURE);
    }
}

void addLogIntoFileOnly(QString logStr)
{
    CLogFile* log = CLogFile::getInstance();
    if (!log
        || !QMetaObject::invokeMethod(
            log, "addLogIntoFileOnly", Qt::QueuedConnection, Q_ARG(QString, logStr))) {
        qDebug().noquote() << BaseTexts::LOG_NOT_REACHED.arg(
            BaseTexts::ADD_LOG_FILE_ONLY_SIGNATURE);
    }
}
