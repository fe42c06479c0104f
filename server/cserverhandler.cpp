#include "cserverhandler.h"

#include "apiconstants.h"
#include "apimessages.h"
#include "clogfile.h"
#include "csettings.h"
#include "jsonduplicatekeys.h"
#include "logquote.h"
#include "serverlogging.h"
#include "servertexts.h"
#include "settingskeys.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

namespace {
// Incoming messages and frames above this size are refused and the connection closed. The
// largest real message, the device list, takes a few hundred bytes per device; this is far
// above it, yet keeps a hostile server from filling the memory of a small controller.
const quint64 MAX_INCOMING_MESSAGE_BYTES = 8 * 1024 * 1024;
// Until the handshake completes the socket buffers at most this much, which is also the longest
// header line accepted; each read of the server's answer therefore brings at most this much.
const qint64 HANDSHAKE_READ_BYTES = 8 * 1024;
// A real handshake answer comes in one or two reads; this bounds it to 128 KiB.
const int MAX_HANDSHAKE_READS = 16;
// Time a server has from the accepted connection to the end of its handshake answer.
const int HANDSHAKE_TIMEOUT_MS = 5000;
} // namespace

CServerHandler* CServerHandler::getInstance()
{
    static CServerHandler* const instance = new CServerHandler();
    return instance;
}

CServerHandler::CServerHandler() : socket(createSocket())
{
    waitingTimer.setSingleShot(true);
    responseTimer.setSingleShot(true);
    handshakeTimer.setSingleShot(true);
    handshakeTimer.setInterval(HANDSHAKE_TIMEOUT_MS);

    connect(&handshakeTimer, &QTimer::timeout, this, &CServerHandler::handshakeTimeoutSlot);
    connect(&responseTimer, &QTimer::timeout, this, &CServerHandler::timeoutSlot);
    connect(
        &waitingTimer, &QTimer::timeout, this, &CServerHandler::waitingServerResponseTimeoutSlot);
    connect(&pingTimer, &QTimer::timeout, this, &CServerHandler::pingSlot);
    // Queued, so tasks are always sent from the main thread's event loop, whoever asks.
    connect(
        this, &CServerHandler::newTask, this, &CServerHandler::newTaskSlot, Qt::QueuedConnection);
    connect(this, &CServerHandler::changeServerStatus, this,
        &CServerHandler::serverStatusChangedSlot, Qt::DirectConnection);
}

CServerHandler::~CServerHandler()
{
    // The socket reports its closing while it is destroyed, after the timers are gone.
    disconnect(socket, nullptr, this, nullptr);
}

QWebSocket* CServerHandler::createSocket()
{
    auto* created = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    created->setMaxAllowedIncomingFrameSize(MAX_INCOMING_MESSAGE_BYTES);
    created->setMaxAllowedIncomingMessageSize(MAX_INCOMING_MESSAGE_BYTES);
    created->setReadBufferSize(HANDSHAKE_READ_BYTES);
    connect(created, &QWebSocket::connected, this, &CServerHandler::socketConnectedSlot);
    connect(created, &QWebSocket::disconnected, this, &CServerHandler::socketDisconnectedSlot);
    connect(
        created, &QWebSocket::textMessageReceived, this, &CServerHandler::textMessageReceivedSlot);
    connect(created, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
        [this]() { qCDebug(lcServer) << "Socket error:" << socket->errorString(); });
    return created;
}

// Every attempt gets a socket object of its own, so whatever an earlier attempt buffered goes
// with its socket. The old socket has reported its closing already; later reports are ignored.
void CServerHandler::openSocket(const QUrl& url)
{
    handshakeTimer.stop();
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    socket = createSocket();
    socket->open(url);
    watchHandshake();
}

// QWebSocket keeps every header line of the server's answer and offers no limit, so the
// answer is watched on the transport socket, which Qt keeps as the WebSocket's child: each read
// brings at most HANDSHAKE_READ_BYTES, the reads are counted, and the time from the accepted
// connection is bounded.
void CServerHandler::watchHandshake()
{
    handshakeReads = 0;
    QTcpSocket* transport = socket->findChild<QTcpSocket*>();
    if (!transport)
        return;
    connect(transport, &QTcpSocket::connected, &handshakeTimer, QOverload<>::of(&QTimer::start));
    connect(transport, &QTcpSocket::readyRead, this, &CServerHandler::handshakeReadSlot);
}

void CServerHandler::handshakeReadSlot()
{
    if (++handshakeReads <= MAX_HANDSHAKE_READS)
        return;
    addLog(ServerTexts::HANDSHAKE_TOO_LARGE.arg(socket->requestUrl().toString())
               .arg(MAX_HANDSHAKE_READS)
               .arg(HANDSHAKE_READ_BYTES),
        CLogFile::LOG_TYPE_WARNING, true);
    socket->abort();
}

