#include "cdatabasehandler.h"

#include "clogfile.h"
#include "dbconstants.h"

#include <QDateTime>
#include <QDebug>
#include <QHash>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <cmath>

namespace {
const QString SQL_DRIVER = QStringLiteral("QSQLITE");
const QString CONNECTION_NAME = QStringLiteral("tarvex-db-%1");
const int DEVICES_COLUMN_COUNT = 6;
const int DEVDATA_COLUMN_COUNT = 14;

enum EDevicesColumn {
    DEVICES_ID = 0,
    DEVICES_NAME,
    DEVICES_APP_EUI,
    DEVICES_DEV_EUI,
    DEVICES_PORT,
    DEVICES_START_ADDR,
};

enum EDevDataColumn {
    DATA_DEVICE = 0,
    DATA_PORT,
    DATA_REG_ADDR,
    DATA_START_VALUE,
    DATA_GRATING_PERIOD,
    DATA_BIT_SIZE,
    DATA_TYPE,
    DATA_VALUE,
    DATA_FULL_VALUE,
    DATA_TIME,
    DATA_NAME,
    DATA_UNIT,
    DATA_PARENT,
    DATA_SOURCE,
};

struct SDbIndexInfo
{
    QString name;
    QStringList columns;
};

CDataBaseHandler* instance = nullptr;
bool dbInvalidCreation = false;
QMutex creationMutex;

// Every init starts a new generation; a thread whose connection is older opens a new one.
std::atomic<quint64> connectionGeneration {0};
std::atomic<quint64> connectionCounter {0};

// Qt lets a connection be used only in the thread that created it, so each thread keeps its
// own, named uniquely, and drops it when the thread ends. The connection made by init carries
// Qt's default name and lives as long as the process.
struct SThreadConnection
{
    QString name;
    quint64 generation = 0;
    QHash<QString, QSqlQuery> prepared; // statement text -> query prepared on this connection

    ~SThreadConnection() { release(); }
    void release()
    {
        prepared.clear();
        if (!name.isEmpty() && name != QLatin1String(QSqlDatabase::defaultConnection))
            QSqlDatabase::removeDatabase(name);
        name.clear();
    }
};
thread_local SThreadConnection threadConnection;

QString devicesColumn(EDevicesColumn column)
{
    return DB::DbTableDevicesList.at(column);
}

QString dataColumn(EDevDataColumn column)
{
    return DB::DbTableDevDataList.at(column);
}

// Fills %1, %2, ... one after the other, as chained QString::arg calls do.
QString fill(QString statement, const QStringList& values)
{
    for (const QString& value : values)
        statement = statement.arg(value);
    return statement;
}

// Built on call: the DB constants are defined in another file, so namespace-scope lists here
// could be initialised before them.
QList<SDbIndexInfo> dbIndexDevicesList()
{
    return {
        {QStringLiteral("idx_eui"), {devicesColumn(DEVICES_DEV_EUI)}},
        {QStringLiteral("idx_device"), {devicesColumn(DEVICES_ID)}},
    };
}

QList<SDbIndexInfo> dbIndexDevdataList()
{
    return {
        {QStringLiteral("idx_dev_parent"), {dataColumn(DATA_DEVICE), dataColumn(DATA_PARENT)}},
        {QStringLiteral("idx_dev_regaddr"), {dataColumn(DATA_DEVICE), dataColumn(DATA_REG_ADDR)}},
        {QStringLiteral("idx_port_regaddr"), {dataColumn(DATA_PORT), dataColumn(DATA_REG_ADDR)}},
    };
}

void logQuery(const QString& message, const QSqlQuery& query)
{
    addLog(message);
    addLog(query.lastQuery());
}

// Number of 16-bit registers a value of bitSize bits covers.
int registerSpan(int bitSize)
{
    return static_cast<int>(std::ceil(bitSize * 0.0625));
}

bool openConnection(const QString& name, const QString& fileName, QString& errorText)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(SQL_DRIVER, name);
        db.setDatabaseName(fileName);
        ok = db.open();
        if (ok) // safe with WAL: a power cut loses at most the last commits, never consistency
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL;"));
        else
            errorText = db.lastError().text();
    }
    if (!ok)
        QSqlDatabase::removeDatabase(name);
    return ok;
}

