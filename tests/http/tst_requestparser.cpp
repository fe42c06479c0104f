#include "requestparser.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using Http::RequestParser;
using Form = QMap<QString, QString>;
using Query = QMap<QString, QByteArray>;

namespace {
// A POST request with the given content type and body, its length announced.
QByteArray post(const QByteArray& contentType, const QByteArray& body)
{
    return "POST /p HTTP/1.1\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

const QByteArray MULTIPART = "multipart/form-data; boundary=X";
const QByteArray FIELD_PART
    = "--X\r\nContent-Disposition: form-data; name=f\r\n\r\nabc\r\n--X--\r\n";

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
    void queryString();
    void headers();
    void formBody_data();
    void formBody();
    void uploadedFile();
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
    const QByteArray get = "GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\n";
    const QByteArray form = post("application/x-www-form-urlencoded", "a=b");
    const QString bodyError = QStringLiteral("message body parsing error");

    QTest::newRow("no end of header")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << more << 0 << QStringList();
    QTest::newRow("body one byte short") << form.chopped(1) << more << 0 << QStringList();
    QTest::newRow("exactly 64 MiB announced") << length + "67108864\r\n\r\n"
                                              << more << 0 << QStringList();
    QTest::newRow("GET ignores an announced body")
        << get + "abc" << complete << get.size() << QStringList();
    QTest::newRow("POST without length needs no content type")
        << QByteArray("POST / HTTP/1.1\r\n\r\n") << complete << 19 << QStringList();
    QTest::newRow("POST followed by the next request") << form + "GET / HTTP/1.1\r\n\r\n"
                                                       << complete << form.size() << QStringList();
    QTest::newRow("header with empty name")
        << QByteArray("GET / HTTP/1.1\r\n: x\r\n\r\n") << malformed << 0
        << QStringList {"invalid http header: : x", "header parsing error"};
    QTest::newRow("empty length") << length + "\r\n\r\n"
                                  << malformed << 0
                                  << QStringList {"bad request: content-length invalid"};
    QTest::newRow("length just over 64 MiB")
        << length + "67108865\r\n\r\n"
        << malformed << 0 << QStringList {"bad request: message too long"};
    QTest::newRow("unknown content type") << post("text/plain",
        "abc") << malformed << 0 << QStringList {"unknown content type: text/plain", bodyError};
    QTest::newRow("invalid JSON") << post("application/json", "{\"a\":") << malformed << 0
                                  << QStringList {
                                         "JSON parse error: unterminated object on 5", bodyError};
    // The whole rest of the header value is taken as the boundary, so the body stays one part
    // whose first header line is the delimiter.
    QTest::newRow("boundary followed by parameters") << post(MULTIPART + "; charset=utf-8",
        FIELD_PART) << malformed << 0 << QStringList {"invalid http header: --X", bodyError};
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

// A later piece of the same name wins; pieces without a name or "=" are ignored; plus signs
// become spaces after percent-decoding, so an encoded plus is a space too.
void TestRequestParser::queryString()
{
    const Http::Request request
        = RequestParser::parse("GET /a%20b?x=1&x=2&y&=3&z=%2B&n%61me=v+w%26 HTTP/1.1\r\n\r\n")
              .request;

    QCOMPARE(request.path, QString("/a b"));
    QCOMPARE(request.query, (Query {{"name", "v w&"}, {"x", "2"}, {"z", " "}}));
}

// Names are lower-cased, values trimmed, folded lines joined, and the last of a name wins.
void TestRequestParser::headers()
{
    const Http::Request request
        = RequestParser::parse("GET / HTTP/1.1\r\nHost: a\r\n b\r\n"
                               "X-Twice:  first\r\nx-twice: second \r\n\r\n")
              .request;

    QCOMPARE(request.headers, (Http::HeaderMap {{"host", "a b"}, {"x-twice", "second"}}));
}

void TestRequestParser::formBody_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Form>("form");

    const QByteArray urlEncoded = "application/x-www-form-urlencoded";
    // In a form body plus signs become spaces before percent-decoding, unlike in the query.
    QTest::newRow("url-encoded") << urlEncoded << QByteArray("a=1+2&b=%2B")
                                 << Form {{"a", "1 2"}, {"b", "+"}};
    QTest::newRow("multipart field") << MULTIPART << FIELD_PART << Form {{"f", "abc"}};
    QTest::newRow("quoted boundary, quoted name")
        << QByteArray("multipart/form-data; boundary=\"b-1\"")
        << QByteArray("--b-1\r\ncontent-disposition: form-data; name=\"title\"\r\n\r\nhi\r\n"
                      "--b-1--\r\n")
        << Form {{"title", "hi"}};
}

void TestRequestParser::formBody()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);

    const RequestParser::ParseResult result = RequestParser::parse(post(contentType, body));

    QCOMPARE(result.state, RequestParser::Complete);
    QTEST(result.request.form, "form");
}

void TestRequestParser::uploadedFile()
{
    const QByteArray body = "--X\r\nContent-Disposition: form-data; name=f; filename=t.txt\r\n"
                            "Content-Type: text/plain\r\n\r\nabc\r\n--X--\r\n";

    const Http::Request request = RequestParser::parse(post(MULTIPART, body)).request;

    QCOMPARE(request.files.size(), 1);
    QCOMPARE(request.files.first().filename, QString("t.txt"));
    QCOMPARE(request.files.first().type, QString("text/plain"));
    QCOMPARE(request.files.first().data, QByteArray("abc"));
    QCOMPARE(request.form, Form());
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
