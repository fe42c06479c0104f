#pragma once

#include "irequesthandler.h"

#include <QElapsedTimer>
#include <QObject>

class QTcpSocket;

namespace Http {

// Serves one client socket: cuts the received bytes into requests and writes the answers back.
class Connection : public QObject
{
    Q_OBJECT
public:
    Connection(QTcpSocket* socket, IRequestHandler* requestHandler, QObject* parent = nullptr);
    ~Connection() override;

    bool hasExpired(qint64 timeout) const;
    // Whether the header of the request being received has taken longer than the timeout.
    bool headerOverdue(qint64 timeout) const;
    bool isClosed() const;

private:
    void read();
    void processBuffer();
    void answer(const Request& request, const Environment& env);
    void sendResponse(const Response& response);
    QString peerAddress() const;
    void failAndClose(uint code, const char* text);

    QTcpSocket* m_socket;
    IRequestHandler* m_requestHandler;
    QByteArray m_receiveBuffer;
    QElapsedTimer m_idleTimer;
    // Runs from the first byte of a request until its header block is complete.
    QElapsedTimer m_headerTimer;
    // Where the search for the end of the header block resumes, so that a header block
    // arriving in many small pieces is not searched from the start each time.
    int m_headerSearchFrom = 0;
    bool m_failed = false;
};

// Whether an accept-encoding value lets the answer be gzip-compressed.
bool acceptsGzipEncoding(QString codings);

} // namespace Http
