#pragma once

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>

// The history log. Every part of the service writes through addLog(), from any thread; the
// entries are posted to this object's thread, so no caller ever waits on file I/O. Once the file
// passes debug/maxSize bytes it becomes <file>.1 (replacing the one before) and a new file begins
// with the session banner.
class CLogFile : public QObject
{
    Q_OBJECT
public:
    enum ELogMessageType {
        LOG_TYPE_DEFAULT = 0,
        LOG_TYPE_WARNING = 1,
        LOG_TYPE_CRITICAL = 2,
    };
    Q_ENUM(ELogMessageType)

    static CLogFile* getInstance(const QString& fileName, const QString& sessionName);
    static CLogFile* getInstance();
    ~CLogFile() override;

public slots:
    void addLogMetod(
        QString logStr = QString(), CLogFile::ELogMessageType type = CLogFile::LOG_TYPE_DEFAULT);
    void addLogIntoFileOnly(QString logStr);

signals:
    void addLogSignal(QString logStr, CLogFile::ELogMessageType type);

private:
    CLogFile(const QString& fileName, const QString& sessionName);
    void openWithBanner(QIODevice::OpenMode mode);
    void append(const QString& entry);
    void moveToPrevious();
    QString writeEntry(const QString& logStr);

    QFile file;
    QMutex mutex;
    QString sessionName;
    qint64 maxSize = 0;
};

void addLog(QString logStr, CLogFile::ELogMessageType type = CLogFile::LOG_TYPE_DEFAULT,
    bool toConsole = false);
void addLogIntoFileOnly(QString logStr);
