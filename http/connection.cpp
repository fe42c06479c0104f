#include "connection.h"

#include "httperror.h"
#include "httplimits.h"
#include "httptexts.h"
#include "requestparser.h"
#include "responsegenerator.h"

#include <QDebug>
#include <QTcpSocket>

namespace Http {

namespace {

const QString KEEP_ALIVE = QStringLiteral("keep-alive");
const QString CLOSE = QStringLiteral("close");
const QString GZIP = QStringLiteral("gzip");

// Yes when the first item starting with the coding is the bare coding or carries a q > 0.
bool acceptsCoding(const QStringList& items, const QString& coding, int qValueOffset)
{
    for (const QString& item : items) {
        if (!item.startsWith(coding))
            continue;
        if (item == coding)
            return true;
        bool ok = false;
        const double quality = item.midRef(qValueOffset).toDouble(&ok);
        return ok && (quality > 0);
    }
    return false;
}

} // namespace

bool acceptsGzipEncoding(QString codings)
{
    codings.remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
    const QStringList items = codings.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.isEmpty())
        return false;
    // The offsets skip the coding itself plus ";q=".
    return acceptsCoding(items, GZIP, 7) || acceptsCoding(items, QStringLiteral("*"), 4);
}

Connection::Connection(QTcpSocket* socket, IRequestHandler* requestHandler, QObject* parent)
    : QObject(parent), m_socket(socket), m_requestHandler(requestHandler)
{
    m_socket->setParent(this);
    // Bounds what the socket takes from the kernel when we stop reading (see processBuffer).
    m_socket->setReadBufferSize(SOCKET_READ_BUFFER_SIZE);
    m_receiveBuffer.reserve(CONNECTION_BUFFER_RESERVE);
    m_idleTimer.start();

    connect(m_socket, &QIODevice::readyRead, this, [this]() {
        m_idleTimer.start();
        read();
    });
    connect(m_socket, &QIODevice::bytesWritten, this, [this]() {
        m_idleTimer.start();
        // Pipelined requests held back while the answers piled up are served now.
        if (m_socket->bytesToWrite() <= MAX_PENDING_OUTPUT)
            read();
    });
}

Connection::~Connection()
{
    // The server forgets this connection before deleting it; no signal is wanted any more.
    m_socket->disconnect(this);
    m_socket->close();
}

bool Connection::hasExpired(qint64 timeout) const
{
    return (m_socket->bytesAvailable() == 0) && (m_socket->bytesToWrite() == 0)
        && m_idleTimer.hasExpired(timeout);
}

bool Connection::headerOverdue(qint64 timeout) const
{
    return m_headerTimer.isValid() && m_headerTimer.hasExpired(timeout);
}

bool Connection::isClosed() const
{
    return m_socket->state() == QAbstractSocket::UnconnectedState;
}

void Connection::read()
{
    if (m_failed)
        return;
    // A client that does not read its answers is not served further until they drain.
    if (m_socket->bytesToWrite() > MAX_PENDING_OUTPUT)
        return;

    const qint64 available = m_socket->bytesAvailable();
    if (available > 0) {
        const int oldSize = m_receiveBuffer.size();
        m_receiveBuffer.resize(oldSize + static_cast<int>(available));
        const qint64 received = m_socket->read(m_receiveBuffer.data() + oldSize, available);
        if (received < 0) {
            m_socket->close();
            return;
        }
        m_receiveBuffer.resize(oldSize + static_cast<int>(received));
    }
    if (m_receiveBuffer.isEmpty())
        return;
    processBuffer();
}

void Connection::processBuffer()
{
    while (!m_receiveBuffer.isEmpty() && (m_socket->bytesToWrite() <= MAX_PENDING_OUTPUT)) {
        // Without the end of the header block no request can be complete; the check looks
        // only at the new bytes (and the 3 before them, where the marker may start).
        const int headerEnd = m_receiveBuffer.indexOf(EOH, m_headerSearchFrom);
        RequestParser::ParseResult result;
        if (headerEnd >= 0) {
            m_headerTimer.invalidate();
            result = RequestParser::parse(m_receiveBuffer);
        } else {
            if (!m_headerTimer.isValid())
                m_headerTimer.start();
            m_headerSearchFrom = qMax(0, m_receiveBuffer.size() - (EOH.size() - 1));
        }

        switch (result.state) {
        case RequestParser::NeedMoreData:
            if (m_receiveBuffer.size() > MAX_PENDING_REQUEST_SIZE) {
                qWarning().noquote() << HttpTexts::REQUEST_TOO_LARGE.arg(MAX_PENDING_REQUEST_SIZE)
                                            .arg(peerAddress());
                failAndClose(413, HttpStatusText::PAYLOAD_TOO_LARGE);
            }
            return;
        case RequestParser::UnsupportedMethod:
            qWarning().noquote() << HttpTexts::BAD_REQUEST_METHOD.arg(
                peerAddress(), result.request.method);
            failAndClose(501, HttpStatusText::NOT_IMPLEMENTED);
            return;
        case RequestParser::Malformed:
            qWarning().noquote() << HttpTexts::BAD_REQUEST.arg(peerAddress());
            failAndClose(400, HttpStatusText::BAD_REQUEST);
            return;
        case RequestParser::Complete: {
            Environment env;
            env.localAddress = m_socket->localAddress();
            env.localPort = m_socket->localPort();
            env.clientAddress = m_socket->peerAddress();
            env.clientPort = m_socket->peerPort();
            answer(result.request, env);
            m_receiveBuffer.remove(0, static_cast<int>(result.consumedBytes));
            m_headerSearchFrom = 0;
            break;
        }
        }
    }
}

void Connection::answer(const Request& request, const Environment& env)
{
    if (request.method == HEADER_REQUEST_METHOD_HEAD) {
        Request getRequest = request;
        getRequest.method = HEADER_REQUEST_METHOD_GET;
        Response response = m_requestHandler->processRequest(getRequest, env);
        response.headers[HEADER_CONNECTION] = KEEP_ALIVE;
        response.headers[HEADER_CONTENT_LENGTH] = QString::number(response.content.size());
        response.headers.remove(HEADER_CONTENT_ENCODING);
        response.content.clear();
        sendResponse(response);
        return;
    }

    Response response = m_requestHandler->processRequest(request, env);
    if (acceptsGzipEncoding(request.headers.value(HEADER_ACCEPT_ENCODING)))
        response.headers[HEADER_CONTENT_ENCODING] = GZIP;
    response.headers[HEADER_CONNECTION] = KEEP_ALIVE;
    sendResponse(response);
}

void Connection::sendResponse(const Response& response)
{
    m_socket->write(toByteArray(response));
}

QString Connection::peerAddress() const
{
    return m_socket->peerAddress().toString();
}

void Connection::failAndClose(uint code, const char* text)
{
    m_failed = true;
    Response response;
    response.status = {code, QString::fromLatin1(text)};
    response.headers[HEADER_CONNECTION] = CLOSE;
    sendResponse(response);
    // The rest of the receive buffer is abandoned; the answer is still flushed before closing.
    m_receiveBuffer.clear();
    m_socket->disconnectFromHost();
}

} // namespace Http
