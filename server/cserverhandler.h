#pragma once

#include "eserverstatus.h"
#include "sapidevicedata.h"
#include "sserverdeviceinfo.h"

#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWebSocket>
#include <atomic>

// The client of the network server's WebSocket API. Lives in the main thread: logs in with a
// ping probe and auth_req, pings every 10 s, reconnects after a lost connection, forwards every
// uplink as newPacketReceived, and sends request/answer tasks one at a time.
class CServerHandler : public QObject
{
    Q_OBJECT
public:
    enum EServerTask { TASK_GET_DEVICE_DATA = 0, TASK_GET_DEVICES_LIST = 1 };
    enum EServerPhase {
        PHASE_IDLE = 0,
        PHASE_PING = 1,
        PHASE_AUTH = 2,
        PHASE_VERIFIED = 3,
        PHASE_DISCONNECTED = 5,
    };

    // Intervals of the connection in milliseconds; tests shorten them.
    struct STimings
    {
        int firstPingAnswer = 2000;
        int pingPeriod = 10000;
        int pingAnswer = 10000;
        int taskAnswer = 10000;
        int taskQueueWait = 10000;
        int reconnectDelay = 1;
        int connectRetry = 10000;
    };

    static CServerHandler* getInstance();
    // Production code uses getInstance(); tests create instances of their own.
    CServerHandler();
    ~CServerHandler() override;

    // Main thread, before the first connection.
    void setTimings(const STimings& newTimings);

    // Safe to call from any thread.
    COMM::EServerStatus getCurrentStatus() const;
    EServerPhase getCurrentPhase() const;
    QString getLastAddr() const;
    QString getLastLogin() const;
    bool getDevicesListReq(const QStringList& appEuiList);

public slots:
    void connectSlot(QString _origin, QString _login, QString _password);
    void disconnectSlot();
    void getDeviceLastPackets(QString devEui);
    void reconnect();
    void readSettings();
    void saveSettings();

signals:
    void newTask();
    void changeServerStatus(COMM::EServerStatus _status);
    void getDevicesListResp(bool status, QList<API::SServerDeviceInfo> _regInfoList);
    void newPacketReceived(API::SApiDeviceData _devData);

private slots:
    void socketConnectedSlot();
    void socketDisconnectedSlot();
    void textMessageReceivedSlot(const QString& message);
    void timeoutSlot();
    void waitingServerResponseTimeoutSlot();
    void pingSlot();
    void newTaskSlot();
    void serverStatusChangedSlot(COMM::EServerStatus newStatus);

private:
    void handlePingPhaseMessage(const QJsonObject& message);
    void handleAuthPhaseMessage(const QJsonObject& message);
    void handleVerifiedPhaseMessage(const QJsonObject& message);
    void handleDevicesListResponse(const QJsonObject& message);
    void queueTask(EServerTask kind, const QString& text, int waitMs);
    void sendMessage(const QString& text);
    void scheduleReconnect();

    std::atomic<EServerPhase> phase {PHASE_IDLE};
    std::atomic<COMM::EServerStatus> status {COMM::DISCONNECTED};
    EServerTask currentTask = TASK_GET_DEVICE_DATA;
    bool taskInFlight = false;
    QList<QPair<EServerTask, QString>> taskQueue;
    QMutex queueMutex;
    QMutex taskMutex;
    // One permit while no task is in flight. The main thread takes it when it sends a task and
    // gives it back on completion, across event-loop returns; other threads wait on it.
    QSemaphore waitingLock {1};
    QTimer waitingTimer;
    QWebSocket socket;
    // Address and credentials of the last connection request; the web thread reads them too.
    struct SConnectionParams
    {
        QString address;
        QString login;
        QString password;
    };
    SConnectionParams lastConnectionParams() const;
    void setLastConnectionParams(const SConnectionParams& params);
    mutable QMutex lastConnectionMutex;
    SConnectionParams lastConnection;
    QTimer responseTimer;
    QTimer pingTimer;
    // Whether a lost or failed connection is retried; false after a refused login.
    bool keepConnected = false;
    STimings timings;
};
