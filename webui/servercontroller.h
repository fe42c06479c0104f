#pragma once

#include "apicontroller.h"
#include "sserverdeviceinfo.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

class CAllDeviceHandler;
class CDataBaseHandler;
class CServerHandler;

// The API scope "server": points the network-server client at a network server, shows the state
// of that connection and lists the network server's devices that could still be added. Lives
// in the web thread; the client lives in another one.
class ServerController : public APIController
{
    Q_OBJECT
public:
    ServerController(CServerHandler* client, CAllDeviceHandler* registry,
        CDataBaseHandler* database, QObject* parent = nullptr);

signals:
    void connectToServer(QString origin, QString login, QString password);

private slots:
    void authAction();
    void reqServerStateAction();
    void getDeviceListAction();

private:
    QStringList templateAppEuis() const;
    QJsonArray addableDevices(const QList<API::SServerDeviceInfo>& devices) const;

    CServerHandler* client;
    CAllDeviceHandler* registry;
    CDataBaseHandler* database;
};
