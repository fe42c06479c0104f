#pragma once

#include "dbrecords.h"
#include "sapidevicedata.h"
#include "sdevicetemplate.h"
#include "sdevicetemplateinfo.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

class CDataBaseHandler;
class CDeviceHandler;

// Knows the device templates and the configured devices, owns the Modbus listeners (one per
// port, shared by the devices on it) and decodes the uplinks of configured devices.
class CAllDeviceHandler : public QObject
{
    Q_OBJECT
public:
    static CAllDeviceHandler* getInstance();

    // Uplinks waiting to be decoded and stored at most; a queued uplink costs well under 1 KiB,
    // and storing runs at thousands per second, so this rides out any real burst.
    static const int MAX_UPLINK_BACKLOG = 20000;

    // Loads the templates of templateFolder; uplinks are decoded and stored in database's
    // thread, and the Modbus listeners read their registers from it. Called once, before any
    // device is opened.
    void init(const QString& templateFolder, CDataBaseHandler* database);

    QMap<QString, REGS::SDeviceTemplate> getDeviceTemplates() const;
    QList<REGS::SDeviceTemplateInfo> getTemplateInfo() const;

public slots:
    // Opens the device: it is registered and its uplinks are decoded whatever this returns.
    // True when its port listens. False when the port could not be bound (another program
    // holds it, say): the failure is logged, and the port is tried again every
    // CDeviceHandler::LISTEN_RETRY_MS until it listens or the last device on it is removed.
    bool addNewDevice(const DB::SDeviceRegMapDescription& devInfo);
    // Closes the device; its port closes with the last device on it.
    void removeDevice(const QString& devEui);
    // Queues the uplink of a configured device for processDataSlot in the database's thread, so
    // that the thread answering Modbus never waits for decoding and storing. When
    // MAX_UPLINK_BACKLOG uplinks are waiting, the uplink is dropped and counted.
    void newPacketReceivedSlot(const API::SApiDeviceData& devData);
    void processDataSlot(API::SApiDeviceData devData);

signals:
    void newDataForDevice(const QString& devEui);

private:
    CAllDeviceHandler();
    void loadTemplateFile(const QString& folder, const QString& fileName);
    CDeviceHandler* listenerFor(quint16 port);
    void detachFromListener(const QString& devEui, quint16 port);
    void takeFromBacklog();

    QMap<QString, REGS::SDeviceTemplate> templates;
    QMap<quint16, CDeviceHandler*> listeners;
    QMap<QString, DB::SDeviceRegMapDescription> devices;
    QMutex mutex; // guards listeners and devices
    CDataBaseHandler* database = nullptr;
    std::atomic<int> backlog {0}; // uplinks queued for processDataSlot
    std::atomic<int> droppedUplinks {0}; // since the backlog was last full
};
