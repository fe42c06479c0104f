#include "clogfile.h"
#include "csettings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const qint64 MAX_SIZE = 2000;
const int ENTRY_COUNT = 200;

QByteArray readAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& fileName, const QByteArray& content)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Entry i, about a hundred bytes, so that the flood fills several files.
QString entry(int i)
{
    return QStringLiteral("WARNING: [Test] flood entry %1 ").arg(i, 3, 10, QLatin1Char('0'))
        + QString(64, QLatin1Char('x'));
}
} // namespace

// The service's own settings file and log, as start-up opens them, with a small debug/maxSize.
class TestLogRotation : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void floodKeepsTwoBoundedFiles();

private:
    QTemporaryDir dir;
    QString fileName;
};

void TestLogRotation::initTestCase()
{
    QVERIFY(writeFile(dir.filePath("settings.conf"), "[debug]\nmaxSize=2000\n"));
    QVERIFY(CSettings::getInstance(dir.filePath("settings.conf")));
    fileName = dir.filePath("history.log");
    // An earlier run left the log above its maximum size.
    QVERIFY(writeFile(fileName, QByteArray(MAX_SIZE + 1, 'e')));
    QVERIFY(CLogFile::getInstance(fileName, QString()));
}

void TestLogRotation::floodKeepsTwoBoundedFiles()
{
    QSignalSpy written(CLogFile::getInstance(), &CLogFile::addLogSignal);
    for (int i = 0; i < ENTRY_COUNT; ++i)
        addLog(entry(i));
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), ENTRY_COUNT, 10000);

    // One entry, with its time stamp, may take a file past the maximum; the next one goes to a
    // new file.
    const qint64 bound = MAX_SIZE + entry(0).size() + 32;
    const QByteArray current = readAll(fileName);
    const QByteArray previous = readAll(fileName + ".1");
    QVERIFY2(current.size() <= bound, qPrintable(QString::number(current.size())));
    QVERIFY2(previous.size() > MAX_SIZE, qPrintable(QString::number(previous.size())));
    QVERIFY2(previous.size() <= bound, qPrintable(QString::number(previous.size())));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
        (QStringList {"history.log", "history.log.1", "settings.conf"}));
}

QTEST_GUILESS_MAIN(TestLogRotation)
#include "tst_logrotation.moc"
