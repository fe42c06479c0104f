#include "dbtestfixture.h"

#include <QtTest>

// Registration of devices, seen through the handler's operations and the rows of the real file.
class TestDataBaseHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void failedRegistrationLeavesNothing();
    void registerValuesFollowEachUplink();

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

// A page reads its device's values again and again; each read after an uplink shows that
// uplink's value, not the rows kept from the read before.
void TestDataBaseHandler::registerValuesFollowEachUplink()
{
    QCOMPARE(fixture.registerDevice("a1", 1260, 0, {registerEntry(0, 16)}), QString("accepted"));
    const uint id = fixture.deviceId("a1");
    QCOMPARE(fixture.handler()->getRegistersData(id).value(0).value, QString("-"));

    for (const QString value : {"0007", "0009"}) {
        DB::SDbDeviceRegDataSet uplink;
        uplink.devEui = "a1";
        uplink.appendRewriteData(value, 0, value);
        fixture.handler()->saveRegisterData(uplink);

        QCOMPARE(fixture.handler()->getRegistersData(id).value(0).value,
            QString::number(value.toInt(nullptr, 16)));
    }
}

QTEST_GUILESS_MAIN(TestDataBaseHandler)
#include "tst_databasehandler.moc"
