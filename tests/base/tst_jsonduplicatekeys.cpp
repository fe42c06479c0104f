#include "jsonduplicatekeys.h"

#include <QtTest>

class TestJsonDuplicateKeys : public QObject
{
    Q_OBJECT
private slots:
    void findsRepeatedKeys_data();
    void findsRepeatedKeys();
};

void TestJsonDuplicateKeys::findsRepeatedKeys_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("repeated");

    // The smallest text that made Qt's parser lose memory, found by the fuzzer.
    QTest::newRow("object value repeated") << QByteArray(R"({"":{"":1},"":1})") << true;
    QTest::newRow("inside an object in an array")
        << QByteArray(R"([1,{"a":[],"b":{},"a":null}])") << true;
    QTest::newRow("after a nested object closes")
        << QByteArray(R"({"a":{"b":1,"c":2},"b":{"a":1},"a":0})") << true;
    QTest::newRow("written with an escape") << QByteArray(R"({"a":1,"\u0061":2})") << true;
    QTest::newRow("same key in sibling objects") << QByteArray(R"([{"a":1},{"a":2}])") << false;
    QTest::newRow("same key at two depths") << QByteArray(R"({"a":{"a":{"a":1}}})") << false;
    QTest::newRow("value equal to a key") << QByteArray(R"({"a":"a","b":"a"})") << false;
    QTest::newRow("keys that differ after an escape")
        << QByteArray(R"({"a\"b":1,"a\"c":2})") << false;
    QTest::newRow("braces and commas inside a string")
        << QByteArray(R"({"a":"{\"a\":1,\"a\":2}","b":1})") << false;
    QTest::newRow("unterminated string") << QByteArray(R"({"a":1,"a)") << false;
}

void TestJsonDuplicateKeys::findsRepeatedKeys()
{
    QFETCH(QByteArray, json);

    QTEST(hasDuplicateKeys(json), "repeated");
}

QTEST_GUILESS_MAIN(TestJsonDuplicateKeys)
#include "tst_jsonduplicatekeys.moc"
