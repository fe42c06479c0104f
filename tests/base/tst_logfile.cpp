#include "clogfile.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString STAMP = QStringLiteral(R"(\[\d\d-\S{3}-\d\d \d\d:\d\d:\d\d\.\d{3}\])");
const QString EARLIER_RUN = QStringLiteral("\n[01-Jan-26 00:00:00.000]earlier run");

QString readAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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
    void runAppendsStarsAndSessionBanner();
    void entryIsStampedAndOnDiskAtOnce();

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

void TestLogFile::runAppendsStarsAndSessionBanner()
{
    const QString text = readAll(fileName);

    const QString expected = "^" + QRegularExpression::escape(EARLIER_RUN) + "\\n" + STAMP
        + "\\*{65}\\n" + STAMP + QRegularExpression::escape("**  New session  [X] **") + "(\\n|$)";
    QVERIFY2(matches(text, expected), qPrintable(text));
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

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
