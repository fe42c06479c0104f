#pragma once

#include "cmodbusprotocol.h"
#include "registerreader.h"

#include <QByteArray>
#include <QMap>
#include <QTcpSocket>
#include <QTimer>

// One accepted Modbus TCP connection: reassembles request frames and answers register reads from
// the register image of its port. It deletes itself when the peer goes away.
class CConnectionHandler : public QTcpSocket
{
    Q_OBJECT
public:
    using SModbusMBAP = CModbusProtocol::SModbusMBAP;
    using SModbusTcpPacketHeader = CModbusProtocol::SModbusTcpPacketHeader;

    // Bytes Qt may read ahead from the kernel; beyond that TCP flow control holds the peer back.
    static const qint64 MAX_PENDING_INPUT = 64 * 1024;
    // Answers a peer has not collected; beyond that it is not reading and is dropped.
    static const qint64 MAX_PENDING_OUTPUT = 1024 * 1024;
    // A frame begun and not finished within this time is never coming; its connection is dropped
    // rather than hold a descriptor for nothing.
    static const int INCOMPLETE_FRAME_TIMEOUT_MS = 30000;

    CConnectionHandler(quint16 port, const RegisterReader& readRegisters, QObject* parent);
    ~CConnectionHandler() override;

    bool setSocketDescriptor(qintptr socketDescriptor, SocketState state = ConnectedState,
        OpenMode openMode = ReadWrite) override;

public slots:
    void readyReadSlot();
    void disconnectedSlot();
    QByteArray getAnswerDataSlot(const CConnectionHandler::SModbusMBAP& mbap,
        const CConnectionHandler::SModbusTcpPacketHeader& header,
        const QMap<quint16, quint16>& registers);

private:
    QByteArray answerRequest(const SModbusMBAP& mbap, const SModbusTcpPacketHeader& header);
    bool peerStopsReading();
    void watchIncompleteFrame(bool frameStarted);
    void dropConnection(const QString& reason);

    quint16 port;
    RegisterReader readRegisters;
    QByteArray buffer;
    QTimer incompleteFrameTimer;
};
