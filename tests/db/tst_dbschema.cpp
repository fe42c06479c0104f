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

QTEST_GUILESS_MAIN(TestDbSchema)
#include "tst_dbschema.moc"