void createTable(QSqlDatabase& db, const QString& statement, const QString& table)
{
    QSqlQuery query(db);
    if (!query.exec(statement)) {
        const QString message = QStringLiteral("ERROR! Table \"%1\" is not created!").arg(table);
        qDebug().noquote() << message;
        addLog(message);
    }
}

bool createIndexes(QSqlDatabase& db, const QList<SDbIndexInfo>& indexes, const QString& table)
{
    const QString method = QStringLiteral("operator()");
    if (indexes.isEmpty()) {
        addLog(QStringLiteral("WARNING: [%1-%2] Empty input index list for <%3>")
                   .arg(method, QString::number(161), table),
            CLogFile::LOG_TYPE_CRITICAL);
        return false;
    }
    for (const SDbIndexInfo& index : indexes) {
        QString statement
            = QStringLiteral("CREATE INDEX IF NOT EXISTS %2 ON %1 (").arg(table, index.name);
        for (const QString& column : index.columns)
            statement += QStringLiteral(" %1,").arg(column);
        statement.chop(1);
        statement += QStringLiteral(" );");
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            addLog(QStringLiteral("ERROR [%1-%2]: invalid sql request 3 for <%3.%4>!")
                       .arg(method, QString::number(185), table, index.name),
                CLogFile::LOG_TYPE_CRITICAL);
            addLog(statement, CLogFile::LOG_TYPE_CRITICAL);
            return false;
        }
    }
    return true;
}

void setWalMode(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL;")) || !query.next()
        || query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        addLog(QStringLiteral("WARNING: [CDataBaseHandler::init] WAL journal mode is not set!"));
    }
}

bool commitTransaction(QSqlDatabase& db, const QString& method)
{
    if (db.commit())
        return true;
    addLog(
        QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not committed!").arg(method));
    return false;
}

bool beginTransaction(QSqlDatabase& db, const QString& method)
{
    if (db.transaction())
        return true;
    addLog(QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not started!").arg(method));
    return false;
}

// Reads the dev_data rows the mirror keeps, of one device or (for a null device) of all.
bool readMirrorRows(QSqlDatabase& db, const QVariant& device, QList<CRegisterMirror::SRow>& rows)
{
    const QString condition = device.isNull() ? QString() : QStringLiteral(" WHERE %2=:%2");
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT rowid, %2, %3, %4, %5, %6, %7, %8, %9 FROM %1")
            + condition + QStringLiteral(" ORDER BY rowid;"),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PORT),
            dataColumn(DATA_REG_ADDR), dataColumn(DATA_START_VALUE),
            dataColumn(DATA_GRATING_PERIOD), dataColumn(DATA_BIT_SIZE), dataColumn(DATA_FULL_VALUE),
            dataColumn(DATA_UNIT)}));
    if (!device.isNull())
        query.bindValue(QLatin1Char(':') + dataColumn(DATA_DEVICE), device);
    if (!query.exec()) {
        logQuery(
            QStringLiteral("ERROR: [CDataBaseHandler::readMirrorRows] Invalid SQL request [1]"),
            query);
        return false;
    }
    while (query.next()) {
        CRegisterMirror::SRow row;
        row.hasRegAddr = !query.value(3).isNull(); // a NULL address equals no requested address
        row.rowId = query.value(0).toLongLong();
        row.device = query.value(1).toInt();
        row.hasPort = !query.value(2).isNull();
        row.port = query.value(2).toLongLong();
        row.regAddr = query.value(3).toLongLong();
        row.startValue = query.value(4).toDouble();
        row.gratingPeriod = query.value(5).toDouble();
        row.bitSize = query.value(6).toInt();
        row.fullValue = QByteArray::fromHex(query.value(7).toString().toLatin1());
        row.unit = query.value(8).toString();
        rows.append(row);
    }
    return true;
}

