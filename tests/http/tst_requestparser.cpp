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
    void refused_data();
    void refused();
    void incompleteNeedsMoreData_data();
    void incompleteNeedsMoreData();
    void completeConsumesItsOwnBytes_data();
    void completeConsumesItsOwnBytes();
    void requestLine();
    void queryString();
    void pathIsDecodedUpToAZeroByte_data();
    void pathIsDecodedUpToAZeroByte();
    void headers();
    void formBody_data();
    void formBody();
    void uploadedFile();
    void jsonBody();
    void replayFixtures_data();
    void replayFixtures();
};

void TestRequestParser::refused_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("warnings");

    const int malformed = RequestParser::Malformed;
    const QByteArray length = "POST / HTTP/1.1\r\nContent-Length: ";
    const QString headerError = QStringLiteral("header parsing error");
    const QString bodyError = QStringLiteral("message body parsing error");

    QTest::newRow("unknown method") << QByteArray("BREW /pot HTTP/1.1\r\n\r\n")
                                    << int(RequestParser::UnsupportedMethod) << QStringList();
    QTest::newRow("lower-case method")
        << QByteArray("get / HTTP/1.1\r\n\r\n") << malformed
        << QStringList {"invalid http header: get / HTTP/1.1", headerError};
    QTest::newRow("version without minor digit")
        << QByteArray("GET / HTTP/1\r\n\r\n") << malformed
        << QStringList {"invalid http header: GET / HTTP/1", headerError};
    QTest::newRow("header without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << malformed
        << QStringList {"invalid http header: Host x", headerError};
    QTest::newRow("header with empty name")
        << QByteArray("GET / HTTP/1.1\r\n: x\r\n\r\n") << malformed
        << QStringList {"invalid http header: : x", headerError};
    QTest::newRow("negative length")
        << length + "-1\r\n\r\n"
        << malformed << QStringList {"bad request: content-length invalid"};
    QTest::newRow("empty length") << length + "\r\n\r\n"
                                  << malformed
                                  << QStringList {"bad request: content-length invalid"};
    QTest::newRow("length beyond 32 bits")
        << length + "4294967301\r\n\r\n"
        << malformed << QStringList {"bad request: content-length invalid"};
    QTest::newRow("length just over 64 MiB") << length
            + "67108865\r\n\r\n" << malformed << QStringList {"bad request: message too long"};
    QTest::newRow("unknown content type") << post("text/plain",
        "abc") << malformed << QStringList {"unknown content type: text/plain", bodyError};
    QTest::newRow("invalid JSON") << post("application/json", "{\"a\":") << malformed
                                  << QStringList {
                                         "JSON parse error: unterminated object on 5", bodyError};
    QTest::newRow("multipart without boundary")
        << post("multipart/form-data", FIELD_PART) << malformed
        << QStringList {"Could not find boundary in multipart/form-data header!", bodyError};
    QTest::newRow("empty quoted boundary") << post("multipart/form-data; boundary=\"\"",
        FIELD_PART) << malformed << QStringList {"boundary delimiter field empty!", bodyError};
    // The whole rest of the header value is taken as the boundary, so the body stays one part
    // whose first header line is the delimiter.
    QTest::newRow("boundary followed by parameters") << post(MULTIPART + "; charset=utf-8",
        FIELD_PART) << malformed << QStringList {"invalid http header: --X", bodyError};
    QTest::newRow("multipart of delimiters only") << post(MULTIPART, "--X\r\n--X\r\n") << malformed
                                                  << QStringList {"multipart empty", bodyError};
    QTest::newRow("part without header end")
        << post(MULTIPART, "--X\r\nabc\r\n--X--\r\n") << malformed
        << QStringList {"multipart/form-data format error", bodyError};
    QTest::newRow("part without name")
        << post(MULTIPART, QByteArray(FIELD_PART).replace("; name=f", "")) << malformed
        << QStringList {"multipart/form-data header error", bodyError};
}

