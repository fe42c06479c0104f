#include "clogfile.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>

namespace {
const QString DATE_TIME_FORMSTR_LOG = QStringLiteral("dd-MMM-yy HH:mm:ss.zzz");
const QString SESSION_STARS = QString(65, QLatin1Char('*'));
const QString SESSION_BANNER
    = QStringLiteral("**                      New session                            **");

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
        qDebug().noquote() << "[CLogFile] Invalid file opening!";
        return;
    }
    writeEntry(SESSION_STARS);
    writeEntry(
        sessionName.isEmpty() ? SESSION_BANNER : "**  New session  [" + sessionName + "] **");
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
        = "\n[" + QDateTime::currentDateTime().toString(DATE_TIME_FORMSTR_LOG) + "]" + logStr;
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
        qDebug() << "["
                 << "void addLog(QString, CLogFile::ELogMessageType, bool)"
                 << "] невозможно создать invokeMethod";
    }
}

void addLogIntoFileOnly(QString logStr)
{
    CLogFile* log = CLogFile::getInstance();
    if (!log
        || !QMetaObject::invokeMethod(
            log, "addLogIntoFileOnly", Qt::QueuedConnection, Q_ARG(QString, logStr))) {
        qDebug() << "["
                 << "void addLogIntoFileOnly(QString)"
                 << "] невозможно создать invokeMethod";
    }
}
