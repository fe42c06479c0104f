#include "clogfile.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString STAMP = QStringLiteral(R"(\[\d\d-\S{3}-\d\d \d\d:\d\d:\d\d\.\d{3}\])");

QString readAll(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT
private slots:
    void entriesBeforeTheLogExistAreReported();
    void sessionStartsWithStarsAndBanner();
    void entriesAreStampedAndFlushed();

private:
    QTemporaryDir dir;
    QString fileName;
};

void TestLogFile::entriesBeforeTheLogExistAreReported()
{
    QTest::ignoreMessage(QtDebugMsg,
        "[ void addLog(QString, CLogFile::ELogMessageType, bool) ] невозможно "
        "создать invokeMethod");
    addLog("lost");
}

void TestLogFile::sessionStartsWithStarsAndBanner()
{
    fileName = dir.filePath("history.log");
    {
        QFile old(fileName);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("\n[01-Jan-26 00:00:00.000]earlier run");
    }
    CLogFile* log = CLogFile::getInstance(fileName, "X");
    QVERIFY(log);
    QCOMPARE(CLogFile::getInstance("ignored.log", "Y"), log);

    const QString text = readAll(fileName);
    const QRegularExpression expected("^\\n\\[01-Jan-26 00:00:00.000\\]earlier run\\n" + STAMP
        + "\\*{65}\\n" + STAMP + QRegularExpression::escape("**  New session  [X] **") + "$");
    QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
}

void TestLogFile::entriesAreStampedAndFlushed()
{
    CLogFile* log = CLogFile::getInstance();
    QSignalSpy spy(log, &CLogFile::addLogSignal);

    addLog("ERROR: [Test] two\nlines", CLogFile::LOG_TYPE_CRITICAL);
    addLogIntoFileOnly("file only");
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 2000);

    const QString signalText = spy.at(0).at(0).toString();
    QVERIFY2(
        QRegularExpression("^" + STAMP + QRegularExpression::escape("ERROR: [Test] twolines") + "$")
            .match(signalText)
            .hasMatch(),
        qPrintable(signalText));
    QCOMPARE(spy.at(0).at(1).value<CLogFile::ELogMessageType>(), CLogFile::LOG_TYPE_CRITICAL);

    // Both entries are on disk already, each with its own stamp; the message keeps its newline
    // and the file does not end with one.
    QTRY_VERIFY_WITH_TIMEOUT(readAll(fileName).endsWith("]file only"), 2000);
    const QString text = readAll(fileName);
    QVERIFY2(
        QRegularExpression("\\n" + STAMP + QRegularExpression::escape("ERROR: [Test] two\nlines")
            + "\\n" + STAMP + "file only$")
            .match(text)
            .hasMatch(),
        qPrintable(text));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
