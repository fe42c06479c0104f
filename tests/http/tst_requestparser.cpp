#include "requestparser.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using Http::RequestParser;

namespace {
// A POST request with the given content type and body, its length announced.
QByteArray post(const QByteArray& contentType, const QByteArray& body)
{
    return "POST /p HTTP/1.1\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Each warning follows the signature of the parser function that reports it.
void expectWarnings(const QStringList& warnings)
{
    for (const QString& warning : warnings) {
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(" " + QRegularExpression::escape(warning) + "$"));
    }
}
} // namespace

class TestRequestParser : public QObject
{
    Q_OBJECT
private slots:
    void state_data();
    void state();
    void foldedHeader_data();
    void foldedHeader();
    void replayFixtures_data();
    void replayFixtures();
};

// What the parser makes of a buffer, and how many of its bytes the request takes.
void TestRequestParser::state_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("consumed");
    QTest::addColumn<QStringList>("warnings");

    const int complete = RequestParser::Complete;
    const int more = RequestParser::NeedMoreData;
    const int malformed = RequestParser::Malformed;
    const QByteArray length = "POST / HTTP/1.1\r\nContent-Length: ";
    const QByteArray form = post("application/x-www-form-urlencoded", "a=b");

    QTest::newRow("body one byte short") << form.chopped(1) << more << 0 << QStringList();
    QTest::newRow("exactly 64 MiB announced") << length + "67108864\r\n\r\n"
                                              << more << 0 << QStringList();
    QTest::newRow("POST followed by the next request") << form + "GET / HTTP/1.1\r\n\r\n"
                                                       << complete << form.size() << QStringList();
    QTest::newRow("length just over 64 MiB")
        << length + "67108865\r\n\r\n"
        << malformed << 0 << QStringList {"bad request: message too long"};
    // Qt's JSON parser loses memory on a repeated key, so such a body is never parsed.
    QTest::newRow("JSON body repeating a key")
        << post("application/json", R"({"a":[1,2],"a":3})") << malformed << 0
        << QStringList {"JSON parse error: duplicate key", "message body parsing error"};
}

void TestRequestParser::state()
{
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, warnings);

    expectWarnings(warnings);
    const RequestParser::ParseResult result = RequestParser::parse(raw);

    QTEST(int(result.state), "state");
    QTEST(int(result.consumedBytes), "consumed");
}

void TestRequestParser::foldedHeader_data()
{
    QTest::addColumn<QByteArray>("fold");
    QTest::addColumn<QString>("host");

    QTest::newRow("space") << QByteArray(" ") << "a b";
    QTest::newRow("tab") << QByteArray("\t") << "a\tb";
}

// A line starting with white space continues the header line before it.
void TestRequestParser::foldedHeader()
{
    QFETCH(QByteArray, fold);

    const RequestParser::ParseResult result
        = RequestParser::parse("GET / HTTP/1.1\r\nHost: a\r\n" + fold + "b\r\n\r\n");

    QCOMPARE(result.state, RequestParser::Complete);
    QTEST(result.request.headers.value("host"), "host");
}

// Inputs that once made the parser crash, hang or run out of memory.
void TestRequestParser::replayFixtures_data()
{
    QTest::addColumn<QString>("fileName");

    const QFileInfoList fixtures
        = QDir(QStringLiteral(HTTP_FIXTURE_DIR)).entryInfoList(QDir::Files);
    QVERIFY(!fixtures.isEmpty());
    for (const QFileInfo& fixture : fixtures)
        QTest::newRow(qPrintable(fixture.fileName())) << fixture.filePath();
}

void TestRequestParser::replayFixtures()
{
    QFETCH(QString, fileName);

    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();

    QVERIFY(RequestParser::parse(data).consumedBytes <= uint(data.size()));
}

QTEST_GUILESS_MAIN(TestRequestParser)
#include "tst_requestparser.moc"
