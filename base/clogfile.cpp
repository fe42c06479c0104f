#include "clogfile.h"

#include "basetexts.h"
#include "csettings.h"
#include "settingskeys.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>

namespace {
CLogFile* instance = nullptr;
QMutex creationMutex;

const qint64 DEFAULT_MAX_SIZE = 10 * 1024 * 1024;
// The one previous file kept beside the log: <file>.1
const QString PREVIOUS_FILE_SUFFIX = QStringLiteral(".1");

// The size at which the log moves on to a new file; a value that is not a positive number of
// bytes gives the default.
qint64 readMaxSize()
{
    bool ok = false;
    const qint64 size
        = CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_MAX_SIZE, DEFAULT_MAX_SIZE)
              .toLongLong(&ok);
    return ok && size > 0 ? size : DEFAULT_MAX_SIZE;
}

QString stamped(const QString& logStr)
{
    return "\n[" + QDateTime::currentDateTime().toString(BaseTexts::LOG_TIME_FORMAT) + "]" + logStr;
}
} // namespace

CLogFile::CLogFile(const QString& fileName, const QString& sessionName) : sessionName(sessionName)
{
    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");
    if (fileName.isEmpty())
        return;

    maxSize = readMaxSize();
    file.setFileName(fileName);
    // A file left too large by an earlier run is moved aside before this run writes to it.
    if (file.size() > maxSize)
        moveToPrevious();
    const QIODevice::OpenMode mode = file.exists()
        ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text
        : QIODevice::ReadWrite | QIODevice::Text;
    openWithBanner(mode);
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

void CLogFile::openWithBanner(QIODevice::OpenMode mode)
{
    if (!file.open(mode)) {
        qDebug().noquote() << BaseTexts::LOG_OPEN_FAILED;
        return;
    }
    append(stamped(BaseTexts::LOG_SESSION_STARS));
    append(stamped(sessionName.isEmpty() ? BaseTexts::LOG_SESSION_BANNER
                                         : BaseTexts::LOG_NAMED_SESSION_BANNER.arg(sessionName)));
}

void CLogFile::append(const QString& entry)
{
    file.write(entry.toUtf8());
    file.flush();
}

// Replaces the previous file by the current one.
void CLogFile::moveToPrevious()
{
    const QString previous = file.fileName() + PREVIOUS_FILE_SUFFIX;
    QFile::remove(previous);
    QFile::rename(file.fileName(), previous);
}

// Formats one entry, writes and flushes it, and returns the entry as written. The entry that
// takes the file past its maximum size is the last one in it; the next goes to a new file.
QString CLogFile::writeEntry(const QString& logStr)
{
    QMutexLocker locker(&mutex);
    const QString entry = stamped(logStr);
    if (file.isOpen()) {
        append(entry);
        if (file.size() > maxSize) {
            // Should the move fail, the new file truncates the current one: bounded either way.
            file.close();
            moveToPrevious();
            openWithBanner(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text);
        }
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