void CServerHandler::handshakeTimeoutSlot()
{
    addLog(ServerTexts::HANDSHAKE_TIMEOUT.arg(socket->requestUrl().toString())
               .arg(HANDSHAKE_TIMEOUT_MS),
        CLogFile::LOG_TYPE_WARNING, true);
    socket->abort();
}

void CServerHandler::setTimings(const STimings& newTimings)
{
    timings = newTimings;
}

COMM::EServerStatus CServerHandler::getCurrentStatus() const
{
    return status;
}

QString CServerHandler::getLastAddr() const
{
    return lastConnectionParams().address;
}

QString CServerHandler::getLastLogin() const
{
    return lastConnectionParams().login;
}

CServerHandler::SConnectionParams CServerHandler::lastConnectionParams() const
{
    QMutexLocker locker(&lastConnectionMutex);
    return lastConnection;
}

void CServerHandler::setLastConnectionParams(const SConnectionParams& params)
{
    QMutexLocker locker(&lastConnectionMutex);
    lastConnection = params;
}

void CServerHandler::connectSlot(QString origin, QString login, QString password)
{
    if (openConnection({origin, login, password}))
        requestPending = true;
}

bool CServerHandler::openConnection(const SConnectionParams& params)
{
    // A new attempt replaces whatever the old connection was waiting for.
    keepConnected = false;
    responseTimer.stop();
    socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    emit changeServerStatus(COMM::DISCONNECTED);

    const QUrl url(params.address, QUrl::TolerantMode);
    if (!url.isValid()) {
        addLog(ServerTexts::INVALID_URL.arg(logQuote(params.address)));
        return false;
    }
    setLastConnectionParams(params);
    keepConnected = true;
    openSocket(url);
    // Gives up an attempt that neither connects nor fails (a host that never answers) and
    // retries it; a successful connection re-arms this timer for the first ping.
    responseTimer.start(timings.connectRetry);
    return true;
}

void CServerHandler::disconnectSlot()
{
    keepConnected = false;
    pingTimer.stop();
    responseTimer.stop();
    phase = PHASE_IDLE;
    handshakeTimer.stop();
    socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void CServerHandler::reconnect()
{
    // settings.conf holds the last connection that logged in, not a request still trying.
    if (!requestPending)
        readSettings();
    openConnection(lastConnectionParams());
}

void CServerHandler::readSettings()
{
    const QString address
        = CSettings::readValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_ADDRESS, QString())
              .toString();
    const QString login
        = CSettings::readValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_LOGIN, QString())
              .toString();
    const QString password
        = CSettings::readValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_PASSWORD, QString())
              .toString();
    setLastConnectionParams({address, login, password});
}

void CServerHandler::saveSettings()
{
    const SConnectionParams params = lastConnectionParams();
    CSettings::writeValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_ADDRESS, params.address);
    CSettings::writeValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_LOGIN, params.login);
    CSettings::writeValue(SETT::SETT_SECT_SERVER + SETT::SETT_SERVER_PASSWORD, params.password);
}

void CServerHandler::socketConnectedSlot()
{
    handshakeTimer.stop();
    disconnect(socket->findChild<QTcpSocket*>(), &QTcpSocket::readyRead, this,
        &CServerHandler::handshakeReadSlot);
    // Room for the largest frame accepted, which is read whole.
    socket->setReadBufferSize(MAX_INCOMING_MESSAGE_BYTES);
    phase = PHASE_PING;
    sendMessage(API::pingRequest());
    emit changeServerStatus(COMM::PING_WAITING);
    responseTimer.start(timings.firstPingAnswer);
}

void CServerHandler::socketDisconnectedSlot()
{
    handshakeTimer.stop();
    if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData) {
        addLog(ServerTexts::MESSAGE_TOO_LARGE.arg(socket->requestUrl().toString())
                   .arg(socket->closeReason())
                   .arg(MAX_INCOMING_MESSAGE_BYTES),
            CLogFile::LOG_TYPE_WARNING, true);
    }
    phase = PHASE_DISCONNECTED;
    emit changeServerStatus(COMM::DISCONNECTED);
    // A lost or failed connection is retried unless the login was refused or the operator
    // disconnected; a timer already running (first ping, ping answer) brings the retry sooner.
    if (keepConnected && !responseTimer.isActive())
        responseTimer.start(timings.connectRetry);
}

void CServerHandler::pingSlot()
{
    // Pings only while logged in: a ping_resp that crosses a new login would spoil it. The
    // answer timer is not re-armed by later pings, so a silent server is noticed in time.
    if (phase != PHASE_VERIFIED)
        return;
    sendMessage(API::pingRequest());
    if (!responseTimer.isActive())
        responseTimer.start(timings.pingAnswer);
}

