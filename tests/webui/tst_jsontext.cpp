#include "jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <limits>

// The hand-written JSON must be the very bytes QJsonDocument writes: browsers and tools read the
// register values answer that way, and before it was written by hand it came from QJsonDocument.
class TestJsonText : public QObject
{
    Q_OBJECT

private slots:
    void stringsAsQJsonDocumentWritesThem_data();
    void stringsAsQJsonDocumentWritesThem();
    void numbersAsQJsonDocumentWritesThem_data();
    void numbersAsQJsonDocumentWritesThem();

private:
    // What QJsonDocument writes for value alone, without the brackets of its array.
    static QByteArray qtText(const QJsonValue& value);
};

QByteArray TestJsonText::qtText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

void TestJsonText::stringsAsQJsonDocumentWritesThem_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QStringLiteral("uinteger 12.5 °C");
    QTest::newRow("quote and backslash") << QStringLiteral("a \"b\" \\c\\");
    QTest::newRow("named control characters") << QStringLiteral("\b\f\n\r\t");
    QTest::newRow("other control characters") << QString::fromUtf8("\x01\x1f\x7f");
    QTest::newRow("cyrillic") << QStringLiteral("Температура");
    QTest::newRow("outside the basic plane") << QString::fromUtf8("\xF0\x9F\x8C\xA1");
    QTest::newRow("slash") << QStringLiteral("</script>");
    QTest::newRow("three UTF-8 bytes") << QStringLiteral("€");
    QTest::newRow("lone high surrogate") << QString(QChar(0xd800));
    QTest::newRow("lone low surrogate") << QString(QChar(0xdc00)) + QLatin1Char('a');
}

void TestJsonText::stringsAsQJsonDocumentWritesThem()
{
    QFETCH(QString, value);

    QByteArray written;
    JsonText::appendString(written, value);

    QCOMPARE(written, qtText(value));
}

void TestJsonText::numbersAsQJsonDocumentWritesThem_data()
{
    QTest::addColumn<double>("value");

    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("whole") << 42.0;
    QTest::newRow("tenth") << 0.1;
    QTest::newRow("small") << 1.5e-7;
    QTest::newRow("beyond exact integers") << 9007199254740993.0;
    QTest::newRow("2^63") << 9223372036854775808.0;
    QTest::newRow("2^64") << 18446744073709551616.0;
    QTest::newRow("huge") << 1e300;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
}

void TestJsonText::numbersAsQJsonDocumentWritesThem()
{
    QFETCH(double, value);

    QByteArray written;
    JsonText::appendNumber(written, value);

    QCOMPARE(written, qtText(value));
}

QTEST_GUILESS_MAIN(TestJsonText)
#include "tst_jsontext.moc"
