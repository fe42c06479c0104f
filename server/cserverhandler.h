#pragma once

#include "eserverstatus.h"
#include "sapidevicedata.h"
#include "sserverdeviceinfo.h"

#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWaitCondition>
#include <QWebSocket>
#include <atomic>
#include <functional>

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
    QString getLastAddr() const;
    QString getLastLogin() const;
    // Queues a get_devices_req. A caller in another thread returns once the task in flight has
    // completed (at most taskQueueWait later), so its own answer is the next one to come.
    // beforeQueuing runs in the caller's thread once that wait is over and before the request
    // can go out: a listener connected there cannot miss the answer. It does not run when the
    // wait ran out.
    bool getDevicesListReq(
        const QStringList& appEuiList, const std::function<void()>& beforeQueuing = {});

public slots:
    void connectSlot(QString origin, QString login, QString password);
    void disconnectSlot();
    void getDeviceLastPackets(QString devEui);
    void reconnect();
    void readSettings();
    void saveSettings();

signals:
    void newTask();
    void changeServerStatus(COMM::EServerStatus status);
    void getDevicesListResp(bool status, QList<API::SServerDeviceInfo> regInfoList);
    void newPacketReceived(API::SApiDeviceData devData);

private slots:
    void socketConnectedSlot();
    void socketDisconnectedSlot();
    void textMessageReceivedSlot(const QString& message);
    void timeoutSlot();
    void waitingServerResponseTimeoutSlot();
    void pingSlot();
    void newTaskSlot();
    void serverStatusChangedSlot(COMM::EServerStatus newStatus);
    void handshakeReadSlot();
    void handshakeTimeoutSlot();

private:
    void handlePingPhaseMessage(const QJsonObject& message);
    void handleAuthPhaseMessage(const QJsonObject& message);
    void handleVerifiedPhaseMessage(const QJsonObject& message);
    void handleDevicesListResponse(const QJsonObject& message);
    void queueTask(EServerTask kind, const QString& text, int waitMs,
        const std::function<void()>& beforeQueuing = {});
    bool waitForTaskInFlight(int waitMs);
    void releaseTask();
    void sendMessage(const QString& text);
    void scheduleReconnect();

    std::atomic<EServerPhase> phase {PHASE_IDLE};
    std::atomic<COMM::EServerStatus> status {COMM::DISCONNECTED};
    // Kind of the task in flight; TASK_GET_DEVICE_DATA also when none is. Main thread only.
    EServerTask currentTask = TASK_GET_DEVICE_DATA;

    struct STask
    {
        EServerTask kind;
        QString text;
    };
    // The queue and the in-flight state are shared with callers in other threads, which queue
    // tasks and wait for the task in flight to complete; only the main thread sends and
    // completes tasks.
    QMutex taskMutex;
    QWaitCondition taskCompleted;
    QList<STask> taskQueue;
    bool taskInFlight = false;
    quint64 completedTasks = 0;
    QTimer waitingTimer;
    // The socket of the current connection attempt, a child of this object.
    QWebSocket* socket;
    QWebSocket* createSocket();
    void openSocket(const QUrl& url);
    void watchHandshake();
    QTimer handshakeTimer;
    int handshakeReads = 0;
    // Address and credentials of the last connection request; the web thread reads them too.
    struct SConnectionParams
    {
        QString address;
        QString login;
        QString password;
    };
    SConnectionParams lastConnectionParams() const;
    void setLastConnectionParams(const SConnectionParams& params);
    // Opens the socket at the address; false, logged, when it is not a valid URL.
    bool openConnection(const SConnectionParams& params);
    mutable QMutex lastConnectionMutex;
    SConnectionParams lastConnection;
    QTimer responseTimer;
    QTimer pingTimer;
    // Whether a lost or failed connection is retried; false after a refused login.
    bool keepConnected = false;
    // A connect request has not logged in yet: retries go to its address and credentials
    // rather than to those in settings.conf.
    bool requestPending = false;
    STimings timings;
};
