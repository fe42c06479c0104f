#include "registeroverlap.h"
#include "registerspan.h"

#include <QtTest>

// Which registers a device may take on a port, and which stored rows the register image holds.
class TestRegisterRules : public QObject
{
    Q_OBJECT
private slots:
    void firstUsedRegister_data();
    void firstUsedRegister();
};

void TestRegisterRules::firstUsedRegister_data()
{
    QTest::addColumn<QList<int>>("used");
    QTest::addColumn<int>("startAddr");
    QTest::addColumn<int>("regOffset");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<bool>("clashes");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("first of several used registers")
        << QList<int> {13, 12} << 0 << 12 << 32 << true << qint64(12);
    QTest::newRow("offset counts from the start")
        << QList<int> {105} << 100 << 5 << 16 << true << qint64(105);
    QTest::newRow("0 bits cover nothing") << QList<int> {7} << 0 << 7 << 0 << false << qint64(0);
    // Addresses are compared modulo 65536 and reported as computed.
    QTest::newRow("32 bits wrapping onto register 0")
        << QList<int> {0} << 65535 << 0 << 32 << true << qint64(65536);
    QTest::newRow("bit size beyond the address space")
        << QList<int> {65535} << 0 << 0 << std::numeric_limits<int>::max() << true << qint64(65535);
}

void TestRegisterRules::firstUsedRegister()
{
    QFETCH(QList<int>, used);
    QFETCH(int, startAddr);
    QFETCH(int, regOffset);
    QFETCH(int, bitSize);
    QFETCH(bool, clashes);
    QSet<quint16> usedSet;
    for (int address : used)
        usedSet.insert(quint16(address));
    DB::SDeviceRegMapDescription device;
    device.startAddr = startAddr;
    device.registers = {{"r", 0, regOffset, bitSize, "uinteger", 0.0, 1.0, QString()}};

    const std::optional<qint64> clash = ::firstUsedRegister(usedSet, device);

    QCOMPARE(clash.has_value(), clashes);
    if (clashes)
        QTEST(*clash, "expected");
}

QTEST_GUILESS_MAIN(TestRegisterRules)
#include "tst_registerrules.moc"
