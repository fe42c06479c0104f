#include "http/requestparser.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using Http::RequestParser;

namespace {

QByteArray post(const QByteArray& contentType, const QByteArray& body)
{
    return "POST /p HTTP/1.1\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One canonical line per parsed body item, so a table row can state what it expects.
QString summary(const Http::Request& request)
{
    QStringList items;
    for (auto it = request.form.cbegin(); it != request.form.cend(); ++it)
        items << QStringLiteral("form[%1]=%2").arg(it.key(), it.value());
    for (const Http::UploadedFile& file : request.files) {
        items << QStringLiteral("file[%1|%2]=%3")
                     .arg(file.filename, file.type, QString::fromLatin1(file.data));
    }
    if (!request.json.isNull())
        items << QStringLiteral("json=")
                + QString::fromUtf8(request.json.toJson(QJsonDocument::Compact));
    return items.join(QLatin1Char(';'));
}

} // namespace

class TestRequestParser : public QObject
{
    Q_OBJECT
private slots:
    void parseState_data();
    void parseState();
    void requestLineAndHeaders();
    void postBody_data();
    void postBody();
    void warningTexts();
    void replayFixtures();
};

void TestRequestParser::parseState_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("consumed");

    const QByteArray json5 = "POST / HTTP/1.1\r\nContent-Type: application/json\r\n"
                             "Content-Length: 5\r\n\r\n";
    const int json5Header = json5.size();

