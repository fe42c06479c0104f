#include "clogfile.h"
#include "csettings.h"
#include "settingskeys.h"

#include <QtTest>

// What the log and the settings do when they are used before start-up created them. No test
// here creates an instance, so each one sees the same state.
class TestBeforeSetup : public QObject
{
    Q_OBJECT
private slots:
    void logEntryIsReportedOnTheConsole();
    void settingsReadGivesInvalidValue();
};

void TestBeforeSetup::logEntryIsReportedOnTheConsole()
{
    QTest::ignoreMessage(QtDebugMsg,
        "[ void addLog(QString, CLogFile::ELogMessageType, bool) ] невозможно создать "
        "invokeMethod");
    addLog(QStringLiteral("lost"));
}

// Without a file name no settings object can be made, so not even the default comes back.
void TestBeforeSetup::settingsReadGivesInvalidValue()
{
    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::getInstance] Invalid fileName");
    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::readValue] Invalid object");

    const QVariant value = CSettings::readValue(SETT::SETT_SECT_WEB + SETT::SETT_WEB_PORT, 8899);

    QVERIFY(!value.isValid());
}

QTEST_GUILESS_MAIN(TestBeforeSetup)
#include "tst_beforesetup.moc"
