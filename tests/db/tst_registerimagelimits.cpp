#include "dbtestfixture.h"

#include <QtTest>

namespace {
const int PORT = 1700;
const qint64 MEMORY_BOUND_KIB = 64 * 1024;

// Peak resident memory of this process so far, in KiB; -1 when unknown.
qint64 peakResidentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

// Rows written by other software with sizes no device can have sit beside sound rows on one port:
// they stay out of the register image and the usage set, so they cost no memory and no registers.
class TestRegisterImageLimits : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void imageMemoryStaysBounded();
    void oddRowsUseNoRegisters();

private:
    CDbTestFixture fixture;
};

void TestRegisterImageLimits::init()
{
    QVERIFY(fixture.start());
    QCOMPARE(fixture.registerDevice("s1", PORT, 100, {registerEntry(0, 16), registerEntry(1, 32)}),
        QString("accepted"));
    QCOMPARE(fixture.exec(QString("INSERT INTO dev_data (device, port, reg_addr, bit_size, "
                                  "full_value, parent) VALUES (%1, %2, 10, 2147483647, '00', 1), "
                                  "(%1, %2, 40, 1048577, NULL, 1)")
                              .arg(fixture.deviceId("s1"))
                              .arg(PORT)),
        QString());
    QVERIFY(fixture.restart());
}

void TestRegisterImageLimits::imageMemoryStaysBounded()
{
    QVERIFY(peakResidentKiB() > 0);

    QCOMPARE(fixture.handler()->getRegisterWords(PORT, 0, 125)->size(), 125);
    QVERIFY2(peakResidentKiB() < MEMORY_BOUND_KIB,
        qPrintable(QString("peak RSS %1 KiB").arg(peakResidentKiB())));
}

void TestRegisterImageLimits::oddRowsUseNoRegisters()
{
    QCOMPARE(fixture.handler()->getLastFreeRegisterForPort(PORT), 103);
    QCOMPARE(fixture.registerDevice("s2", PORT, 0, {registerEntry(10, 64), registerEntry(40, 64)}),
        QString("accepted"));
}

QTEST_GUILESS_MAIN(TestRegisterImageLimits)
#include "tst_registerimagelimits.moc"