    QTest::newRow("simple GET") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n")
                                << int(RequestParser::Complete) << 27;
    QTest::newRow("GET body ignored")
        << QByteArray("GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
        << int(RequestParser::Complete) << 37;
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << int(RequestParser::Complete)
                          << 19;
    QTest::newRow("no end of header")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << int(RequestParser::NeedMoreData) << 0;
    QTest::newRow("empty header block")
        << QByteArray("\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("lower-case method")
        << QByteArray("get / HTTP/1.1\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("version without minor")
        << QByteArray("GET / HTTP/1\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("leading white space")
        << QByteArray(" GET / HTTP/1.1\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("unknown method")
        << QByteArray("BREW /pot HTTP/1.1\r\n\r\n") << int(RequestParser::UnsupportedMethod) << 0;
    QTest::newRow("header without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("header colon first")
        << QByteArray("GET / HTTP/1.1\r\n: x\r\n\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST body incomplete")
        << json5 + "[1,2" << int(RequestParser::NeedMoreData) << 0;
    QTest::newRow("POST body complete")
        << json5 + "[1,2]" << int(RequestParser::Complete) << json5Header + 5;
    QTest::newRow("POST next request follows") << json5 + "[1,2]GET / HTTP/1.1\r\n\r\n"
                                               << int(RequestParser::Complete) << json5Header + 5;
    QTest::newRow("POST without length")
        << QByteArray("POST / HTTP/1.1\r\n\r\n") << int(RequestParser::Complete) << 19;
    QTest::newRow("POST empty length") << QByteArray("POST / HTTP/1.1\r\nContent-Length:\r\n\r\n")
                                       << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST length not a number")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST negative length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST length beyond 32 bits")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 4294967301\r\n\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST just over 64 MiB")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST exactly 64 MiB")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n")
        << int(RequestParser::NeedMoreData) << 0;
    QTest::newRow("POST unknown content type")
        << post("text/plain", "abc") << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST no content type")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("POST invalid JSON")
        << post("application/json", "{\"a\":") << int(RequestParser::Malformed) << 0;
    QTest::newRow("multipart without boundary")
        << post("multipart/form-data", "--X\r\n") << int(RequestParser::Malformed) << 0;
    QTest::newRow("multipart empty boundary")
        << post("multipart/form-data; boundary=\"\"", "--X\r\n") << int(RequestParser::Malformed)
        << 0;
    QTest::newRow("multipart boundary with parameters")
        << post("multipart/form-data; boundary=X; charset=utf-8",
               "--X\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nabc\r\n--X--\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("multipart part without header end")
        << post("multipart/form-data; boundary=X", "--X\r\nabc\r\n--X--\r\n")
        << int(RequestParser::Malformed) << 0;
    QTest::newRow("multipart part without name") << post("multipart/form-data; boundary=X",
        "--X\r\nContent-Disposition: form-data\r\n\r\nabc\r\n--X--\r\n")
                                                 << int(RequestParser::Malformed) << 0;
}

void TestRequestParser::parseState()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, state);
    QFETCH(int, consumed);

    const RequestParser::ParseResult result = RequestParser::parse(raw);
    QCOMPARE(int(result.state), state);
    QCOMPARE(int(result.consumedBytes), consumed);
}

void TestRequestParser::requestLineAndHeaders()
{
    const RequestParser::ParseResult result
        = RequestParser::parse("GET /a%20b?x=1&x=2&y&=3&z=%2B&n%61me=v+w%26 HTTP/1.1\r\n"
                               "Host: a\r\n b\r\n"
                               "X-Twice:  first\r\n"
                               "x-twice: second \r\n\r\n");
    QCOMPARE(result.state, RequestParser::Complete);
    const Http::Request& request = result.request;
    QCOMPARE(request.method, QStringLiteral("GET"));
    QCOMPARE(request.version, QStringLiteral("1.1"));
    QCOMPARE(request.path, QStringLiteral("/a b"));
    QCOMPARE(request.query.keys(), QStringList({"name", "x", "z"}));
    QCOMPARE(request.query.value("x"), QByteArray("2"));
    QCOMPARE(request.query.value("z"), QByteArray(" "));
    QCOMPARE(request.query.value("name"), QByteArray("v w&"));
    QCOMPARE(request.headers.value("host"), QStringLiteral("a b"));
    QCOMPARE(request.headers.value("x-twice"), QStringLiteral("second"));
    QCOMPARE(request.headers.size(), 2);

    // The path is cut at a decoded zero byte; invalid UTF-8 must not break anything.
    const RequestParser::ParseResult cut = RequestParser::parse("GET /ab%00cd%FF HTTP/1.1\r\n\r\n");
    QCOMPARE(cut.state, RequestParser::Complete);
    QCOMPARE(cut.request.path, QStringLiteral("/ab"));

    // An unsupported method is still reported, so the connection can name it.
    QCOMPARE(
        RequestParser::parse("BREW / HTTP/1.1\r\n\r\n").request.method, QStringLiteral("BREW"));
}

void TestRequestParser::postBody_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");

    QTest::newRow("url-encoded") << post("application/x-www-form-urlencoded", "a=1+2&b=%2B&a=3")
                                 << "form[a]=3;form[b]=+";
    QTest::newRow("url-encoded type case")
        << post("Application/X-WWW-Form-Urlencoded; charset=x", "k=v") << "form[k]=v";
    QTest::newRow("json") << post("application/json", "{\"a\": [1, 2]}") << "json={\"a\":[1,2]}";
    QTest::newRow("multipart file") << post("multipart/form-data; boundary=X",
        "--X\r\nContent-Disposition: form-data; name=\"f\"; filename=\"t.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nabc\r\n--X--\r\n")
                                    << "file[t.txt|text/plain]=abc";
    QTest::newRow("multipart field and file, quoted boundary") << post(
        "multipart/form-data; boundary=\"b-1\"",
        "--b-1\r\ncontent-disposition: form-data; name=title\r\n\r\nhi\r\n"
        "--b-1\r\nContent-Disposition: form-data; name=\"f\"; filename=\"e\"\r\n\r\n"
        "\r\n--b-1--\r\n") << "form[title]=hi;file[e|]=";
    QTest::newRow("multipart field cut at zero byte") << post("multipart/form-data; boundary=X",
        QByteArray("--X\r\nContent-Disposition: form-data; name=n\r\n\r\nab\0cd\r\n--X--\r\n", 57))
                                                      << "form[n]=ab";
}

void TestRequestParser::postBody()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);

    const RequestParser::ParseResult result = RequestParser::parse(raw);
    QCOMPARE(result.state, RequestParser::Complete);
    QCOMPARE(int(result.consumedBytes), raw.size());
    QCOMPARE(summary(result.request), expected);
}

void TestRequestParser::warningTexts()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" bad request: message too long$"));
    RequestParser::parse("POST / HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n");

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" invalid http header: Host x$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" header parsing error$"));
    RequestParser::parse("GET / HTTP/1.1\r\nHost x\r\n\r\n");

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" unknown content type: text/plain$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" message body parsing error$"));
    RequestParser::parse(post("text/plain", "abc"));
}

// Inputs that once made the parser crash, hang or run out of memory.
void TestRequestParser::replayFixtures()
{
    const QDir fixtures(QStringLiteral(HTTP_FIXTURE_DIR));
    const QStringList names = fixtures.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) {
        QFile file(fixtures.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const RequestParser::ParseResult result = RequestParser::parse(data);
        QVERIFY2(result.consumedBytes <= uint(data.size()), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestRequestParser)
#include "tst_requestparser.moc"