// The register-usage set of a port: every 16-bit address covered by a row on the port.
QSet<quint16> getRegistersUsing(QSqlDatabase& db, int port)
{
    QSet<quint16> used;
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT * FROM %1 WHERE %2=:%2;"),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_PORT)}));
    query.bindValue(QLatin1Char(':') + dataColumn(DATA_PORT), port);
    if (!query.exec()) {
        logQuery(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL request [1]"),
            query);
        return used;
    }
    while (query.next()) {
        const int span = registerSpan(query.value(DATA_BIT_SIZE).toInt());
        const uint regAddr = query.value(DATA_REG_ADDR).toUInt();
        for (int k = 0; k < span; ++k)
            used.insert(static_cast<quint16>(regAddr + k));
    }
    return used;
}

bool refuseDuplicate(QSqlDatabase& db, const QString& devEui, QString& errorText)
{
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2=:%2;"),
        {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_DEV_EUI)}));
    query.bindValue(QLatin1Char(':') + devicesColumn(DEVICES_DEV_EUI), devEui);
    if (!query.exec() || !query.next()) {
        addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [1]"));
        return true;
    }
    if (query.value(0).toInt() == 0)
        return false;
    addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] already exist!")
               .arg(devEui));
    errorText = QStringLiteral("устройство %1 уже зарегистрировано").arg(devEui);
    return true;
}

// Refuses a device that would use a register another device on its port already uses.
bool refuseOverlap(
    const QSet<quint16>& used, const DB::SDeviceRegMapDescription& device, QString& errorText)
{
    for (const REGS::SRegisterInfo& entry : device.registers) {
        const qint64 first = qint64(device.startAddr) + entry.regOffset;
        const int span = registerSpan(entry.bitSize);
        for (qint64 address = first; address < first + span; ++address) {
            if (!used.contains(static_cast<quint16>(address)))
                continue;
            addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Register [%1] is "
                                  "already used! Port %2")
                       .arg(address)
                       .arg(device.port));
            errorText = QStringLiteral("регистр %1 на порту %2 уже используется другим устройством")
                            .arg(address)
                            .arg(device.port);
            return true;
        }
    }
    return false;
}

bool insertDeviceRow(QSqlDatabase& db, const DB::SDeviceRegMapDescription& device)
{
    const QStringList columns = {devicesColumn(DEVICES_NAME), devicesColumn(DEVICES_APP_EUI),
        devicesColumn(DEVICES_DEV_EUI), devicesColumn(DEVICES_PORT),
        devicesColumn(DEVICES_START_ADDR)};
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) VALUES (:%2, :%3, :%4, "
                                      ":%5, :%6);"),
        QStringList(DB::DB_TABLE_DEVICES) + columns));
    const QVariantList values
        = {device.name, device.appEui, device.devEui, device.port, device.startAddr};
    for (int i = 0; i < columns.size(); ++i)
        query.bindValue(QLatin1Char(':') + columns.at(i), values.at(i));
    if (query.exec())
        return true;
    addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [2]"));
    return false;
}

// The id of the device with this DevEUI; the messages name the method whose step this is.
bool findDeviceId(QSqlDatabase& db, const QString& devEui, int& id)
{
    id = 0;
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT %2 FROM %1 WHERE %3=:%3;"),
        {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI)}));
    query.bindValue(QLatin1Char(':') + devicesColumn(DEVICES_DEV_EUI), devEui);
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [3]"));
        return false;
    }
    if (!query.next()) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not "
                              "created!")
                   .arg(devEui));
        return false;
    }
    id = query.value(0).toInt();
    if (id != 0)
        return true;
    addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not created "
                          "[NULL ID]!")
               .arg(devEui));
    return false;
}

