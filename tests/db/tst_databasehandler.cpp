#include "dbtestfixture.h"

#include <QtTest>

// Registration of devices, seen through the handler's operations and the rows of the real file.
class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void failedRegistrationLeavesNothing();

private:
    CDbTestFixture fixture;
};

void TestDataBaseHandler::init()
{
    QVERIFY(fixture.start());
}

// A failure inside SQLite, here at the third register row, leaves neither the device nor its
// first rows behind, so the same device can be registered once the cause is gone.
void TestDataBaseHandler::failedRegistrationLeavesNothing()
{
    QCOMPARE(fixture.exec("CREATE TRIGGER fail_register BEFORE INSERT ON dev_data WHEN "
                          "NEW.reg_addr = 4242 BEGIN SELECT RAISE(ABORT, 'injected'); END"),
        QString());
    const QList<REGS::SRegisterInfo> entries
        = {registerEntry(0, 16), registerEntry(1, 16), registerEntry(2, 16)};

    QCOMPARE(fixture.registerDevice("f1", 1250, 4240, entries), QString());
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM devices"), QVariant(0));
    QCOMPARE(fixture.value("SELECT COUNT(*) FROM dev_data"), QVariant(0));

    QCOMPARE(fixture.exec("DROP TRIGGER fail_register"), QString());
    QCOMPARE(fixture.registerDevice("f1", 1250, 4240, entries), QString("accepted"));
}

QTEST_GUILESS_MAIN(TestDataBaseHandler)
#include "tst_databasehandler.moc"
