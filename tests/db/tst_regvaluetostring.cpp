#include "app/clogfile.h"
#include "db/cdatabasehandler.h"

#include <QtTest>

class TestRegValueToString : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { CLogFile::getInstance(QString(), QString()); }
    void formats_data();
    void formats();
};

void TestRegValueToString::formats_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("expected");

    const QVariant null(QVariant::String);
    QTest::newRow("int16 negative") << "integer" << QVariant("FFFE") << 16 << "-2";
    QTest::newRow("int8 reads two bytes") << "integer" << QVariant("7f") << 8 << "32512";
    QTest::newRow("int32 negative") << "integer" << QVariant("FFFFFFFE") << 32 << "-2";
    QTest::newRow("int32 positive") << "integer" << QVariant("00010000") << 32 << "65536";
    QTest::newRow("int24 read as 64 bits")
        << "integer" << QVariant("000001") << 24 << "1099511627776";
    QTest::newRow("int64 minimum")
        << "integer" << QVariant("8000000000000000") << 64 << "-9223372036854775808";
    QTest::newRow("int16 extra bytes ignored") << "integer" << QVariant("0001FFFF") << 16 << "1";
    QTest::newRow("int null") << "integer" << null << 16 << "-";
    QTest::newRow("uint 8") << "uinteger" << QVariant("00FF") << 8 << "255";
    QTest::newRow("uint 64 max") << "uinteger" << QVariant("FFFFFFFFFFFFFFFF") << 64
                                 << "18446744073709551615";
    QTest::newRow("uint too long") << "uinteger" << QVariant("1FFFFFFFFFFFFFFFF") << 64 << "0";
    QTest::newRow("uint not hex") << "uinteger" << QVariant("xyz") << 16 << "0";
    QTest::newRow("uint null") << "uinteger" << null << 16 << "-";
    QTest::newRow("text") << "text" << QVariant("ABC") << 24 << "ABC";
    QTest::newRow("text stops at NUL")
        << "text" << QVariant(QString("AB") + QChar(0) + "C") << 32 << "AB";
    QTest::newRow("text null") << "text" << null << 24 << "-";
    QTest::newRow("boolean") << "boolean" << QVariant("01") << 8 << "-";
    QTest::newRow("type is case-sensitive") << "Integer" << QVariant("0001") << 16 << "-";
}

void TestRegValueToString::formats()
{
    QFETCH(QString, dataType);
    QFETCH(QVariant, value);
    QFETCH(int, bitSize);
    QFETCH(QString, expected);
    QCOMPARE(regValueToString(dataType, value, bitSize), expected);
}

QTEST_GUILESS_MAIN(TestRegValueToString)
#include "tst_regvaluetostring.moc"
