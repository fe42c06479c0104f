#include "http/gzip.h"
#include "http/responsebuilder.h"
#include "http/responsegenerator.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <zlib.h>

namespace {

QByteArray gunzip(const QByteArray& compressed)
{
    z_stream stream {};
    if (inflateInit2(&stream, 31) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    QByteArray output;
    QByteArray chunk(65536, Qt::Uninitialized);
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        result = inflate(&stream, Z_NO_FLUSH);
        output.append(chunk.constData(), chunk.size() - int(stream.avail_out));
    }
    inflateEnd(&stream);
    return (result == Z_STREAM_END && stream.avail_in == 0) ? output : QByteArray("<broken>");
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& byte : data)
        byte = char(generator.bounded(256));
    return data;
}

QByteArray repeatedText(int size)
{
    QByteArray text;
    while (text.size() < size)
        text += "<p>register 40001 holds 0x1a2b</p>\n";
    return text.left(size);
}

struct WireResponse
{
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& header : headers) {
            if (header.first == name)
                return header.second;
        }
        return {};
    }
};

WireResponse split(const QByteArray& wire)
{
    WireResponse response;
    const int end = wire.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = wire.left(end + 2).split('\n');
    response.statusLine = lines.first().chopped(1);
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QByteArray line = lines.at(i).chopped(1);
        const int colon = line.indexOf(": ");
        response.headers.append({line.left(colon), line.mid(colon + 2)});
    }
    response.body = wire.mid(end + 4);
    return response;
}

} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
    void serialisation();
    void compression_data();
    void compression();
    void gzipRoundTrip();
    void httpDate();
    void builder();
};

void TestHttpResponse::serialisation()
{
    Http::Response response;
    response.status = {404, QStringLiteral("Not Found")};
    response.headers[Http::HEADER_DATE] = QStringLiteral("stale");
    response.headers[Http::HEADER_CONTENT_TYPE] = Http::CONTENT_TYPE_TXT;
    response.headers[Http::HEADER_CONNECTION] = QStringLiteral("keep-alive");
    response.headers[Http::HEADER_CACHE_CONTROL] = QStringLiteral("no-store");
    response.headers[QStringLiteral("x-name")] = QStringLiteral("caf\u00e9 \u20ac");
    response.content = "hello";

    const WireResponse wire = split(Http::toByteArray(response));
    QCOMPARE(wire.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
    QStringList names;
    for (const auto& header : wire.headers)
        names << QString::fromLatin1(header.first);
    QCOMPARE(names,
        QStringList(
            {"cache-control", "connection", "content-length", "content-type", "date", "x-name"}));
    QCOMPARE(wire.header("content-length"), QByteArray("5"));
    QVERIFY(wire.header("date") != "stale");
    QCOMPARE(wire.header("x-name"), QByteArray("caf\xe9 ?"));
    QCOMPARE(wire.body, QByteArray("hello"));

    // An empty body is announced as such; a length set by the handler is kept.
    QCOMPARE(split(Http::toByteArray(Http::Response())).header("content-length"), QByteArray("0"));
    Http::Response preset;
    preset.headers[Http::HEADER_CONTENT_LENGTH] = QStringLiteral("99");
    QCOMPARE(split(Http::toByteArray(preset)).header("content-length"), QByteArray("99"));
}

void TestHttpResponse::compression_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("compressed");

    const QString html = Http::CONTENT_TYPE_HTML;
    QTest::newRow("1024 bytes stay plain") << repeatedText(1024) << html << "gzip" << false;
    QTest::newRow("1025 bytes compressed") << repeatedText(1025) << html << "gzip" << true;
    QTest::newRow("not asked for") << repeatedText(5000) << html << "" << false;
    QTest::newRow("encoding compared exactly") << repeatedText(5000) << html << "GZIP" << false;
    QTest::newRow("no content type") << repeatedText(5000) << ""
                                     << "gzip" << true;
    QTest::newRow("png never") << repeatedText(100 * 1024) << Http::CONTENT_TYPE_PNG << "gzip"
                               << false;
    QTest::newRow("gif never") << repeatedText(5000) << Http::CONTENT_TYPE_GIF << "gzip" << false;
    QTest::newRow("incompressible") << randomBytes(5000) << html << "gzip" << false;
}

