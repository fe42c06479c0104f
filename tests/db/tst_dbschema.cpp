#include "dbconstants.h"
#include "dbtestfixture.h"

#include <QtTest>

// The tables the service creates in its file, and how it starts on a file made by others.
class TestDbSchema : public QObject
{
    Q_OBJECT
private slots:
    void columnsFollowTheConstants_data();
    void columnsFollowTheConstants();
    void foreignTableIsLeftAsItIs();

private:
    CDbTestFixture fixture;
};

// The statements are written out; the operations name columns through the constants.
void TestDbSchema::columnsFollowTheConstants_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("devices") << DB::DB_TABLE_DEVICES << DB::DbTableDevicesList;
    QTest::newRow("dev_data") << DB::DB_TABLE_DEVDATA << DB::DbTableDevDataList;
}

void TestDbSchema::columnsFollowTheConstants()
{
    QFETCH(QString, table);
    QFETCH(QStringList, expected);
    QVERIFY(fixture.start());

    QCOMPARE(fixture.column(QString("SELECT name FROM pragma_table_info('%1')").arg(table)),
        QVariant(expected).toList());
}

// A table of the same name from other software is used as it is; the first index on a column it
// lacks ends the start.
void TestDbSchema::foreignTableIsLeftAsItIs()
{
    QVERIFY(fixture.start());
    QCOMPARE(fixture.exec("DROP TABLE devices"), QString());
    QCOMPARE(fixture.exec("CREATE TABLE devices (other TEXT)"), QString());

    QVERIFY(!fixture.restart());

    QTRY_VERIFY(
        fixture.logged("ERROR [operator()-185]: invalid sql request 3 for <devices.idx_eui>!"));
    QTRY_VERIFY(fixture.logged("CREATE INDEX IF NOT EXISTS idx_eui ON devices ( dev_eui );"));
    QCOMPARE(
        fixture.column("SELECT name FROM pragma_table_info('devices')"), QVariantList {"other"});
}

QTEST_GUILESS_MAIN(TestDbSchema)
#include "tst_dbschema.moc"