void CServerHandler::timeoutSlot()
{
    responseTimer.stop();
    const bool stillConnecting = socket->state() == QAbstractSocket::ConnectingState
        || socket->state() == QAbstractSocket::HostLookupState;
    if (stillConnecting) {
        qCDebug(lcServer) << "No connection to" << socket->requestUrl() << "yet, giving up";
        socket->abort();
    }

    switch (phase) {
    case PHASE_PING:
        emit changeServerStatus(COMM::INVALID_PING);
        break;
    case PHASE_AUTH:
        emit changeServerStatus(COMM::INVALID_AUTH);
        break;
    case PHASE_VERIFIED:
        qDebug().noquote() << ServerTexts::PING_TIMEOUT;
        scheduleReconnect();
        break;
    case PHASE_DISCONNECTED:
        qDebug().noquote() << ServerTexts::DISCONNECTED_RETRY;
        scheduleReconnect();
        break;
    case PHASE_IDLE:
        break;
    }
}

void CServerHandler::scheduleReconnect()
{
    QTimer::singleShot(timings.reconnectDelay, this, &CServerHandler::reconnect);
}

void CServerHandler::serverStatusChangedSlot(COMM::EServerStatus newStatus)
{
    status = newStatus;
    if (newStatus == COMM::ONLINE)
        pingTimer.start(timings.pingPeriod);
}

void CServerHandler::textMessageReceivedSlot(const QString& message)
{
    const QByteArray text = message.toUtf8();
    if (hasDuplicateKeys(text)) {
        qCWarning(lcServer) << "Message with a repeated key dropped";
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) {
        qDebug().noquote() << ServerTexts::NOT_A_JSON_OBJECT;
        return;
    }
    switch (phase) {
    case PHASE_PING:
        handlePingPhaseMessage(document.object());
        break;
    case PHASE_AUTH:
        handleAuthPhaseMessage(document.object());
        break;
    case PHASE_VERIFIED:
        handleVerifiedPhaseMessage(document.object());
        break;
    case PHASE_IDLE:
    case PHASE_DISCONNECTED:
        break;
    }
}

void CServerHandler::handlePingPhaseMessage(const QJsonObject& message)
{
    responseTimer.stop();
    if (message.value(API::API_JSON_KEY_CMD).toString() != API::API_JSON_CMD_PINGRESP) {
        qDebug().noquote() << ServerTexts::PING_PHASE_UNKNOWN_MESSAGE;
        emit changeServerStatus(COMM::INVALID_PING);
        return;
    }
    phase = PHASE_AUTH;
    const SConnectionParams params = lastConnectionParams();
    sendMessage(API::authRequest(params.login, params.password));
    emit changeServerStatus(COMM::AUTH_WAITING);
}

void CServerHandler::handleAuthPhaseMessage(const QJsonObject& message)
{
    phase = PHASE_IDLE;
    QString failure;
    if (!message.contains(API::API_JSON_KEY_CMD)) {
        failure = ServerTexts::AUTH_PHASE_NO_COMMAND;
    } else if (message.value(API::API_JSON_KEY_CMD).toString() != API::API_JSON_CMD_AUTHRESP) {
        failure = ServerTexts::AUTH_PHASE_UNKNOWN_COMMAND;
    } else if (!message.contains(API::API_JSON_KEY_STATUS)) {
        failure = ServerTexts::AUTH_PHASE_NO_STATUS;
    } else if (!message.value(API::API_JSON_KEY_STATUS).toBool(false)) {
        failure = ServerTexts::AUTH_REFUSED.arg(
            logQuote(message.value(API::API_JSON_KEY_ERRSTRING).toString()));
    }
    if (!failure.isEmpty()) {
        qDebug().noquote() << failure;
        // A refused login is not retried: the same credentials would be refused again.
        keepConnected = false;
        emit changeServerStatus(COMM::INVALID_AUTH);
        return;
    }
    phase = PHASE_VERIFIED;
    requestPending = false;
    emit changeServerStatus(COMM::ONLINE);
    saveSettings();
}

void CServerHandler::handleVerifiedPhaseMessage(const QJsonObject& message)
{
    // Any message shows the server alive: behind a long burst of uplinks the ping answer comes
    // late, and the burst must not get the connection dropped.
    responseTimer.stop();
    if (!message.contains(API::API_JSON_KEY_CMD)) {
        qDebug().noquote() << ServerTexts::VERIFIED_PHASE_NO_COMMAND;
        return;
    }
    const QString command = message.value(API::API_JSON_KEY_CMD).toString();
    if (command == API::API_JSON_CMD_RX) {
        const API::SApiDeviceData packet = API::readUplink(message);
        if (!packet.devEui.isEmpty())
            emit newPacketReceived(packet);
    } else if (command == API::API_JSON_CMD_GETDEVREGINFORESP) {
        handleDevicesListResponse(message);
    } else if (command == API::API_JSON_CMD_GETDEVDATARESP) {
        // The task stays in flight until its waiting time has passed.
        const API::SApiDeviceData packet = API::chooseLastUplink(message);
        if (packet.valid)
            emit newPacketReceived(packet);
    }
}