// Inserts the register rows; a second entry at an address already taken by this device is
// skipped with a warning.
bool insertRegisterRows(QSqlDatabase& db, const DB::SDeviceRegMapDescription& device, int id)
{
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9, %10, %11, "
                                      "%12) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? ) "),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PORT),
            dataColumn(DATA_REG_ADDR), dataColumn(DATA_START_VALUE),
            dataColumn(DATA_GRATING_PERIOD), dataColumn(DATA_BIT_SIZE), dataColumn(DATA_TYPE),
            dataColumn(DATA_NAME), dataColumn(DATA_PARENT), dataColumn(DATA_SOURCE),
            dataColumn(DATA_UNIT)}));
    QSet<qint64> stored;
    for (const REGS::SRegisterInfo& entry : device.registers) {
        const qint64 address = qint64(device.startAddr) + entry.regOffset;
        if (stored.contains(address)) {
            addLog(QStringLiteral("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x%1] "
                                  "for device [%2] already exist!")
                       .arg(address, 4, 16, QLatin1Char('0'))
                       .arg(device.devEui));
            continue;
        }
        const QVariantList values
            = {uint(id), device.port, address, entry.startValue, entry.gratingPeriod, entry.bitSize,
                entry.dataType, entry.name, 1, entry.source, entry.unit};
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        stored.insert(address);
        if (!query.exec()) {
            logQuery(
                QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]"),
                query);
            return false;
        }
    }
    return true;
}

bool storeDevice(QSqlDatabase& db, const DB::SDeviceRegMapDescription& device,
    const QSet<quint16>& used, QString& errorText, int& id)
{
    return !refuseOverlap(used, device, errorText) && insertDeviceRow(db, device)
        && findDeviceId(db, device.devEui, id) && insertRegisterRows(db, device, id);
}

bool deleteRows(
    QSqlDatabase& db, const QString& table, const QString& column, uint id, const QString& failure)
{
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("DELETE FROM %1 WHERE %2=:%2;"), {table, column}));
    query.bindValue(QLatin1Char(':') + column, id);
    if (query.exec())
        return true;
    addLog(failure);
    return false;
}

// The verdict on the device id found (or not) for an uplink's DevEUI.
bool acceptDataSetDevice(bool found, int id, const QString& devEui)
{
    if (!found) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [%1]")
                   .arg(devEui));
        return false;
    }
    if (id != 0)
        return true;
    addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Unknown DevEUI [ID=0] [%1]")
               .arg(devEui));
    return false;
}

bool findDataSetDevice(QSqlDatabase& db, const QString& devEui, int& id)
{
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT %2 FROM %1 WHERE %3=:%3;"),
        {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI)}));
    query.bindValue(QLatin1Char(':') + devicesColumn(DEVICES_DEV_EUI), devEui);
    if (!query.exec()) {
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request [1]"));
        return false;
    }
    const bool found = query.next();
    id = found ? query.value(0).toInt() : 0;
    return acceptDataSetDevice(found, id, devEui);
}

// A statement of the uplink path, prepared once per connection: parsing it anew for every
// uplink costs about as much as the update itself.
QSqlQuery& preparedQuery(QSqlDatabase& db, const QString& statement)
{
    auto query = threadConnection.prepared.find(statement);
    if (query == threadConnection.prepared.end()) {
        query = threadConnection.prepared.insert(statement, QSqlQuery(db));
        query->prepare(statement);
    }
    return *query;
}

bool writeRewrites(QSqlDatabase& db, const DB::SDbDeviceRegDataSet& regData, int id)
{
    const QStringList columns = {dataColumn(DATA_VALUE), dataColumn(DATA_FULL_VALUE),
        dataColumn(DATA_TIME), dataColumn(DATA_DEVICE), dataColumn(DATA_REG_ADDR)};
    QSqlQuery& query = preparedQuery(db,
        fill(QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE %5=:%5 AND "
                            "%6=:%6;"),
            QStringList(DB::DB_TABLE_DEVDATA) + columns));
    for (const DB::SDbDeviceRegDataRewrite& rewrite : regData.rewrites) {
        const qint64 regAddr = qint64(regData.startAddr) + rewrite.regOffset;
        const QVariant fullValue = rewrite.fullValue.isEmpty() ? QVariant(QVariant::String)
                                                               : QVariant(rewrite.fullValue);
        const QVariantList values
            = {rewrite.value, fullValue, QDateTime::currentMSecsSinceEpoch(), id, regAddr};
        for (int i = 0; i < columns.size(); ++i)
            query.bindValue(QLatin1Char(':') + columns.at(i), values.at(i));
        if (!query.exec()) {
            addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request "
                                  "[2]"));
            addLog(QStringLiteral("    Query [%1]").arg(query.lastQuery()));
            addLog(QStringLiteral("    Set: deviceId[%1], regAddr[%2]").arg(id).arg(regAddr));
            return false;
        }
    }
    return true;
}

