#pragma once

#include "cdbconnections.h"
#include "cfailurereporter.h"
#include "cmirrorkeeper.h"
#include "dbrecords.h"
#include "dbtexts.h"
#include "regvaluetostring.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <optional>

// The only gateway to the SQLite database. Every public operation that reaches the file holds
// the worker's mutex for its whole run; Modbus reads come from the register image and hold only
// its lock; getRegistersData answers a repeated read from what it read before, until a write
// comes. saveRegisterData runs in the database thread, everything else in the caller's.
class CDataBaseHandler : public QObject
{
    Q_OBJECT
public:
    static CDataBaseHandler* getInstance();

    bool init(const QString& fileName);

    bool registerNewDevice(const DB::SDeviceRegMapDescription& device, QString& errorText);
    bool deleteDevice(uint id);
    bool getDeviceId(const QString& devEui, uint& id);
    QList<DB::SDeviceRegMapDescription> getDevices(const QString& filter);
    QStringList getRegisteredDevices();
    int getLastFreeRegisterForPort(int port);

    DB::SDbDevRegParam getRegisterParam(const QString& devEui, uint regAddr);
    QList<DB::SDbDevRegDataInfo> getRegistersData(uint id);
    void updateRegInfo(DB::SDbDevRegParamInfo info);

    // The Modbus register image of registers [first, first + count) on a port.
    QMap<quint16, quint16> getRegisterData(const int& port, const int& first, const int& count);
    // The same image as plain words, word i being register first + i; the Modbus answer path
    // uses it because building a map for every read costs more than the read itself. Nothing
    // when the registers cannot be read.
    std::optional<QVector<quint16>> getRegisterWords(int port, int first, int count);

public slots:
    void saveRegisterData(DB::SDbDeviceRegDataSet regData);
    // Drops the calling thread's connection. A thread that used the database calls it as it
    // ends (connected directly to QThread::finished): Qt reports a thread finished before its
    // thread_local objects, which hold the connections, are destroyed, and removing a
    // connection then races with the process tearing Qt Sql down.
    void releaseThreadConnection();
    // Refuses further connections and drops the calling thread's; the last step of shutdown.
    void close();

private:
    CDataBaseHandler() = default;

    bool failInit(const QString& message);
    QSet<quint16> registersUsing(int port);
    bool dataSetDevice(QSqlDatabase& db, const QString& devEui, int& id);
    bool readRegistersData(uint id, QList<DB::SDbDevRegDataInfo>& registerRows);
    void refreshRegistersData(int id);
    void forgetRegistersData();
    void forgetRegistersData(int id);

    QMutex mutex;
    CDbConnections connections;
    CMirrorKeeper registers; // the register image, scaling lookup and usage sets
    // Guards the register image besides the mutex: changes hold both, Modbus reads only this
    // one, so a read never waits behind a write's transaction, only behind its last step.
    QMutex imageMutex;
    // Uplinks that cannot be stored are reported once per cause, not once each.
    CFailureReporter storeReporter {DbTexts::VALUES_NOT_STORED, DbTexts::VALUES_STORED_AGAIN};
    // What getRegistersData read per device (a page polls the values of a device far more often
    // than uplinks change them). An uplink's write reads its device's rows anew, other writes
    // empty it as they end. Its own mutex
    // lets a read served from it go on while a write holds the database.
    QHash<uint, QList<DB::SDbDevRegDataInfo>> registersDataCache;
    QMutex cacheMutex;
};
