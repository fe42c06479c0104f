#include "csettings.h"
#include "settingskeys.h"

#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
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