void TestRequestParser::refused()
{
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, warnings);

    expectWarnings(warnings);
    const RequestParser::ParseResult result = RequestParser::parse(raw);

    QTEST(int(result.state), "state");
    QCOMPARE(result.consumedBytes, 0u);
}

void TestRequestParser::incompleteNeedsMoreData_data()
{
    QTest::addColumn<QByteArray>("raw");

    QTest::newRow("no end of header") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n");
    QTest::newRow("body one byte short") << post("application/json", "[1,2]").chopped(1);
    // The limit itself is accepted; the body is awaited.
    QTest::newRow("exactly 64 MiB announced")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n");
}

void TestRequestParser::incompleteNeedsMoreData()
{
    QFETCH(QByteArray, raw);

    const RequestParser::ParseResult result = RequestParser::parse(raw);

    QCOMPARE(result.state, RequestParser::NeedMoreData);
    QCOMPARE(result.consumedBytes, 0u);
}

void TestRequestParser::completeConsumesItsOwnBytes_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("following");

    QTest::newRow("GET") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray();
    QTest::newRow("GET ignores an announced body")
        << QByteArray("GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\n") << QByteArray("abc");
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.1\r\n\r\n") << QByteArray();
    QTest::newRow("POST without length needs no content type")
        << QByteArray("POST / HTTP/1.1\r\n\r\n") << QByteArray();
    QTest::newRow("POST followed by the next request")
        << post("application/x-www-form-urlencoded", "a=b") << QByteArray("GET / HTTP/1.1\r\n\r\n");
}

void TestRequestParser::completeConsumesItsOwnBytes()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, following);

    const RequestParser::ParseResult result = RequestParser::parse(request + following);

    QCOMPARE(result.state, RequestParser::Complete);
    QCOMPARE(result.consumedBytes, uint(request.size()));
}

void TestRequestParser::requestLine()
{
    const Http::Request request = RequestParser::parse("HEAD /a HTTP/1.0\r\n\r\n").request;

    QCOMPARE(request.method, QString("HEAD"));
    QCOMPARE(request.path, QString("/a"));
    QCOMPARE(request.version, QString("1.0"));
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

void TestRequestParser::pathIsDecodedUpToAZeroByte_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("path");

    QTest::newRow("percent-encoded UTF-8") << QByteArray("/caf%C3%A9") << QString("/caf\u00e9");
    QTest::newRow("plus stays a plus") << QByteArray("/a+b") << QString("/a+b");
    QTest::newRow("cut at a zero byte") << QByteArray("/ab%00cd") << QString("/ab");
    QTest::newRow("invalid UTF-8") << QByteArray("/ab%FF") << QString("/ab\ufffd");
}

void TestRequestParser::pathIsDecodedUpToAZeroByte()
{
    QFETCH(QByteArray, target);

    const Http::Request request
        = RequestParser::parse("GET " + target + " HTTP/1.1\r\n\r\n").request;

    QTEST(request.path, "path");
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
    QTest::newRow("url-encoded, later name wins")
        << urlEncoded << QByteArray("a=1&a=3") << Form {{"a", "3"}};
    QTest::newRow("content type in any case") << QByteArray("Application/X-WWW-Form-Urlencoded")
                                              << QByteArray("a=1") << Form {{"a", "1"}};
    QTest::newRow("multipart field") << MULTIPART << FIELD_PART << Form {{"f", "abc"}};
    QTest::newRow("multipart field cut at a zero byte")
        << MULTIPART << QByteArray(FIELD_PART).replace("b", QByteArray(1, '\0'))
        << Form {{"f", "a"}};
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

void TestRequestParser::jsonBody()
{
    const Http::Request request
        = RequestParser::parse(post("application/json; charset=utf-8", "{\"a\":[1,2]}")).request;

    QCOMPARE(request.json, QJsonDocument::fromJson("{\"a\":[1,2]}"));
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
