#include "servercontroller.h"

#include "apijsonkeys.h"
#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "cserverhandler.h"
#include "deviceslistwaiter.h"
#include "weblimits.h"
#include "webtexts.h"

#include <QDebug>
#include <QJsonObject>
#include <QSet>

ServerController::ServerController(CServerHandler* client, CAllDeviceHandler* registry,
    CDataBaseHandler* database, QObject* parent)
    : APIController(parent), client(client), registry(registry), database(database)
{
    // The client connects in its own thread; the answer does not wait for it.
    connect(this, &ServerController::connectToServer, client, &CServerHandler::connectSlot,
        Qt::QueuedConnection);
}

void ServerController::authAction()
{
    requireParams({HTTP::API_JSON_KEY_ADDR, HTTP::API_JSON_KEY_LOGIN, HTTP::API_JSON_KEY_PW});
    const QJsonObject body = json().object();

    // The console ends up in the system journal, which is no place for the password.
    QJsonObject shown = body;
    if (shown.contains(HTTP::API_JSON_KEY_PW))
        shown[HTTP::API_JSON_KEY_PW] = WebTexts::PASSWORD_HIDDEN;
    qDebug().noquote() << WebTexts::AUTH_ACTION << QJsonDocument(shown);

    emit connectToServer(body.value(HTTP::API_JSON_KEY_ADDR).toString(),
        body.value(HTTP::API_JSON_KEY_LOGIN).toString(),
        body.value(HTTP::API_JSON_KEY_PW).toString());
}

void ServerController::reqServerStateAction()
{
    setResult(QJsonObject {
        {HTTP::API_JSON_KEY_STATUS, COMM::serverStatusText(client->getCurrentStatus())},
        {HTTP::API_JSON_KEY_ADDRESS, client->getLastAddr()},
        {HTTP::API_JSON_KEY_LOGIN, client->getLastLogin()},
    });
}

// A request the client did not queue (not logged in, no template loaded) is answered at once:
// no answer can come for it.
void ServerController::getDeviceListAction()
{
    // Listening starts once a request still in flight has been answered, so that answer is not
    // taken for this one's, and before this request is queued, so its answer is not missed.
    std::unique_ptr<DevicesListWaiter> waiter;
    std::optional<QList<API::SServerDeviceInfo>> devices;
    if (client->getDevicesListReq(
            templateAppEuis(), [&] { waiter = std::make_unique<DevicesListWaiter>(client); })
        && waiter)
        devices = waiter->wait(DEVICES_LIST_WAIT);
    QJsonObject answer;
    if (devices)
        answer[HTTP::API_JSON_KEY_DEVICES] = addableDevices(*devices);
    answer[HTTP::API_JSON_KEY_RESULT]
        = devices ? HTTP::API_JSON_RESULT_SUCCESS : HTTP::API_JSON_RESULT_ERROR;
    setResult(answer);
}

QStringList ServerController::templateAppEuis() const
{
    QStringList appEuis;
    for (const REGS::SDeviceTemplateInfo& info : registry->getTemplateInfo())
        appEuis << info.appEui;
    return appEuis;
}

// The devices not registered yet whose application EUI names a loaded template. Both
// comparisons are exact: registered EUIs and template keys are upper case.
QJsonArray ServerController::addableDevices(const QList<API::SServerDeviceInfo>& devices) const
{
    const QStringList registered = database->getRegisteredDevices();
    const QStringList appEuis = templateAppEuis();
    const QSet<QString> templateKeys(appEuis.cbegin(), appEuis.cend());
    QJsonArray addable;
    for (const API::SServerDeviceInfo& device : devices) {
        if (registered.contains(device.devEui) || !templateKeys.contains(device.appEui))
            continue;
        addable.append(QJsonObject {
            {HTTP::API_JSON_KEY_DEV_EUI, device.devEui},
            {HTTP::API_JSON_KEY_NAME, device.devName},
            {HTTP::API_JSON_KEY_APP_EUI, device.appEui},
        });
    }
    return addable;
}
