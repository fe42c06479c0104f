#include "cconnectionhandler.h"

#include "clogfile.h"
#include "modbustexts.h"

#include <QHostAddress>

CConnectionHandler::CConnectionHandler(
    quint16 port, const RegisterReader& readRegisters, QObject* parent)
    : QTcpSocket(parent), port(port), readRegisters(readRegisters), incompleteFrameTimer(this)
{
    setReadBufferSize(MAX_PENDING_INPUT);
    incompleteFrameTimer.setSingleShot(true);
    incompleteFrameTimer.setInterval(INCOMPLETE_FRAME_TIMEOUT_MS);
    connect(&incompleteFrameTimer, &QTimer::timeout, this, [this] {
        dropConnection(
            ModbusTexts::DROPPED_INCOMPLETE_FRAME.arg(INCOMPLETE_FRAME_TIMEOUT_MS / 1000));
    });
    connect(this, &CConnectionHandler::readyRead, this, &CConnectionHandler::readyReadSlot);
    connect(this, &CConnectionHandler::disconnected, this, &CConnectionHandler::disconnectedSlot);
}

// The socket's own destructor, which runs after this one, still emits disconnected(); the
// slots of this object must not run on what is left of it then.
CConnectionHandler::~CConnectionHandler()
{
    disconnect(this, nullptr, this, nullptr);
}

bool CConnectionHandler::setSocketDescriptor(
    qintptr socketDescriptor, SocketState state, OpenMode openMode)
{
    return QAbstractSocket::setSocketDescriptor(socketDescriptor, state, openMode);
}

// Answers every complete frame in the buffer, in order, and keeps an unfinished one for later.
// Writes never wait: Qt sends the answers as the peer takes them.
void CConnectionHandler::readyReadSlot()
{
    buffer.append(readAll());
    int consumed = 0;
    for (;;) {
        const CModbusProtocol::SFrame frame = CModbusProtocol::peekFrame(buffer, consumed);
        if (frame.status == CModbusProtocol::FRAME_INCOMPLETE_HEADER) {
            addLog(ModbusTexts::INCOMPLETE_HEADER);
            break;
        }
        if (frame.status == CModbusProtocol::FRAME_INCOMPLETE_BODY) {
            addLog(ModbusTexts::INCOMPLETE_BODY);
            break;
        }
        if (frame.status == CModbusProtocol::FRAME_TOO_LONG) {
            dropConnection(ModbusTexts::DROPPED_FRAME_LENGTH.arg(frame.mbap.length));
            return;
        }
        consumed += frame.size;
        if (frame.status == CModbusProtocol::FRAME_TOO_SHORT) {
            addLog(ModbusTexts::FRAME_TOO_SHORT);
            continue;
        }
        write(answerRequest(frame.mbap, frame.header));
        if (peerStopsReading()) {
            dropConnection(ModbusTexts::DROPPED_UNSENT_BYTES.arg(bytesToWrite()));
            return;
        }
        if (consumed == buffer.size())
            break;
    }
    buffer.remove(0, consumed);
    watchIncompleteFrame(consumed > 0);
    // Hand the answers to the kernel now rather than on the next event-loop pass; this never
    // blocks, whatever the kernel cannot take stays queued.
    flush();
}

// True when answers pile up beyond the limit even after offering them to the kernel, so that a
// peer sending many requests at once is not mistaken for one that stopped reading.
bool CConnectionHandler::peerStopsReading()
{
    if (bytesToWrite() <= MAX_PENDING_OUTPUT)
        return false;
    flush();
    return bytesToWrite() > MAX_PENDING_OUTPUT;
}

// The clock runs from the first byte of a frame, so a peer that trickles a frame byte by byte gets
// no more time than one that sends half of it and stops.
void CConnectionHandler::watchIncompleteFrame(bool frameStarted)
{
    if (buffer.isEmpty())
        incompleteFrameTimer.stop();
    else if (frameStarted || !incompleteFrameTimer.isActive())
        incompleteFrameTimer.start();
}

void CConnectionHandler::disconnectedSlot()
{
    deleteLater();
}

QByteArray CConnectionHandler::getAnswerDataSlot(const CConnectionHandler::SModbusMBAP& mbap,
    const CConnectionHandler::SModbusTcpPacketHeader& header,
    const QMap<quint16, quint16>& registers)
{
    return CModbusProtocol::normalAnswer(mbap, header, registers.values().toVector());
}

QByteArray CConnectionHandler::answerRequest(
    const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header)
{
    const CModbusProtocol::EExceptionCode exception = CModbusProtocol::checkRequest(header);
    if (exception != CModbusProtocol::EXCEPTION_NONE)
        return CModbusProtocol::exceptionAnswer(mbap, header, exception);
    // The words of the image, without the map getAnswerDataSlot takes: same bytes, less work.
    const std::optional<QVector<quint16>> words
        = readRegisters(port, header.startAddress, header.quantity);
    // Zeros or an empty answer would pass for values; the master must see that the read failed.
    if (!words)
        return CModbusProtocol::exceptionAnswer(
            mbap, header, CModbusProtocol::EXCEPTION_SERVER_DEVICE_FAILURE);
    return CModbusProtocol::normalAnswer(mbap, header, *words);
}

void CConnectionHandler::dropConnection(const QString& reason)
{
    addLog(ModbusTexts::CONNECTION_DROPPED.arg(peerAddress().toString()).arg(port).arg(reason));
    buffer.clear();
    abort();
    deleteLater();
}
