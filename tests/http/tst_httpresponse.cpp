#include "gzip.h"
#include "httperror.h"
#include "responsebuilder.h"
#include "responsegenerator.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

namespace {
// zlib's own inflate, as an independent reader of at most `size` bytes of gzip output.
QByteArray gunzip(const QByteArray& compressed, int size)
{
    QByteArray output(size + 1, Qt::Uninitialized);
    z_stream stream {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(output.size());
    bool ok = inflateInit2(&stream, 31) == Z_OK;
    ok = ok && inflate(&stream, Z_FINISH) == Z_STREAM_END;
    ok = ok && stream.avail_in == 0;
    inflateEnd(&stream);
    return ok ? output.left(int(stream.total_out)) : QByteArray("<broken>");
}

// Random bytes below `range`: 256 do not compress at all, 16 to about half.
QByteArray randomBytes(int size, int range)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(size));
    std::generate(data.begin(), data.end(), [&] { return char(generator.bounded(range)); });
    return data;
}

// Content that gzip shortens by exactly the length of the "content-encoding: gzip" line.
QByteArray contentSavingTheEncodingLine()
{
    for (int run = 0; run < 500; ++run) {
        const QByteArray candidate = randomBytes(2000, 256) + QByteArray(run, 'a');
        if (Utils::Gzip::compress(candidate).size() + 24 == candidate.size())
            return candidate;
    }
    return QByteArray();
}

QByteArray headerBlock(const QByteArray& wire)
{
    return wire.left(wire.indexOf("\r\n\r\n") + 4);
}

QByteArray body(const QByteArray& wire)
{
    return wire.mid(wire.indexOf("\r\n\r\n") + 4);
}

// The value of a header line of the wire form, or "<absent>".
QByteArray headerValue(const QByteArray& wire, const QByteArray& name)
{
    const QByteArray start = "\r\n" + name + ": ";
    const int at = headerBlock(wire).indexOf(start);
    if (at < 0)
        return "<absent>";
    const int valueStart = at + start.size();
    return wire.mid(valueStart, wire.indexOf("\r\n", valueStart) - valueStart);
}

// The status an error becomes, taken apart so that a table can carry it.
struct ErrorStatus
{
    int code = 0;
    QString text;
    QString message;
};

ErrorStatus statusOf(const HTTPError& error)
{
    return {error.statusCode(), error.statusText(), error.message()};
}
} // namespace

Q_DECLARE_METATYPE(ErrorStatus)

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
    void statusLineAndHeadersInNameOrder();
    void dateIsTheCurrentHttpDate();
    void contentLength_data();
    void contentLength();
    void compression_data();
    void compression();
    void printKeepsTheFirstContentType();
    void errorCarriesItsStatus_data();
    void errorCarriesItsStatus();
};

// Values outside Latin-1 become question marks; the content goes out as it is.
void TestHttpResponse::statusLineAndHeadersInNameOrder()
{
    const Http::Response response {{404, QStringLiteral("Not Found")},
        {{Http::HEADER_CONNECTION, "keep-alive"}, {Http::HEADER_CACHE_CONTROL, "no-store"},
            {Http::HEADER_CONTENT_TYPE, "text/plain"},
            {"x-name", QStringLiteral("caf\u00e9 \u20ac")}},
        "h\xc3\xa9llo"};

    const QByteArray wire = Http::toByteArray(response);

    QCOMPARE(wire.left(wire.indexOf("date: ")),
        "HTTP/1.1 404 Not Found\r\ncache-control: no-store\r\nconnection: keep-alive\r\n"
        "content-length: 6\r\ncontent-type: text/plain\r\n");
    QCOMPARE(wire.mid(wire.indexOf("\r\nx-name")), "\r\nx-name: caf\xe9 ?\r\n\r\nh\xc3\xa9llo");
}