bool updateScaling(QSqlDatabase& db, const DB::SDbDevRegParamInfo& info)
{
    const QStringList columns = {dataColumn(DATA_START_VALUE), dataColumn(DATA_GRATING_PERIOD),
        dataColumn(DATA_UNIT), dataColumn(DATA_DEVICE), dataColumn(DATA_REG_ADDR)};
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE %5=:%5 AND "
                                      "%6=:%6;"),
        QStringList(DB::DB_TABLE_DEVDATA) + columns));
    for (const DB::SDbDevRegParam& param : info.params) {
        const QVariantList values
            = {param.startValue, param.gratingPeriod, param.unit, info.id, param.regAddr};
        for (int i = 0; i < columns.size(); ++i)
            query.bindValue(QLatin1Char(':') + columns.at(i), values.at(i));
        if (!query.exec()) {
            logQuery(QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL request "
                                    "[1]"),
                query);
            return false;
        }
    }
    return true;
}

// A LIKE pattern meaning "contains filter": the filter's own %, _ and \ match themselves.
QString containsPattern(const QString& filter)
{
    QString escaped = filter;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

QString registerParamStatement()
{
    return fill(QStringLiteral("SELECT * FROM %1 WHERE %1.%3 IN ( SELECT %2.%4 FROM %2 WHERE "
                               "%2.%5=:%5 ) AND %1.%6=:%6;"),
        {DB::DB_TABLE_DEVDATA, DB::DB_TABLE_DEVICES, dataColumn(DATA_DEVICE),
            devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI), dataColumn(DATA_REG_ADDR)});
}

QString registerImageStatement(int port, qint64 first, qint64 last)
{
    return fill(QStringLiteral("SELECT * FROM %1 WHERE %2=%3 AND %4 BETWEEN %5 AND %6;"),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_PORT), QString::number(port),
            dataColumn(DATA_REG_ADDR), QString::number(first), QString::number(last)});
}
} // namespace

CDataBaseHandler* CDataBaseHandler::getInstance()
{
    QMutexLocker locker(&creationMutex);
    if (dbInvalidCreation) {
        dbInvalidCreation = false;
        instance = nullptr;
        return nullptr;
    }
    if (!instance)
        instance = new CDataBaseHandler();
    return instance;
}

