#include "csettings.h"
#include "settingskeys.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void absentKeyReadsItsDefault();
    void writeIsOnDiskAtOnce_data();
    void writeIsOnDiskAtOnce();
    void laterGetInstanceKeepsTheFirst_data();
    void laterGetInstanceKeepsTheFirst();

private:
    QTemporaryDir dir;
    QString fileName;
};

void TestSettings::initTestCase()
{
    fileName = dir.filePath(SETT::SETT_FILENAME);
    QVERIFY(CSettings::getInstance(fileName));
}

void TestSettings::absentKeyReadsItsDefault()
{
    const QString key = SETT::SETT_SECT_WEB + SETT::SETT_WEB_IP;

    QCOMPARE(CSettings::readValue(key, QStringLiteral("*")).toString(), QString("*"));
}

void TestSettings::writeIsOnDiskAtOnce_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("onDisk");

    QTest::newRow("text") << SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_ADDRESS
                          << QVariant("ws://127.0.0.1:8002") << "ws://127.0.0.1:8002";
    QTest::newRow("bool") << SETT::SETT_SECT_DEBUG + SETT::SETT_DEBUG_LOG << QVariant(true)
                          << "true";
    QTest::newRow("int") << SETT::SETT_SECT_WEB + SETT::SETT_WEB_PORT << QVariant(8080) << "8080";
}

void TestSettings::writeIsOnDiskAtOnce()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);

    QVERIFY(CSettings::writeValue(key, value));

    const QSettings file(fileName, QSettings::IniFormat);
    QTEST(file.value(key).toString(), "onDisk");
}

void TestSettings::laterGetInstanceKeepsTheFirst_data()
{
    QTest::addColumn<QString>("otherFileName");

    QTest::newRow("another file") << dir.filePath("other.conf");
    QTest::newRow("no file name") << QString();
}

void TestSettings::laterGetInstanceKeepsTheFirst()
{
    QFETCH(QString, otherFileName);

    CSettings* first = CSettings::getInstance(fileName);

    QCOMPARE(CSettings::getInstance(otherFileName), first);
    QCOMPARE(first->fileName(), fileName);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
