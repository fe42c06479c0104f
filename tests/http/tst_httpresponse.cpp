#include "responsebuilder.h"
#include "responsegenerator.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

namespace {
// zlib's own inflate, as an independent reader of `size` bytes of gzip output.
QByteArray gunzip(const QByteArray& compressed, int size)
{
    QByteArray output(size, Qt::Uninitialized);
    z_stream stream {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(output.size());
    const bool ok = inflateInit2(&stream, 31) == Z_OK && inflate(&stream, Z_FINISH) == Z_STREAM_END;
    inflateEnd(&stream);
    return ok ? output : QByteArray("<broken>");
}

// Random bytes below `range`: 256 do not compress at all, 16 to about half.
QByteArray randomBytes(int size, int range)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(size));
    std::generate(data.begin(), data.end(), [&] { return char(generator.bounded(range)); });
    return data;
}

// The value of a header line of the wire form, or "<absent>".
QByteArray headerValue(const QByteArray& wire, const QByteArray& name)
{
    const QByteArray start = "\r\n" + name + ": ";
    const int at = wire.left(wire.indexOf("\r\n\r\n")).indexOf(start);
    if (at < 0)
        return "<absent>";
    const int valueStart = at + start.size();
    return wire.mid(valueStart, wire.indexOf("\r\n", valueStart) - valueStart);
}
} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
    void compression_data();
    void compression();
    void repeatedAnswerCompressedAlike();
};

void TestHttpResponse::compression_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("compressed");

    const QString html = Http::CONTENT_TYPE_HTML;
    const QByteArray text = randomBytes(5000, 16);

    QTest::newRow("1024 bytes stay plain") << text.left(1024) << html << false;
    QTest::newRow("1025 bytes compressed") << text.left(1025) << html << true;
    QTest::newRow("png never") << text << Http::CONTENT_TYPE_PNG << false;
    QTest::newRow("beyond one output chunk") << randomBytes(400000, 16) << html << true;
}

// Whatever the outcome, the announced length is that of the body sent and the body reads back
// as the content.
void TestHttpResponse::compression()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    QFETCH(bool, compressed);

    const Http::Response response {{200, QStringLiteral("OK")},
        {{Http::HEADER_CONTENT_TYPE, type}, {Http::HEADER_CONTENT_ENCODING, "gzip"}}, content};
    const QByteArray wire = Http::toByteArray(response);
    const QByteArray body = wire.mid(wire.indexOf("\r\n\r\n") + 4);

    QCOMPARE(headerValue(wire, "content-encoding"), compressed ? "gzip" : "<absent>");
    QCOMPARE(headerValue(wire, "content-length"), QByteArray::number(body.size()));
    QCOMPARE(compressed ? gunzip(body, content.size()) : body, content);
}

// The same answer sent again comes out as before; another answer of the same size comes out as
// itself, not as the one before.
void TestHttpResponse::repeatedAnswerCompressedAlike()
{
    const QByteArray first = randomBytes(3000, 16);
    QByteArray second = first;
    second[1500] = char(second.at(1500) ^ 1);
    QByteArray bodies[3];
    const QByteArray contents[3] = {first, first, second};
    for (int i = 0; i < 3; ++i) {
        const QByteArray wire = Http::toByteArray({{200, QStringLiteral("OK")},
            {{Http::HEADER_CONTENT_TYPE, Http::CONTENT_TYPE_JSON},
                {Http::HEADER_CONTENT_ENCODING, "gzip"}},
            contents[i]});
        bodies[i] = wire.mid(wire.indexOf("\r\n\r\n") + 4);
    }

    QCOMPARE(gunzip(bodies[1], first.size()), first);
    QCOMPARE(gunzip(bodies[2], second.size()), second);
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
