#include "deviceslistwaiter.h"

#include "cserverhandler.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

DevicesListWaiter::DevicesListWaiter(CServerHandler* client) : mailbox(std::make_shared<SMailbox>())
{
    // A direct connection: the answer is stored in the client's thread while this one waits.
    connection = QObject::connect(client, &CServerHandler::getDevicesListResp,
        [mailbox = mailbox](bool, const QList<API::SServerDeviceInfo>& devices) {
            QMutexLocker locker(&mailbox->mutex);
            if (mailbox->answered)
                return;
            mailbox->answered = true;
            mailbox->devices = devices;
            mailbox->arrived.wakeAll();
        });
}

DevicesListWaiter::~DevicesListWaiter()
{
    QObject::disconnect(connection);
}

std::optional<QList<API::SServerDeviceInfo>> DevicesListWaiter::wait(
    std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout, Qt::CoarseTimer);
    QMutexLocker locker(&mailbox->mutex);
    while (!mailbox->answered) {
        if (!mailbox->arrived.wait(&mailbox->mutex, deadline))
            return std::nullopt;
    }
    return mailbox->devices;
}