void TestHttpResponse::dateIsTheCurrentHttpDate()
{
    Http::Response response;
    response.headers[Http::HEADER_DATE] = QStringLiteral("stale");

    const QString date = QString::fromLatin1(headerValue(Http::toByteArray(response), "date"));

    const QDateTime parsed = QDateTime::fromString(date, Qt::RFC2822Date);
    QCOMPARE(
        QLocale::c().toString(parsed, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")), date);
    QVERIFY(qAbs(parsed.secsTo(QDateTime::currentDateTimeUtc())) < 60);
}

void TestHttpResponse::contentLength_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("givenLength");
    QTest::addColumn<QByteArray>("length");

    QTest::newRow("empty body") << QByteArray() << QString() << QByteArray("0");
    QTest::newRow("body") << QByteArray("hello") << QString() << QByteArray("5");
    QTest::newRow("empty value is replaced") << QByteArray("hello") << "" << QByteArray("5");
    QTest::newRow("value set earlier is kept") << QByteArray() << "3000" << QByteArray("3000");
}

void TestHttpResponse::contentLength()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, givenLength);

    Http::Response response;
    response.content = content;
    if (!givenLength.isNull())
        response.headers[Http::HEADER_CONTENT_LENGTH] = givenLength;

    QTEST(headerValue(Http::toByteArray(response), "content-length"), "length");
}

void TestHttpResponse::compression_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("compressed");

    const QString html = Http::CONTENT_TYPE_HTML;
    const QByteArray text = randomBytes(5000, 16);
    const QByteArray edge = contentSavingTheEncodingLine();
    QVERIFY(!edge.isEmpty());

    QTest::newRow("1024 bytes stay plain") << text.left(1024) << html << true << false;
    QTest::newRow("1025 bytes compressed") << text.left(1025) << html << true << true;
    QTest::newRow("not asked for") << text << html << false << false;
    QTest::newRow("no content type") << text << QString() << true << true;
    QTest::newRow("png never") << text << Http::CONTENT_TYPE_PNG << true << false;
    QTest::newRow("gif never") << text << Http::CONTENT_TYPE_GIF << true << false;
    QTest::newRow("incompressible") << randomBytes(5000, 256) << html << true << false;
    QTest::newRow("saves only 24 bytes") << edge << html << true << false;
    QTest::newRow("saves 25 bytes") << edge + 'a' << html << true << true;
    QTest::newRow("beyond one output chunk") << randomBytes(400000, 16) << html << true << true;
}

// Whatever the outcome, the announced length is that of the body sent and the body reads back
// as the content.
void TestHttpResponse::compression()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    QFETCH(bool, asked);
    QFETCH(bool, compressed);

    Http::Response response;
    if (!type.isEmpty())
        response.headers[Http::HEADER_CONTENT_TYPE] = type;
    if (asked)
        response.headers[Http::HEADER_CONTENT_ENCODING] = QStringLiteral("gzip");
    response.content = content;
    const QByteArray wire = Http::toByteArray(response);

    QCOMPARE(headerValue(wire, "content-encoding"), compressed ? "gzip" : "<absent>");
    QCOMPARE(headerValue(wire, "content-length"), QByteArray::number(body(wire).size()));
    QCOMPARE(compressed ? gunzip(body(wire), content.size()) : body(wire), content);
}

void TestHttpResponse::printKeepsTheFirstContentType()
{
    Http::ResponseBuilder builder;

    builder.print(QStringLiteral("caf\u00e9"), Http::CONTENT_TYPE_TXT);
    builder.print(QByteArray("!"), Http::CONTENT_TYPE_PNG);

    QCOMPARE(builder.response().headers.value(Http::HEADER_CONTENT_TYPE), Http::CONTENT_TYPE_TXT);
    QCOMPARE(builder.response().content, QByteArray("caf\xc3\xa9!"));
}

void TestHttpResponse::errorCarriesItsStatus_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<ErrorStatus>("error");

    QTest::newRow("400") << 400 << "Bad Request" << statusOf(BadRequestHTTPError());
    QTest::newRow("401") << 401 << "Unauthorized" << statusOf(UnauthorizedHTTPError());
    QTest::newRow("403") << 403 << "Forbidden" << statusOf(ForbiddenHTTPError());
    QTest::newRow("404") << 404 << "Not Found" << statusOf(NotFoundHTTPError());
    QTest::newRow("405") << 405 << "Method Not Allowed" << statusOf(MethodNotAllowedHTTPError());
    QTest::newRow("409") << 409 << "Conflict" << statusOf(ConflictHTTPError());
    QTest::newRow("415") << 415 << "Unsupported Media Type"
                         << statusOf(UnsupportedMediaTypeHTTPError());
    QTest::newRow("500") << 500 << "Internal Server Error"
                         << statusOf(InternalServerErrorHTTPError());
}

void TestHttpResponse::errorCarriesItsStatus()
{
    QFETCH(ErrorStatus, error);

    QTEST(error.code, "code");
    QTEST(error.text, "text");
    QCOMPARE(error.message, QString());
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
