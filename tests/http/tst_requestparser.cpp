#include "requestparser.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using Http::RequestParser;

class TestRequestParser : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void requestLineAndHeaders();
    void replayFixtures();
};

void TestRequestParser::parse_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("outcome");
    // The outcome of a complete request is its parsed body, that of a refused one its warning.
    const auto row = [](const char* name, const QByteArray& raw, RequestParser::ParseState state,
                         const QString& outcome = QString()) {
        QTest::newRow(name) << raw << int(state) << outcome;
    };
    const auto post = [](const QByteArray& contentType, const QByteArray& body) {
        return "POST /p HTTP/1.1\r\nContent-Type: " + contentType
            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    const auto done = RequestParser::Complete;
    const auto more = RequestParser::NeedMoreData;
    const auto bad = RequestParser::Malformed;
    const QByteArray length = "POST / HTTP/1.1\r\nContent-Length: ";
    const QByteArray multipart = "multipart/form-data; boundary=X";
    const QByteArray part = "--X\r\nContent-Disposition: form-data; name=f\r\n\r\nabc\r\n--X--\r\n";

    row("simple GET", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", done);
    row("GET waits for no body", "GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\n", done);
    row("no end of header", "GET / HTTP/1.1\r\nHost: x\r\n", more);
    row("lower-case method", "get / HTTP/1.1\r\n\r\n", bad, "header: get / HTTP/1.1$");
    row("unknown method", "BREW /pot HTTP/1.1\r\n\r\n", RequestParser::UnsupportedMethod);
    row("header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n", bad, "header: Host x$");
    row("POST body incomplete", post("application/json", "[1,2]").chopped(1), more);
    row("POST without length", "POST / HTTP/1.1\r\n\r\n", done);
    row("negative length", length + "-1\r\n\r\n", bad, "length invalid$");
    row("length beyond 32 bits", length + "4294967301\r\n\r\n", bad, "length invalid$");
    row("just over 64 MiB", length + "67108865\r\n\r\n", bad, " message too long$");
    row("exactly 64 MiB", length + "67108864\r\n\r\n", more);
    row("unknown content type", post("text/plain", "abc"), bad, "content type: text/plain$");
    row("invalid JSON", post("application/json", "{\"a\":"), bad, "JSON parse error");
    row("no boundary", post("multipart/form-data", part), bad, "Could not find boundary");
    row("empty boundary", post(multipart.chopped(1) + "\"\"", part), bad, "field empty!$");
    row("boundary with parameters", post(multipart + "; a=b", part), bad, "header: --X$");
    row("part, no header end", post(multipart, "--X\r\nabc\r\n--X--\r\n"), bad, "format error$");
    row("part, no name", post(multipart, QByteArray(part).replace("; name=f", "")), bad,
        "a header error$");

    row("url-encoded", post("application/x-www-form-urlencoded", "a=1&b=%2B+&a=3"), done,
        "a=3;b=+ ");
    row("cut at zero byte", post(multipart, QByteArray(part).replace("b", QByteArray(1, 0))), done,
        "f=a");
    row("field and file, quoted boundary",
        post("multipart/form-data; boundary=\"b-1\"",
            "--b-1\r\ncontent-disposition: form-data; name=title\r\n\r\nhi\r\n"
            "--b-1\r\nContent-Disposition: form-data; name=\"f\"; filename=\"t.txt\"\r\n"
            "Content-Type: text/plain\r\n\r\nabc\r\n--b-1--\r\n"),
        done, "title=hi;file t.txt text/plain abc");
}

void TestRequestParser::parse()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, state);
    QFETCH(QString, outcome);

    if (state != RequestParser::Complete && !outcome.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(outcome));
    const RequestParser::ParseResult result = RequestParser::parse(raw);
    QCOMPARE(int(result.state), state);
    QCOMPARE(int(result.consumedBytes), state == RequestParser::Complete ? raw.size() : 0);
    QStringList items;
    for (auto it = result.request.form.cbegin(); it != result.request.form.cend(); ++it)
        items << it.key() + '=' + it.value();
    for (const Http::UploadedFile& file : result.request.files)
        items << QStringList {"file", file.filename, file.type, file.data}.join(' ');
    if (!result.request.json.isNull())
        items << result.request.json.toJson(QJsonDocument::Compact);
    if (state == RequestParser::Complete)
        QCOMPARE(items.join(';'), outcome);
}

void TestRequestParser::requestLineAndHeaders()
{
    const Http::Request request
        = RequestParser::parse("GET /a%20b?x=1&x=2&y&=3&z=%2B&n%61me=v+w%26 HTTP/1.1\r\n"
                               "Host: a\r\n b\r\nX-Twice:  first\r\nx-twice: second \r\n\r\n")
              .request;
    QCOMPARE(request.method + ' ' + request.path + ' ' + request.version, "GET /a b 1.1");
    QCOMPARE(request.query, (QMap<QString, QByteArray> {{"name", "v w&"}, {"x", "2"}, {"z", " "}}));
    QCOMPARE(request.headers, (Http::HeaderMap {{"host", "a b"}, {"x-twice", "second"}}));
    // The path is cut at a decoded zero byte; invalid UTF-8 must not break anything.
    QCOMPARE(RequestParser::parse("GET /ab%00cd%FF HTTP/1.1\r\n\r\n").request.path, "/ab");
}

// Inputs that once made the parser crash, hang or run out of memory.
void TestRequestParser::replayFixtures()
{
    const QFileInfoList fixtures
        = QDir(QStringLiteral(HTTP_FIXTURE_DIR)).entryInfoList(QDir::Files);
    QVERIFY(!fixtures.isEmpty());
    for (const QFileInfo& fixture : fixtures) {
        QFile file(fixture.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(RequestParser::parse(file.readAll()).consumedBytes <= quint64(file.size()));
    }
}

QTEST_GUILESS_MAIN(TestRequestParser)
#include "tst_requestparser.moc"