bool CDataBaseHandler::init(const QString& fileName)
{
    QMutexLocker locker(&mutex);
    this->fileName = fileName;
    opened = false;
    mirrorLoaded = false;
    mirror.clear();
    ++connectionGeneration;

    const QString defaultName = QLatin1String(QSqlDatabase::defaultConnection);
    threadConnection.release();
    if (QSqlDatabase::contains(defaultName))
        QSqlDatabase::removeDatabase(defaultName);
    QString errorText;
    if (!openConnection(defaultName, fileName, errorText)) {
        return failInit(QStringLiteral("CRITICAL_ERROR! Data base hasn't been created/opened! "
                                       "Error_text[%1]. DataBaseHandler is not running!")
                            .arg(errorText));
    }
    threadConnection.name = defaultName;
    threadConnection.generation = connectionGeneration;
    opened = true;
    QSqlDatabase db = QSqlDatabase::database(defaultName, false);

    const QString badColumns = QStringLiteral(
        "ERROR! Invalid size of colums in table \"%1\"! DataBaseHandler is not running!");
    if (DB::DbTableDevicesList.size() != DEVICES_COLUMN_COUNT)
        return failInit(badColumns.arg(DB::DB_TABLE_DEVICES));
    createTable(db,
        fill(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2 INTEGER PRIMARY KEY "
                            "AUTOINCREMENT NOT NULL UNIQUE, %3 TEXT, %4 TEXT, %5 TEXT, %6 "
                            "INTEGER, %7 INTEGER ); "),
            QStringList(DB::DB_TABLE_DEVICES) + DB::DbTableDevicesList),
        DB::DB_TABLE_DEVICES);
    if (DB::DbTableDevDataList.size() != DEVDATA_COLUMN_COUNT)
        return failInit(badColumns.arg(DB::DB_TABLE_DEVDATA));
    createTable(db,
        fill(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2 INTEGER NOT NULL, %3 "
                            "INTEGER, %4 INTEGER, %5 INTEGER, %6 REAL, %7 REAL, %8 TEXT, "
                            "%9 TEXT DEFAULT NULL, %10 TEXT DEFAULT NULL, %11 INTEGER "
                            "DEFAULT NULL, %12 TEXT DEFAULT NULL, %13 TEXT DEFAULT NULL, "
                            "%14 INTEGER, %15 INTEGER ); "),
            QStringList(DB::DB_TABLE_DEVDATA) + DB::DbTableDevDataList),
        DB::DB_TABLE_DEVDATA);
    if (!createIndexes(db, dbIndexDevicesList(), DB::DB_TABLE_DEVICES)
        || !createIndexes(db, dbIndexDevdataList(), DB::DB_TABLE_DEVDATA)) {
        return false;
    }
    setWalMode(db);
    mirrorLoaded = loadMirror(db);

    qDebug().noquote() << "DB has been initialized, file:" << fileName;
    return true;
}

// An init that cannot go on: the instance goes away and getInstance() reports that once.
bool CDataBaseHandler::failInit(const QString& message)
{
    qDebug().noquote() << message;
    addLog(message);
    opened = false;
    deleteLater();
    QMutexLocker locker(&creationMutex);
    dbInvalidCreation = true;
    return false;
}

bool CDataBaseHandler::loadMirror(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(fill(QStringLiteral("SELECT %2, %3 FROM %1 ORDER BY %2;"),
            {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI)}))) {
        logQuery(QStringLiteral("ERROR: [CDataBaseHandler::init] Invalid SQL request [1]"), query);
        return false;
    }
    while (query.next()) {
        if (!query.value(1).isNull())
            mirror.addDevice(query.value(1).toString(), query.value(0).toInt());
    }
    QList<CRegisterMirror::SRow> rows;
    if (!readMirrorRows(db, QVariant(), rows))
        return false;
    for (const CRegisterMirror::SRow& row : rows)
        mirror.addRow(row);
    return true;
}

// The register-usage set of a port, from the mirror when it holds every row that counts.
QSet<quint16> CDataBaseHandler::registersUsing(QSqlDatabase& db, int port)
{
    if (mirrorLoaded && mirror.knowsEveryUsage())
        return mirror.registersUsing(port);
    return getRegistersUsing(db, port);
}

// The device an uplink's rows belong to; the mirror spares a query per uplink.
bool CDataBaseHandler::dataSetDevice(QSqlDatabase& db, const QString& devEui, int& id)
{
    if (!mirrorLoaded)
        return findDataSetDevice(db, devEui, id);
    const bool found = mirror.firstDeviceId(devEui, id);
    return acceptDataSetDevice(found, id, devEui);
}

// The calling thread's own connection to the database file, opened on first use.
QSqlDatabase CDataBaseHandler::connection()
{
    if (!opened)
        return QSqlDatabase();
    const quint64 generation = connectionGeneration;
    if (threadConnection.name.isEmpty() || threadConnection.generation != generation) {
        threadConnection.release();
        const QString name = CONNECTION_NAME.arg(++connectionCounter);
        QString errorText;
        if (!openConnection(name, fileName, errorText)) {
            addLog(QStringLiteral("ERROR: [CDataBaseHandler] Data base connection is not opened! "
                                  "Error_text[%1]")
                       .arg(errorText));
            return QSqlDatabase();
        }
        threadConnection.name = name;
        threadConnection.generation = generation;
    }
    return QSqlDatabase::database(threadConnection.name, false);
}

