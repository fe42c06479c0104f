#include "dbtestfixture.h"

#include <QtTest>

namespace {
const int SYNCHRONOUS_FULL = 2;
} // namespace

// Configuration changes commit with synchronous=FULL. Triggers in the file record the mode of the
// handler's own connection while each write runs.
class TestDbDurability : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void configurationChangesCommitWithFullSync_data();
    void configurationChangesCommitWithFullSync();

private:
    void change(const QString& operation);

    CDbTestFixture fixture;
};

void TestDbDurability::init()
{
    QVERIFY(fixture.start());
    QCOMPARE(fixture.registerDevice("a1", 1000, 0, {registerEntry(0, 16)}), QString("accepted"));
    const QStringList statements = {
        "CREATE TABLE modes_seen (operation TEXT, mode INTEGER)",
        "CREATE TRIGGER seen_register AFTER INSERT ON devices BEGIN INSERT INTO modes_seen "
        "SELECT 'register', synchronous FROM pragma_synchronous; END",
        "CREATE TRIGGER seen_delete AFTER DELETE ON devices BEGIN INSERT INTO modes_seen "
        "SELECT 'delete', synchronous FROM pragma_synchronous; END",
        "CREATE TRIGGER seen_scaling AFTER UPDATE OF unit ON dev_data BEGIN INSERT INTO "
        "modes_seen SELECT 'scaling', synchronous FROM pragma_synchronous; END",
    };
    for (const QString& statement : statements)
        QCOMPARE(fixture.exec(statement), QString());
}

// Runs one configuration change on device a1 or beside it.
void TestDbDurability::change(const QString& operation)
{
    if (operation == "register")
        QCOMPARE(
            fixture.registerDevice("b1", 1000, 10, {registerEntry(0, 16)}), QString("accepted"));
    else if (operation == "delete")
        QVERIFY(fixture.handler()->deleteDevice(fixture.deviceId("a1")));
    else if (operation == "scaling")
        fixture.handler()->updateRegInfo({fixture.deviceId("a1"), {{0, 1.0, 2.0, "K"}}});
    else
        QFAIL(qPrintable("no such change: " + operation));
}

void TestDbDurability::configurationChangesCommitWithFullSync_data()
{
    QTest::addColumn<QString>("operation");

    QTest::newRow("registration") << "register";
    QTest::newRow("deletion") << "delete";
    QTest::newRow("scaling update") << "scaling";
}

void TestDbDurability::configurationChangesCommitWithFullSync()
{
    QFETCH(QString, operation);

    change(operation);

    QCOMPARE(fixture.column(
                 QString("SELECT mode FROM modes_seen WHERE operation = '%1'").arg(operation)),
        QVariantList {SYNCHRONOUS_FULL});
}

QTEST_GUILESS_MAIN(TestDbDurability)
#include "tst_dbdurability.moc"