void TestHttpResponse::compression()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    QFETCH(QString, encoding);
    QFETCH(bool, compressed);

    Http::Response response;
    if (!type.isEmpty())
        response.headers[Http::HEADER_CONTENT_TYPE] = type;
    if (!encoding.isEmpty())
        response.headers[Http::HEADER_CONTENT_ENCODING] = encoding;
    response.content = content;

    const WireResponse wire = split(Http::toByteArray(response));
    QCOMPARE(wire.header("content-length").toInt(), wire.body.size());
    if (compressed) {
        QCOMPARE(wire.header("content-encoding"), QByteArray("gzip"));
        QVERIFY(wire.body.size() + 24 < content.size());
        QCOMPARE(gunzip(wire.body), content);
    } else {
        // Only a header that was not exactly "gzip" survives, untouched.
        QCOMPARE(wire.header("content-encoding"),
            encoding == QLatin1String("gzip") ? QByteArray() : encoding.toLatin1());
        QCOMPARE(wire.body, content);
    }
}

void TestHttpResponse::gzipRoundTrip()
{
    // Sizes around and beyond the 128 KiB output chunk, compressible and not.
    const QList<QByteArray> inputs
        = {QByteArray("x"), repeatedText(300000), randomBytes(131072), randomBytes(400000)};
    for (const QByteArray& input : inputs) {
        bool ok = false;
        const QByteArray compressed = Utils::Gzip::compress(input, 6, &ok);
        QVERIFY(ok);
        QCOMPARE(compressed.left(2), QByteArray("\x1f\x8b"));
        QCOMPARE(gunzip(compressed), input);
    }
    bool ok = true;
    QVERIFY(Utils::Gzip::compress(QByteArray(), 6, &ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(Utils::Gzip::compress(QByteArray("abc"), 42, &ok).isEmpty());
    QVERIFY(!ok);
}

void TestHttpResponse::httpDate()
{
    const QString date = Http::httpDate();
    QVERIFY2(QRegularExpression(QStringLiteral("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                               "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                               "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT$"))
                 .match(date)
                 .hasMatch(),
        qPrintable(date));
    QDateTime parsed = QLocale::c().toDateTime(date.chopped(4), "ddd, dd MMM yyyy HH:mm:ss");
    parsed.setTimeSpec(Qt::UTC);
    QVERIFY(qAbs(parsed.secsTo(QDateTime::currentDateTimeUtc())) < 5);
}

void TestHttpResponse::builder()
{
    struct Builder : Http::ResponseBuilder
    {
    } builder;
    builder.print(QStringLiteral("\u00e9"), Http::CONTENT_TYPE_JSON);
    builder.print(QByteArray("-b"), Http::CONTENT_TYPE_PNG);
    builder.setHeader({Http::HEADER_CACHE_CONTROL, QStringLiteral("a")});
    builder.setHeader({Http::HEADER_CACHE_CONTROL, QStringLiteral("b")});
    builder.status(409, QStringLiteral("Conflict"));

    Http::Response response = builder.response();
    QCOMPARE(response.content, QByteArray("\xc3\xa9-b"));
    QCOMPARE(response.headers.value(Http::HEADER_CONTENT_TYPE), Http::CONTENT_TYPE_JSON);
    QCOMPARE(response.headers.value(Http::HEADER_CACHE_CONTROL), QStringLiteral("b"));
    QCOMPARE(response.status.code, 409u);

    builder.clear();
    response = builder.response();
    QCOMPARE(response.status.code, 200u);
    QCOMPARE(response.status.text, QStringLiteral("OK"));
    QVERIFY(response.headers.isEmpty());
    QVERIFY(response.content.isEmpty());
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
