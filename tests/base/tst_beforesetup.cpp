#include "clogfile.h"

#include <QtTest>

// What the log does when it is used before start-up created it: no instance is made here.
class TestBeforeSetup : public QObject
{
    Q_OBJECT
private slots:
    void logEntryIsReportedOnTheConsole();
};

void TestBeforeSetup::logEntryIsReportedOnTheConsole()
{
    QTest::ignoreMessage(QtDebugMsg,
        "[ void addLog(QString, CLogFile::ELogMessageType, bool) ] невозможно создать "
        "invokeMethod");
    addLog(QStringLiteral("lost"));
}

QTEST_GUILESS_MAIN(TestBeforeSetup)
#include "tst_beforesetup.moc"
