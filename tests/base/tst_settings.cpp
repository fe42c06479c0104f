#include "csettings.h"
#include "settingskeys.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void readsDefaultsWithoutFile();
    void writesAreOnDiskAtOnce();
    void firstInstanceWins();

private:
    QTemporaryDir dir;
    QString fileName;
};

void TestSettings::readsDefaultsWithoutFile()
{
    // Before any instance exists there is nothing to read from.
    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::getInstance] Invalid fileName");
    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::readValue] Invalid object");
    QVERIFY(!CSettings::readValue("webui/port", 8899).isValid());

    fileName = dir.filePath(SETT::SETT_FILENAME);
    QVERIFY(CSettings::getInstance(fileName));
    QCOMPARE(CSettings::readValue(SETT::SETT_SECT_WEB + SETT::SETT_WEB_PORT, 8899).toInt(), 8899);
    QCOMPARE(CSettings::readValue(SETT::SETT_SECT_WEB + SETT::SETT_WEB_IP, "*").toString(),
        QString("*"));
    QCOMPARE(
        CSettings::readValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_LOG, false).toBool(), false);
    QVERIFY(!QFile::exists(fileName));
}

void TestSettings::writesAreOnDiskAtOnce()
{
    const QString key = SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_ADDRESS;
    QVERIFY(CSettings::writeValue(key, "ws://127.0.0.1:8002"));
    QVERIFY(CSettings::writeValue(SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_LOG, true));

    QSettings onDisk(fileName, QSettings::IniFormat);
    QCOMPARE(onDisk.value("server/address").toString(), QString("ws://127.0.0.1:8002"));
    QCOMPARE(onDisk.value("debug/log").toString(), QString("true"));
    QCOMPARE(CSettings::readValue(key, QString()).toString(), QString("ws://127.0.0.1:8002"));
}

void TestSettings::firstInstanceWins()
{
    CSettings* first = CSettings::getInstance(fileName);
    QCOMPARE(CSettings::getInstance(dir.filePath("other.conf")), first);
    QCOMPARE(CSettings::getInstance(QString()), first);
    QCOMPARE(first->fileName(), fileName);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