bool CDataBaseHandler::registerNewDevice(
    const DB::SDeviceRegMapDescription& device, QString& errorText)
{
    const QString method = QStringLiteral("registerNewDevice");
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    if (!beginTransaction(db, method))
        return false;
    int id = 0;
    QList<CRegisterMirror::SRow> rows;
    if (refuseDuplicate(db, device.devEui, errorText)
        || !storeDevice(db, device, registersUsing(db, device.port), errorText, id)
        || !readMirrorRows(db, id, rows) || !commitTransaction(db, method)) {
        db.rollback();
        return false;
    }
    mirror.addDevice(device.devEui, id);
    for (const CRegisterMirror::SRow& row : rows)
        mirror.addRow(row);
    return true;
}

bool CDataBaseHandler::deleteDevice(uint id)
{
    const QString method = QStringLiteral("deleteDevice");
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    if (!beginTransaction(db, method))
        return false;
    if (!deleteRows(db, DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), id,
            QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [1]"))
        || !deleteRows(db, DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), id,
            QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [2]"))
        || !commitTransaction(db, method)) {
        db.rollback();
        return false;
    }
    mirror.removeDevice(static_cast<int>(id));
    return true;
}

bool CDataBaseHandler::getDeviceId(const QString& devEui, uint& id)
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    int found = 0;
    const bool ok = findDeviceId(db, devEui, found);
    id = static_cast<uint>(found);
    return ok;
}

QList<DB::SDeviceRegMapDescription> CDataBaseHandler::getDevices(const QString& filter)
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    const QString name = devicesColumn(DEVICES_NAME);
    const QString clause = filter.isEmpty()
        ? QString()
        : QStringLiteral("WHERE %1 LIKE :filter ESCAPE '\\'").arg(name);
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT * FROM %1 %2 ORDER BY %3 ASC;"),
        {DB::DB_TABLE_DEVICES, clause, name}));
    if (!filter.isEmpty())
        query.bindValue(QStringLiteral(":filter"), containsPattern(filter));
    QList<DB::SDeviceRegMapDescription> devices;
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::getDevices] Invalid SQL request [1]"));
        return devices;
    }
    while (query.next()) {
        DB::SDeviceRegMapDescription device;
        device.devEui = query.value(DEVICES_DEV_EUI).toString();
        device.appEui = query.value(DEVICES_APP_EUI).toString();
        device.name = query.value(DEVICES_NAME).toString();
        device.startAddr = query.value(DEVICES_START_ADDR).toInt();
        device.port = query.value(DEVICES_PORT).toInt();
        device.id = query.value(DEVICES_ID).toInt();
        devices.append(device);
    }
    return devices;
}

QStringList CDataBaseHandler::getRegisteredDevices()
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    QSqlQuery query(db);
    QStringList devEuis;
    if (!query.exec(fill(QStringLiteral("SELECT %2 FROM %1;"),
            {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_DEV_EUI)}))) {
        addLog(QStringLiteral("[CDataBaseHandler::getRegisteredDevices] Invalid SQL request [1]"));
        return devEuis;
    }
    while (query.next())
        devEuis.append(query.value(0).toString().toUpper());
    return devEuis;
}

int CDataBaseHandler::getLastFreeRegisterForPort(int port)
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    const QSet<quint16> used = registersUsing(db, port);
    if (used.isEmpty())
        return 0;
    return *std::max_element(used.cbegin(), used.cend()) + 1;
}

DB::SDbDevRegParam CDataBaseHandler::getRegisterParam(const QString& devEui, uint regAddr)
{
    DB::SDbDevRegParam param;
    QMutexLocker locker(&mutex);
    if (!mirrorLoaded) {
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Invalid SQL request [1]"));
        addLog(registerParamStatement());
        return param;
    }
    const CRegisterMirror::SRow* row = mirror.findRow(devEui, regAddr);
    if (!row) {
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Register is not exist!"));
        addLog(registerParamStatement());
        return param;
    }
    param.gratingPeriod = row->gratingPeriod;
    param.startValue = row->startValue;
    param.unit = row->unit;
    param.regAddr = regAddr;
    return param;
}

