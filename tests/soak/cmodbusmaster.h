#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class CReadChecker;

// A Modbus TCP master that reads the four registers of one of its devices every 100 ms,
// going round them, one request at a time on one connection. An answer not back within
// 3 s counts as a timeout and the connection starts again.
class CModbusMaster : public QObject
{
    Q_OBJECT
public:
    static constexpr int PERIOD_MS = 100;

    CModbusMaster(quint16 port, const QList<int>& devices, CReadChecker& checker);

    void start();
    void stop();

private:
    void poll();
    void request();
    void readAnswers();
    void takeAnswer(const QByteArray& frame);

    QTcpSocket socket;
    QTimer timer;
    QElapsedTimer sentAt;
    QByteArray received;
    quint16 port;
    QList<int> devices;
    CReadChecker& checker;
    int next = 0;
    int asked = -1; // the device whose answer is awaited
    quint16 transaction = 0;
};
