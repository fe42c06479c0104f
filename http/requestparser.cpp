#include "requestparser.h"

#include "bytearrayutils.h"
#include "httplimits.h"
#include "httptexts.h"
#include "jsonduplicatekeys.h"
#include "stringutils.h"

#include <QDebug>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrlQuery>

#include <algorithm>

namespace Http {

namespace {

const std::string_view CRLF_VIEW = "\r\n";
const QString BOUNDARY_PARAMETER = QStringLiteral("boundary=");
const QString QUOTE = QStringLiteral("\"");

std::string_view toView(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size()
        && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// UTF-8 text of the bytes up to the first zero byte.
QString utf8UpToZero(std::string_view bytes)
{
    const auto zero = std::find(bytes.begin(), bytes.end(), '\0');
    return QString::fromUtf8(bytes.data(), static_cast<int>(zero - bytes.begin()));
}

QByteArray decodeQueryPart(const QByteArray& part)
{
    // Plus signs become spaces after percent-decoding, so an encoded plus ends up a space too.
    return QByteArray::fromPercentEncoding(part).replace('+', ' ');
}

} // namespace

static bool parseHeaderLine(const QString& line, HeaderMap& headers)
{
    const int colon = line.indexOf(QLatin1Char(':'));
    if (colon < 1) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::INVALID_HEADER << line;
        return false;
    }
    headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
    return true;
}

RequestParser::ParseResult RequestParser::parse(const QByteArray& data)
{
    return RequestParser().doParse(data);
}

RequestParser::ParseResult RequestParser::doParse(const QByteArray& data)
{
    ParseResult result;
    const int eoh = data.indexOf(EOH);
    if (eoh < 0)
        return result;

    const int headerLength = eoh + EOH.size();
    if (!parseStartLines(QString::fromLatin1(data.constData(), eoh))) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::HEADER_PARSING_ERROR;
        result.state = Malformed;
        return result;
    }

    if (m_request.method == HEADER_REQUEST_METHOD_GET
        || m_request.method == HEADER_REQUEST_METHOD_HEAD) {
        result.state = Complete;
        result.consumedBytes = static_cast<uint>(headerLength);
        result.request = m_request;
        return result;
    }

    if (m_request.method != HEADER_REQUEST_METHOD_POST) {
        result.state = UnsupportedMethod;
        result.request = m_request;
        return result;
    }

    int contentLength = 0;
    if (m_request.headers.contains(HEADER_CONTENT_LENGTH)) {
        contentLength
            = Utils::String::parseInt(m_request.headers.value(HEADER_CONTENT_LENGTH)).value_or(-1);
    }
    if (contentLength < 0) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::CONTENT_LENGTH_INVALID;
        result.state = Malformed;
        return result;
    }
    if (contentLength > MAX_CONTENT_LENGTH) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::MESSAGE_TOO_LONG;
        result.state = Malformed;
        return result;
    }
    if (contentLength > 0) {
        if (data.size() - headerLength < contentLength)
            return result;
        if (!parsePostMessage(data.mid(headerLength, contentLength))) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::BODY_PARSING_ERROR;
            result.state = Malformed;
            return result;
        }
    }
    result.state = Complete;
    result.consumedBytes = static_cast<uint>(headerLength + contentLength);
    result.request = m_request;
    return result;
}

bool RequestParser::parseStartLines(const QString& data)
{
    // A line starting with white space continues the previous header line.
    QStringList lines;
    for (const QString& line : data.split(CRLF, Qt::SkipEmptyParts)) {
        if (line.front().isSpace() && !lines.isEmpty())
            lines.last() += line;
        else
            lines.append(line);
    }
    if (lines.isEmpty())
        return false;

    if (!parseRequestLine(lines.first()))
        return false;
    for (int i = 1; i < lines.size(); ++i) {
        if (!parseHeaderLine(lines.at(i), m_request.headers))
            return false;
    }
    return true;
}

bool RequestParser::parseRequestLine(const QString& line)
{
    static const QRegularExpression requestLine(
        QStringLiteral(R"(^([A-Z]+)\s+(\S+)\s+HTTP\/(\d\.\d)$)"));
    const QRegularExpressionMatch match = requestLine.match(line);
    if (!match.hasMatch()) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::INVALID_HEADER << line;
        return false;
    }

    m_request.method = match.captured(1);
    m_request.version = match.captured(3);

    const QByteArray url = match.captured(2).toLatin1();
    const int queryStart = url.indexOf('?');
    const QByteArray path = (queryStart < 0) ? url : url.left(queryStart);
    const QByteArray decodedPath = QByteArray::fromPercentEncoding(path);
    m_request.path = utf8UpToZero(toView(decodedPath));
    if (queryStart < 0)
        return true;

    for (const QByteArray& piece : url.mid(queryStart + 1).split('&')) {
        const int equals = piece.indexOf('=');
        if (equals < 1)
            continue;
        const QString name = QString::fromUtf8(decodeQueryPart(piece.left(equals)));
        m_request.query[name] = decodeQueryPart(piece.mid(equals + 1));
    }
    return true;
}