QList<DB::SDbDevRegDataInfo> CDataBaseHandler::getRegistersData(uint id)
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    QSqlQuery query(db);
    query.prepare(fill(QStringLiteral("SELECT * FROM %1 WHERE %2=:%2 AND %3=1 ORDER BY %4 ASC;"),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PARENT),
            dataColumn(DATA_REG_ADDR)}));
    query.bindValue(QLatin1Char(':') + dataColumn(DATA_DEVICE), id);
    QList<DB::SDbDevRegDataInfo> registers;
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::getRegisters] Invalid SQL request [1]"));
        return registers;
    }
    while (query.next()) {
        DB::SDbDevRegDataInfo info;
        info.regAddr = query.value(DATA_REG_ADDR).toInt();
        info.startValue = query.value(DATA_START_VALUE).toInt();
        info.gratingPeriod = query.value(DATA_GRATING_PERIOD).toDouble();
        info.bitSize = query.value(DATA_BIT_SIZE).toInt();
        info.dataType = query.value(DATA_TYPE).toString();
        info.value = regValueToString(info.dataType, query.value(DATA_FULL_VALUE), info.bitSize);
        info.time = query.value(DATA_TIME).toULongLong();
        info.name = query.value(DATA_NAME).toString();
        info.unit = query.value(DATA_UNIT).toString();
        info.source = query.value(DATA_SOURCE).toInt();
        registers.append(info);
    }
    return registers;
}

void CDataBaseHandler::updateRegInfo(DB::SDbDevRegParamInfo info)
{
    const QString method = QStringLiteral("updateRegInfo");
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    if (!beginTransaction(db, method))
        return;
    QList<CRegisterMirror::SRow> rows;
    if (!updateScaling(db, info) || !readMirrorRows(db, info.id, rows)
        || !commitTransaction(db, method)) {
        db.rollback();
        return;
    }
    mirror.removeDeviceRows(static_cast<int>(info.id));
    for (const CRegisterMirror::SRow& row : rows)
        mirror.addRow(row);
}

QMap<quint16, quint16> CDataBaseHandler::getRegisterData(
    const int& port, const int& first, const int& count)
{
    const QVector<quint16> words = getRegisterWords(port, first, count);
    // Keys ascend until the range wraps past 65535, so most inserts go straight to the end.
    QMap<quint16, quint16> image;
    for (int i = 0; i < words.size(); ++i)
        image.insert(image.constEnd(), static_cast<quint16>(first + i), words.at(i));
    return image;
}

QVector<quint16> CDataBaseHandler::getRegisterWords(int port, int first, int count)
{
    if (count <= 0)
        return {};
    QMutexLocker locker(&mutex);
    if (!mirrorLoaded) {
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL request [1]"));
        addLog(registerImageStatement(port, first, qint64(first) + count - 1));
        return {};
    }
    return mirror.registerWords(port, first, count);
}

// Runs in the database thread; the decoder waits for it, so one uplink is stored whole before
// the next is decoded and a Modbus read never sees half of it.
void CDataBaseHandler::saveRegisterData(DB::SDbDeviceRegDataSet regData)
{
    if (regData.rewrites.isEmpty() && regData.modifs.isEmpty()) {
        addLog(QStringLiteral("INFO: [CDataBaseHandler::saveRegisterData] Empty input data"));
        return;
    }
    const QString method = QStringLiteral("saveRegisterData");
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connection();
    if (!beginTransaction(db, method))
        return;
    int id = 0;
    if (!dataSetDevice(db, regData.devEui, id) || !writeRewrites(db, regData, id)
        || !commitTransaction(db, method)) {
        db.rollback();
        return;
    }
    for (const DB::SDbDeviceRegDataRewrite& rewrite : regData.rewrites) {
        const qint64 regAddr = qint64(regData.startAddr) + rewrite.regOffset;
        mirror.setFullValue(id, regAddr, QByteArray::fromHex(rewrite.fullValue.toLatin1()));
    }
}
