#include "gzip.h"
#include "responsegenerator.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

// zlib's own inflate, as an independent reader of at most `size` bytes of gzip output.
static QByteArray gunzip(const QByteArray& compressed, int size)
{
    QByteArray output(size + 1, Qt::Uninitialized);
    z_stream stream {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(output.size());
    const bool ok = inflateInit2(&stream, 31) == Z_OK && inflate(&stream, Z_FINISH) == Z_STREAM_END
        && stream.avail_in == 0;
    inflateEnd(&stream);
    return ok ? output.left(int(stream.total_out)) : QByteArray("<broken>");
}

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
    void serialisation();
    void compression_data();
    void compression();
};

void TestHttpResponse::serialisation()
{
    const Http::Response response {{404, QStringLiteral("Not Found")},
        {{Http::HEADER_DATE, "stale"}, {Http::HEADER_CONNECTION, "keep-alive"},
            {Http::HEADER_CACHE_CONTROL, "no-store"}, {Http::HEADER_CONTENT_TYPE, "text/plain"},
            {"x-name", QStringLiteral("caf\u00e9 \u20ac")}},
        "h\xc3\xa9llo"};

    // Headers in name order, a fresh date, the length of the content, Latin-1 values.
    const QByteArray wire = Http::toByteArray(response);
    const QString date = QString::fromLatin1(wire.mid(wire.indexOf("\r\ndate: ") + 8, 29));
    QCOMPARE(wire,
        "HTTP/1.1 404 Not Found\r\ncache-control: no-store\r\nconnection: keep-alive\r\n"
        "content-length: 6\r\ncontent-type: text/plain\r\ndate: "
            + date.toLatin1() + "\r\nx-name: caf\xe9 ?\r\n\r\nh\xc3\xa9llo");
    const QDateTime parsed = QDateTime::fromString(date, Qt::RFC2822Date);
    QCOMPARE(
        QLocale::c().toString(parsed, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")), date);
    QVERIFY(qAbs(parsed.secsTo(QDateTime::currentDateTimeUtc())) < 5);
}

void TestHttpResponse::compression_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("compressed");

    // Random bytes below `range`: 256 do not compress at all, 16 to about half.
    const auto random = [](int size, int range) {
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator generator(size);
        std::generate(data.begin(), data.end(), [&] { return char(generator.bounded(range)); });
        return data;
    };
    // Content that gzip shortens by exactly the length of the "content-encoding: gzip" line.
    QByteArray edge;
    for (int run = 0; edge.isEmpty() && run < 500; ++run) {
        const QByteArray candidate = random(2000, 256) + QByteArray(run, 'a');
        if (Utils::Gzip::compress(candidate).size() + 24 == candidate.size())
            edge = candidate;
    }
    const QString html = Http::CONTENT_TYPE_HTML;
    const QByteArray text = random(5000, 16);
    QTest::newRow("1024 bytes stay plain") << text.left(1024) << html << true << false;
    QTest::newRow("1025 bytes compressed") << text.left(1025) << html << true << true;
    QTest::newRow("not asked for") << text << html << false << false;
    QTest::newRow("no content type") << text << QString() << true << true;
    QTest::newRow("png never") << text << Http::CONTENT_TYPE_PNG << true << false;
    QTest::newRow("gif never") << text << Http::CONTENT_TYPE_GIF << true << false;
    QTest::newRow("incompressible") << random(5000, 256) << html << true << false;
    QTest::newRow("saves only 24 bytes") << edge << html << true << false;
    QTest::newRow("saves 25 bytes") << edge + 'a' << html << true << true;
    QTest::newRow("beyond one output chunk") << random(400000, 16) << html << true << true;
}

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
    const QByteArray body = wire.mid(wire.indexOf("\r\n\r\n") + 4);
    QVERIFY(wire.contains("\r\ncontent-length: " + QByteArray::number(body.size()) + "\r\n"));
    QCOMPARE(wire.contains("\r\ncontent-encoding: gzip\r\n"), compressed);
    QCOMPARE(compressed ? gunzip(body, content.size()) : body, content);
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