bool RequestParser::parsePostMessage(const QByteArray& data)
{
    // Reading through operator[] leaves an empty content-type entry when there was none.
    const QString contentType = m_request.headers[HEADER_CONTENT_TYPE];
    const QString lowerType = contentType.toLower();

    if (lowerType.startsWith(CONTENT_TYPE_FORM_ENCODED)) {
        QByteArray body = data;
        body.replace('+', ' ');
        const QUrlQuery query(QString::fromUtf8(body));
        for (const auto& item : query.queryItems(QUrl::FullyDecoded))
            m_request.form[item.first] = item.second;
        return true;
    }

    if (lowerType.startsWith(CONTENT_TYPE_JSON)) {
        if (hasDuplicateKeys(data)) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::JSON_DUPLICATE_KEY;
            return false;
        }
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(data, &error);
        if (error.error != QJsonParseError::NoError) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::JSON_PARSE_ERROR
                                 << error.errorString() << HttpTexts::JSON_PARSE_ERROR_AT
                                 << error.offset;
            return false;
        }
        m_request.json = json;
        return true;
    }

    if (lowerType.startsWith(CONTENT_TYPE_FORM_DATA)) {
        const int boundaryStart = contentType.indexOf(BOUNDARY_PARAMETER);
        if (boundaryStart < 0) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::NO_BOUNDARY;
            return false;
        }
        const QByteArray boundary = Utils::String::unquote(
            contentType.mid(boundaryStart + BOUNDARY_PARAMETER.size()), QUOTE)
                                        .toLatin1();
        if (boundary.isEmpty()) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::EMPTY_BOUNDARY;
            return false;
        }

        const QByteArray delimiter = "--" + boundary + "\r\n";
        const QByteArray closing = "--" + boundary + "--\r\n";
        QVector<std::string_view> parts
            = Utils::ByteArray::splitToViews(toView(data), toView(delimiter));
        if (parts.isEmpty()) {
            qWarning().noquote() << Q_FUNC_INFO << HttpTexts::MULTIPART_EMPTY;
            return false;
        }
        if (endsWith(parts.last(), toView(closing)))
            parts.last().remove_suffix(static_cast<std::size_t>(closing.size()));

        for (const std::string_view part : qAsConst(parts)) {
            if (!parseFormData(part))
                return false;
        }
        return true;
    }

    qWarning().noquote() << Q_FUNC_INFO << HttpTexts::UNKNOWN_CONTENT_TYPE << contentType;
    return false;
}

bool RequestParser::parseFormData(std::string_view data)
{
    const std::string_view endOfHeader = toView(EOH);
    const std::size_t eoh = data.find(endOfHeader);
    if (eoh == std::string_view::npos) {
        qWarning().noquote() << Q_FUNC_INFO << HttpTexts::FORM_DATA_FORMAT_ERROR;
        return false;
    }

    const QString headerText = QString::fromLatin1(data.data(), static_cast<int>(eoh));
    std::string_view payload = data.substr(eoh + endOfHeader.size());
    if (endsWith(payload, CRLF_VIEW))
        payload.remove_suffix(CRLF_VIEW.size());

    HeaderMap headers;
    for (const QString& rawLine : headerText.split(CRLF, Qt::SkipEmptyParts)) {
        const QString line = rawLine.trimmed();
        if (!line.startsWith(HEADER_CONTENT_DISPOSITION, Qt::CaseInsensitive)) {
            if (!parseHeaderLine(line, headers))
                return false;
            continue;
        }
        // content-disposition: form-data; name="f"; filename="t.txt"
        for (const QString& item : line.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const int equals = item.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            headers[item.left(equals).trimmed().toLower()]
                = Utils::String::unquote(item.mid(equals + 1).trimmed(), QUOTE);
        }
    }

    if (headers.contains(QStringLiteral("filename"))) {
        UploadedFile file;
        file.filename = headers.value(QStringLiteral("filename"));
        file.type = headers.value(HEADER_CONTENT_TYPE);
        file.data = QByteArray(payload.data(), static_cast<int>(payload.size()));
        m_request.files.append(file);
        return true;
    }
    if (headers.contains(QStringLiteral("name"))) {
        m_request.form[headers.value(QStringLiteral("name"))] = utf8UpToZero(payload);
        return true;
    }
    qWarning().noquote() << Q_FUNC_INFO << HttpTexts::FORM_DATA_HEADER_ERROR;
    return false;
}

} // namespace Http
