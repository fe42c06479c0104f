#pragma once

#include "sserverdeviceinfo.h"

#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QWaitCondition>

#include <chrono>
#include <memory>
#include <optional>

class CServerHandler;

// Catches the next device list that the network-server client reports, for a caller in another
// thread than the client's. The caller waits without running an event loop: the web thread
// serves one request at a time and must not start another one meanwhile.
class DevicesListWaiter
{
public:
    // Listens from now on, until destroyed.
    explicit DevicesListWaiter(CServerHandler* client);
    ~DevicesListWaiter();
    DevicesListWaiter(const DevicesListWaiter&) = delete;
    DevicesListWaiter& operator=(const DevicesListWaiter&) = delete;

    // The list that came within the time-out (empty when the client reported a failure); none
    // when none came.
    std::optional<QList<API::SServerDeviceInfo>> wait(std::chrono::milliseconds timeout);

private:
    // Written in the client's thread; shared with the connection, which may outlive the waiter
    // for the moment it takes to deliver an answer that crosses the disconnection.
    struct SMailbox
    {
        QMutex mutex;
        QWaitCondition arrived;
        bool answered = false;
        QList<API::SServerDeviceInfo> devices;
    };

    std::shared_ptr<SMailbox> mailbox;
    QMetaObject::Connection connection;
};
