#include "clogfile.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString STAMP = QStringLiteral(R"(\[\d\d-\S{3}-\d\d \d\d:\d\d:\d\d\.\d{3}\])");
const QString EARLIER_RUN = QStringLiteral("\n[01-Jan-26 00:00:00.000]earlier run");

QString readAll(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Posts one entry and returns the arguments of the addLogSignal it causes (none on time-out).
QList<QVariant> signalOf(const QString& message, CLogFile::ELogMessageType type)
{
    QSignalSpy spy(CLogFile::getInstance(), &CLogFile::addLogSignal);
    addLog(message, type);
    if (spy.isEmpty() && !spy.wait(5000))
        return {};
    return spy.first();
}

bool matches(const QString& text, const QString& regularExpression)
{
    return QRegularExpression(regularExpression, QRegularExpression::DotMatchesEverythingOption)
        .match(text)
        .hasMatch();
}
} // namespace

class TestLogFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void runAppendsToTheExistingFile();
    void runBeginsWithStarsAndSessionBanner();
    void laterGetInstanceKeepsTheFirst();
    void entryIsStampedAndOnDiskAtOnce();
    void signalCarriesTheEntryOnOneLine();
    void signalCarriesTheMessageType();
    void fileOnlyEntryEmitsNoSignal();

private:
    QTemporaryDir dir;
    QString fileName;
};

void TestLogFile::initTestCase()
{
    fileName = dir.filePath("history.log");
    QFile old(fileName);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(EARLIER_RUN.toUtf8());
    old.close();
    QVERIFY(CLogFile::getInstance(fileName, "X"));
}

void TestLogFile::runAppendsToTheExistingFile()
{
    QVERIFY(readAll(fileName).startsWith(EARLIER_RUN + "\n"));
}

void TestLogFile::runBeginsWithStarsAndSessionBanner()
{
    const QString session = readAll(fileName).mid(EARLIER_RUN.size());

    const QString expected = "^\\n" + STAMP + "\\*{65}\\n" + STAMP
        + QRegularExpression::escape("**  New session  [X] **") + "(\\n|$)";
    QVERIFY2(matches(session, expected), qPrintable(session));
}

void TestLogFile::laterGetInstanceKeepsTheFirst()
{
    CLogFile* first = CLogFile::getInstance();

    QCOMPARE(CLogFile::getInstance("ignored.log", "Y"), first);
    QVERIFY(!QFile::exists("ignored.log"));
}

// A message keeps its own newlines, and the file does not end with one.
void TestLogFile::entryIsStampedAndOnDiskAtOnce()
{
    addLog("ERROR: [Test] two\nlines");

    QTRY_VERIFY_WITH_TIMEOUT(readAll(fileName).endsWith("two\nlines"), 5000);
    const QString text = readAll(fileName);
    QVERIFY2(
        matches(text, "\\n" + STAMP + QRegularExpression::escape("ERROR: [Test] two\nlines") + "$"),
        qPrintable(text));
}

void TestLogFile::signalCarriesTheEntryOnOneLine()
{
    const QList<QVariant> signal = signalOf("INFO: [Test] one\nline", CLogFile::LOG_TYPE_DEFAULT);

    QCOMPARE(signal.size(), 2);
    const QString entry = signal.at(0).toString();
    QVERIFY2(matches(entry, "^" + STAMP + QRegularExpression::escape("INFO: [Test] oneline") + "$"),
        qPrintable(entry));
}

void TestLogFile::signalCarriesTheMessageType()
{
    const QList<QVariant> signal = signalOf("critical", CLogFile::LOG_TYPE_CRITICAL);

    QCOMPARE(signal.size(), 2);
    QCOMPARE(signal.at(1).value<CLogFile::ELogMessageType>(), CLogFile::LOG_TYPE_CRITICAL);
}

void TestLogFile::fileOnlyEntryEmitsNoSignal()
{
    QSignalSpy spy(CLogFile::getInstance(), &CLogFile::addLogSignal);

    addLogIntoFileOnly("file only");

    QTRY_VERIFY_WITH_TIMEOUT(readAll(fileName).endsWith("]file only"), 5000);
    QCOMPARE(spy.count(), 0);
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
