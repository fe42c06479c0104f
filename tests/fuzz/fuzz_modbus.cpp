// Sends arbitrary bytes to a Modbus TCP connection as a master would, in pieces of the size the
// first input byte gives (0: all at once), and compares what comes back with the answers a plain
// walk over the same bytes expects from a fixed register image.
//
// The connection is the real CConnectionHandler on one end of a socket pair, so frame
// reassembly across reads, the answers and the dropping of a connection all run as they do for
// an accepted master. Every input gets a connection of its own: nothing carries over.

#include "cconnectionhandler.h"
#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cerrno>
#include <cstdint>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const quint16 PORT = 502;
// Reads starting at or above this register fail, as a read from a broken database would.
const int FIRST_FAILING_REGISTER = 0xff00;
const int MAX_LENGTH_FIELD = 254;
const int MAX_QUANTITY = 125;
const int REGISTER_COUNT = 65536;

quint16 imageWord(int address)
{
    return static_cast<quint16>(address * 7919 + 13);
}

// The image a listener would be handed; it also checks that it is asked only for registers that
// exist and that fit one answer.
std::optional<QVector<quint16>> readImage(quint16 port, int first, int count)
{
    check(port == PORT);
    check(first >= 0);
    check(count >= 0);
    check(count <= MAX_QUANTITY);
    check(first + count <= REGISTER_COUNT);
    if (first >= FIRST_FAILING_REGISTER)
        return std::nullopt;
    QVector<quint16> words;
    for (int i = 0; i < count; ++i)
        words.append(imageWord(first + i));
    return words;
}

quint16 wordAt(const QByteArray& bytes, int offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

void appendWord(QByteArray& bytes, quint16 word)
{
    bytes.append(static_cast<char>(word >> 8));
    bytes.append(static_cast<char>(word & 0xff));
}

// The answer to the read request of 12 bytes at frame.
QByteArray expectedAnswer(const char* frame)
{
    const QByteArray request(frame, 12);
    const quint8 function = static_cast<quint8>(request.at(7));
    const int start = wordAt(request, 8);
    const int quantity = wordAt(request, 10);
    int exception = 0;
    if (function != 3 && function != 4)
        exception = 1;
    else if (quantity > MAX_QUANTITY)
        exception = 3;
    else if (start + quantity > REGISTER_COUNT)
        exception = 2;
    else if (start >= FIRST_FAILING_REGISTER)
        exception = 4;

    QByteArray answer = request.left(4);
    appendWord(answer, static_cast<quint16>(exception ? 3 : 3 + 2 * quantity));
    answer.append(request.at(6));
    if (exception) {
        answer.append(static_cast<char>(function | 0x80));
        answer.append(static_cast<char>(exception));
        return answer;
    }
    answer.append(static_cast<char>(function));
    answer.append(static_cast<char>(2 * quantity));
    for (int i = 0; i < quantity; ++i)
        appendWord(answer, imageWord(start + i));
    return answer;
}

struct SExpected
{
    QByteArray answers;
    bool dropped = false; // a length field no Modbus frame has ends the connection
};

// Walks the stream frame by frame, independently of the code under test.
SExpected expectedAnswers(const QByteArray& stream)
{
    SExpected expected;
    int offset = 0;
    while (stream.size() - offset >= 6) {
        const int length = wordAt(stream, offset + 4);
        if (length > MAX_LENGTH_FIELD) {
            expected.dropped = true;
            break;
        }
        if (stream.size() - offset < 6 + length)
            break;
        if (length >= 6)
            expected.answers += expectedAnswer(stream.constData() + offset);
        offset += 6 + length;
    }
    return expected;
}

void readAvailable(int fd, QByteArray& received)
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            received.append(chunk, static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}

int bytesWaiting(int fd)
{
    int waiting = 0;
    return ::ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : 0;
}

bool isOpen(const CConnectionHandler& connection)
{
    return connection.state() == QAbstractSocket::ConnectedState;
}

// Lets the connection take in every byte sent so far and collects its answers.
void serve(CConnectionHandler& connection, int connectionFd, int masterFd, QByteArray& received)
{
    // Bytes are waiting, so the connection must read them, unless it drops the peer meanwhile.
    while (isOpen(connection) && bytesWaiting(connectionFd) > 0)
        check(connection.waitForReadyRead(5000) || !isOpen(connection));
    while (isOpen(connection) && connection.bytesToWrite() > 0) {
        connection.flush();
        readAvailable(masterFd, received);
    }
    readAvailable(masterFd, received);
}

QByteArray exchange(const QByteArray& stream, int pieceSize)
{
    int fds[2];
    check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    const int connectionFd = fds[0];
    const int masterFd = fds[1];
    auto* connection = new CConnectionHandler(PORT, readImage, nullptr);
    check(connection->setSocketDescriptor(connectionFd));

    QByteArray received;
    for (int offset = 0; offset < stream.size() && isOpen(*connection); offset += pieceSize) {
        const QByteArray piece = stream.mid(offset, pieceSize);
        if (::send(masterFd, piece.constData(), static_cast<size_t>(piece.size()), MSG_NOSIGNAL)
            != piece.size())
            break; // the connection was dropped and its end closed
        serve(*connection, connectionFd, masterFd, received);
    }
    delete connection; // closes connectionFd
    ::close(masterFd);
    return received;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray stream(reinterpret_cast<const char*>(data) + 1, static_cast<int>(size - 1));
    const int pieceSize = data[0] == 0 ? qMax(1, stream.size()) : data[0];

    const QByteArray received = exchange(stream, pieceSize);
    const SExpected expected = expectedAnswers(stream);
    // A dropped connection may lose the answers it had not sent yet, never send wrong ones.
    check(expected.dropped ? expected.answers.startsWith(received) : received == expected.answers);
    QCoreApplication::sendPostedEvents();
    return 0;
}