void CServerHandler::handleDevicesListResponse(const QJsonObject& message)
{
    if (currentTask != TASK_GET_DEVICES_LIST) {
        addLog(ServerTexts::UNSCHEDULED_PACKET);
        return;
    }
    if (message.value(API::API_JSON_KEY_STATUS).toBool(false))
        emit getDevicesListResp(true, API::readDevicesList(message));
    else
        emit getDevicesListResp(false, QList<API::SServerDeviceInfo>());
    currentTask = TASK_GET_DEVICE_DATA;
    waitingServerResponseTimeoutSlot();
}

bool CServerHandler::getDevicesListReq(
    const QStringList& appEuiList, const std::function<void()>& beforeQueuing)
{
    if (appEuiList.isEmpty()) {
        addLog(ServerTexts::DEVICES_LIST_EMPTY_APPEUI_LIST);
        return false;
    }
    if (phase != PHASE_VERIFIED) {
        addLog(ServerTexts::DEVICES_LIST_NOT_CONNECTED);
        return false;
    }
    queueTask(
        TASK_GET_DEVICES_LIST, API::devicesListRequest(), timings.taskQueueWait, beforeQueuing);
    return true;
}

void CServerHandler::getDeviceLastPackets(QString devEui)
{
    if (devEui.isEmpty()) {
        addLog(ServerTexts::LAST_PACKETS_EMPTY_DEVEUI);
        return;
    }
    if (phase != PHASE_VERIFIED) {
        addLog(ServerTexts::LAST_PACKETS_NOT_CONNECTED);
        return;
    }
    queueTask(TASK_GET_DEVICE_DATA, API::deviceDataRequest(devEui), 0);
}

// Appends a task and, when no task is in flight, asks the main thread to send it. A caller in
// another thread waits up to waitMs for the task in flight to complete; the main thread itself
// never waits, since only it completes tasks. When the wait times out the task stays queued and
// goes out after the task in flight. The task joins the queue only after the wait: the main
// thread sends the next task as soon as the one in flight completes, before this thread wakes.
void CServerHandler::queueTask(
    EServerTask kind, const QString& text, int waitMs, const std::function<void()>& beforeQueuing)
{
    QMutexLocker locker(&taskMutex);
    if (QThread::currentThread() == thread())
        waitMs = 0;
    const bool inFlightCompleted = waitForTaskInFlight(waitMs);
    if (inFlightCompleted && beforeQueuing)
        beforeQueuing();
    taskQueue.append({kind, text});
    if (!inFlightCompleted)
        return;
    locker.unlock();
    emit newTask();
}

// Called with taskMutex held. True when no task is in flight or when the one in flight completes
// within waitMs; a task sent after it does not prolong the wait.
bool CServerHandler::waitForTaskInFlight(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    const quint64 completedBefore = completedTasks;
    while (taskInFlight && completedTasks == completedBefore) {
        if (!taskCompleted.wait(&taskMutex, deadline))
            return false;
    }
    return true;
}

void CServerHandler::newTaskSlot()
{
    QMutexLocker locker(&taskMutex);
    if (taskInFlight) {
        qDebug().noquote() << ServerTexts::TASK_IN_FLIGHT;
        return;
    }
    if (taskQueue.isEmpty()) {
        qDebug().noquote() << ServerTexts::TASK_QUEUE_EMPTY;
        return;
    }
    const STask task = taskQueue.takeFirst();
    taskInFlight = true;
    locker.unlock();

    currentTask = task.kind;
    sendMessage(task.text);
    waitingTimer.start(timings.taskAnswer);
}

// Completes the task in flight, answered or not, and sends the next one.
void CServerHandler::waitingServerResponseTimeoutSlot()
{
    waitingTimer.stop();
    if (currentTask == TASK_GET_DEVICES_LIST)
        emit getDevicesListResp(false, QList<API::SServerDeviceInfo>());
    currentTask = TASK_GET_DEVICE_DATA;
    // Waiters are released only after the answer above, so none of them takes it for the answer
    // to its own task.
    releaseTask();
    emit newTask();
}

void CServerHandler::releaseTask()
{
    QMutexLocker locker(&taskMutex);
    taskInFlight = false;
    ++completedTasks;
    taskCompleted.wakeAll();
}

void CServerHandler::sendMessage(const QString& text)
{
    socket->sendTextMessage(text);
}
