#include "logquote.h"

#include <QtTest>

class TestLogQuote : public QObject
{
    Q_OBJECT
private slots:
    void longTextIsCutAtItsFirst256Bytes_data();
    void longTextIsCutAtItsFirst256Bytes();
};

void TestLogQuote::longTextIsCutAtItsFirst256Bytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quoted");

    const QString bytes255(255, QLatin1Char('a'));
    QTest::newRow("256 bytes stay whole") << bytes255 + "b" << bytes255 + "b";
    QTest::newRow("257 bytes") << bytes255 + "bc" << bytes255 + "b... (257 bytes in all)";
    QTest::newRow("a two-byte character is not split")
        << bytes255 + QString::fromUtf8("\xc3\xa9") << bytes255 + "... (257 bytes in all)";
    QTest::newRow("placeholders in the text stay as they are")
        << "%1%2" + bytes255 << "%1%2" + bytes255.left(252) + "... (259 bytes in all)";
}

void TestLogQuote::longTextIsCutAtItsFirst256Bytes()
{
    QFETCH(QString, text);

    QTEST(logQuote(text), "quoted");
}

QTEST_GUILESS_MAIN(TestLogQuote)
#include "tst_logquote.moc"
