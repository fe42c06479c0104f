#include "cdatabasehandler.h"

#include "cdbtransaction.h"
#include "clogfile.h"
#include "dbcolumns.h"
#include "dbschema.h"
#include "dbtexts.h"
#include "registeroverlap.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>

namespace {
CDataBaseHandler* instance = nullptr;
bool dbInvalidCreation = false;
QMutex creationMutex;

enum class ELookup {
    FAILED,
    NO_ROW,
    FOUND,
};

void logQuery(const QString& message, const QSqlQuery& query)
{
    addLog(message);
    addLog(query.lastQuery());
}

// Binds values to the placeholders :column of a statement, in the order of columns.
void bindColumns(QSqlQuery& query, const QStringList& columns, const QVariantList& values)
{
    for (int i = 0; i < columns.size(); ++i)
        query.bindValue(QLatin1Char(':') + columns.at(i), values.at(i));
}

void setWalMode(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL;")) || !query.next()
        || query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        addLog(DbTexts::WAL_NOT_SET);
    }
}

// The id "SELECT device FROM devices WHERE dev_eui = ?" returns first. Registration and the
// uplink path run this lookup; each logs its own texts for the outcome.
ELookup selectDeviceId(QSqlDatabase& db, const QString& devEui, int& id)
{
    id = 0;
    QSqlQuery query(db);
    query.prepare(fillStatement(QStringLiteral("SELECT %2 FROM %1 WHERE %3=:%3;"),
        {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), devicesColumn(DEVICES_DEV_EUI)}));
    query.bindValue(QLatin1Char(':') + devicesColumn(DEVICES_DEV_EUI), devEui);
    if (!query.exec())
        return ELookup::FAILED;
    if (!query.next())
        return ELookup::NO_ROW;
    id = query.value(0).toInt();
    return ELookup::FOUND;
}

// The device-id lookup from the mirror when it holds the devices, from the file otherwise. A
// closed database answers as the file would: with a failed query.
ELookup lookUpDeviceId(
    const CMirrorKeeper& registers, QSqlDatabase& db, const QString& devEui, int& id)
{
    if (!registers.isLoaded() || !db.isOpen())
        return selectDeviceId(db, devEui, id);
    return registers.firstDeviceId(devEui, id) ? ELookup::FOUND : ELookup::NO_ROW;
}

// What a caller of the device-id lookup logs for each failing outcome.
struct SLookupTexts
{
    const QString& failed;
    const QString& noRow;
    const QString& nullId;
};

bool acceptDeviceId(ELookup lookup, int id, const QString& devEui, const SLookupTexts& texts)
{
    switch (lookup) {
    case ELookup::FAILED:
        addLog(texts.failed);
        return false;
    case ELookup::NO_ROW:
        addLog(texts.noRow.arg(devEui));
        return false;
    case ELookup::FOUND:
        break;
    }
    if (id != 0)
        return true;
    addLog(texts.nullId.arg(devEui));
    return false;
}

const SLookupTexts REGISTRATION_LOOKUP_TEXTS {
    DbTexts::REGISTER_SQL_3, DbTexts::DEVICE_NOT_CREATED, DbTexts::DEVICE_NULL_ID};

// The id of the device just registered, with the registration's texts.
bool findDeviceId(QSqlDatabase& db, const QString& devEui, int& id)
{
    const ELookup lookup = selectDeviceId(db, devEui, id);
    return acceptDeviceId(lookup, id, devEui, REGISTRATION_LOOKUP_TEXTS);
}

bool refuseDuplicate(QSqlDatabase& db, const QString& devEui, QString& errorText)
{
    QSqlQuery query(db);
    query.prepare(fillStatement(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2=:%2;"),
        {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_DEV_EUI)}));
    query.bindValue(QLatin1Char(':') + devicesColumn(DEVICES_DEV_EUI), devEui);
    if (!query.exec() || !query.next()) {
        addLog(DbTexts::REGISTER_SQL_1);
        return true;
    }
    if (query.value(0).toInt() == 0)
        return false;
    addLog(DbTexts::DEVICE_EXISTS.arg(devEui));
    errorText = DbTexts::DEVICE_EXISTS_FOR_USER.arg(devEui);
    return true;
}

// Refuses a device that would use a register another device on its port already uses.
bool refuseOverlap(
    const QSet<quint16>& used, const DB::SDeviceRegMapDescription& device, QString& errorText)
{
    const std::optional<qint64> address = firstUsedRegister(used, device);
    if (!address)
        return false;
    addLog(DbTexts::REGISTER_USED.arg(*address).arg(device.port));
    errorText = DbTexts::REGISTER_USED_FOR_USER.arg(*address).arg(device.port);
    return true;
}

bool insertDeviceRow(QSqlDatabase& db, const DB::SDeviceRegMapDescription& device)
{
    const QStringList columns = {devicesColumn(DEVICES_NAME), devicesColumn(DEVICES_APP_EUI),
        devicesColumn(DEVICES_DEV_EUI), devicesColumn(DEVICES_PORT),
        devicesColumn(DEVICES_START_ADDR)};
    QSqlQuery query(db);
    query.prepare(
        fillStatement(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) VALUES (:%2, :%3, :%4, "
                                     ":%5, :%6);"),
            QStringList(DB::DB_TABLE_DEVICES) + columns));
    bindColumns(
        query, columns, {device.name, device.appEui, device.devEui, device.port, device.startAddr});
    if (query.exec())
        return true;
    addLog(DbTexts::REGISTER_SQL_2);
    return false;
}

// Inserts the register rows; a second entry at an address already taken by this device is
// skipped with a warning.
bool insertRegisterRows(QSqlDatabase& db, const DB::SDeviceRegMapDescription& device, int id)
{
    QSqlQuery query(db);
    query.prepare(fillStatement(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9, "
                                               "%10, %11, %12) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, "
                                               "?, ?, ? ) "),
        {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PORT),
            dataColumn(DATA_REG_ADDR), dataColumn(DATA_START_VALUE),
            dataColumn(DATA_GRATING_PERIOD), dataColumn(DATA_BIT_SIZE), dataColumn(DATA_TYPE),
            dataColumn(DATA_NAME), dataColumn(DATA_PARENT), dataColumn(DATA_SOURCE),
            dataColumn(DATA_UNIT)}));
    QSet<qint64> stored;
    for (const REGS::SRegisterInfo& entry : device.registers) {
        const qint64 address = qint64(device.startAddr) + entry.regOffset;
        if (stored.contains(address)) {
            addLog(
                DbTexts::REGISTER_TWICE.arg(address, 4, 16, QLatin1Char('0')).arg(device.devEui));
            continue;
        }
        const QVariantList values
            = {uint(id), device.port, address, entry.startValue, entry.gratingPeriod, entry.bitSize,
                entry.dataType, entry.name, 1, entry.source, entry.unit};
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        stored.insert(address);
        if (!query.exec()) {
            logQuery(DbTexts::REGISTER_SQL_4, query);
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
    query.prepare(fillStatement(QStringLiteral("DELETE FROM %1 WHERE %2=:%2;"), {table, column}));
    query.bindValue(QLatin1Char(':') + column, id);
    if (query.exec())
        return true;
    addLog(failure);
    return false;
}

const QStringList& rewriteColumns()
{
    static const QStringList columns = {dataColumn(DATA_VALUE), dataColumn(DATA_FULL_VALUE),
        dataColumn(DATA_TIME), dataColumn(DATA_DEVICE), dataColumn(DATA_REG_ADDR)};
    return columns;
}

QString rewriteStatement()
{
    return fillStatement(QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE %5=:%5 AND "
                                        "%6=:%6;"),
        QStringList(DB::DB_TABLE_DEVDATA) + rewriteColumns());
}

bool writeRewrites(QSqlQuery& query, const DB::SDbDeviceRegDataSet& regData, int id)
{
    for (const DB::SDbDeviceRegDataRewrite& rewrite : regData.rewrites) {
        const qint64 regAddr = qint64(regData.startAddr) + rewrite.regOffset;
        const QVariant fullValue = rewrite.fullValue.isEmpty() ? QVariant(QVariant::String)
                                                               : QVariant(rewrite.fullValue);
        bindColumns(query, rewriteColumns(),
            {rewrite.value, fullValue, QDateTime::currentMSecsSinceEpoch(), id, regAddr});
        if (!query.exec()) {
            addLog(DbTexts::SAVE_SQL_2);
            addLog(DbTexts::SAVE_QUERY.arg(query.lastQuery()));
            addLog(DbTexts::SAVE_SET.arg(id).arg(regAddr));
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
    query.prepare(fillStatement(QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE "
                                               "%5=:%5 AND %6=:%6;"),
        QStringList(DB::DB_TABLE_DEVDATA) + columns));
    for (const DB::SDbDevRegParam& param : info.params) {
        bindColumns(query, columns,
            {param.startValue, param.gratingPeriod, param.unit, info.id, param.regAddr});
        if (!query.exec()) {
            logQuery(DbTexts::UPDATE_INFO_SQL_1, query);
            return false;
        }
    }
    return true;
}

const QString& registersDataStatement()
{
    static const QString statement
        = fillStatement(QStringLiteral("SELECT * FROM %1 WHERE %2=:%2 AND %3=1 ORDER BY %4 ASC;"),
            {DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), dataColumn(DATA_PARENT),
                dataColumn(DATA_REG_ADDR)});
    return statement;
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
    const auto forget = qScopeGuard([this] { forgetRegistersData(); });
    QMutexLocker image(&imageMutex);
    registers.clear();
    QString errorText;
    if (!connections.open(fileName, errorText))
        return failInit(DbTexts::OPEN_FAILED.arg(errorText));
    if (DB::DbTableDevicesList.size() != DEVICES_COLUMN_COUNT)
        return failInit(DbTexts::BAD_COLUMN_COUNT.arg(DB::DB_TABLE_DEVICES));
    if (DB::DbTableDevDataList.size() != DATA_COLUMN_COUNT)
        return failInit(DbTexts::BAD_COLUMN_COUNT.arg(DB::DB_TABLE_DEVDATA));
    QSqlDatabase db = connections.connection();
    const QString problem = fileProblem(db);
    if (!problem.isEmpty())
        return failInit(DbTexts::FILE_REFUSED.arg(fileName, problem));
    QString indexProblem;
    if (!createSchema(db, indexProblem)) {
        qDebug().noquote() << DbTexts::FILE_REFUSED.arg(fileName, indexProblem);
        return false;
    }
    setWalMode(db);
    registers.load(db);
    image.unlock();

    qDebug().noquote() << DbTexts::DB_INITIALIZED << fileName;
    return true;
}

// An init that cannot go on: the instance goes away and getInstance() reports that once.
bool CDataBaseHandler::failInit(const QString& message)
{
    qDebug().noquote() << message;
    addLog(message);
    connections.close();
    deleteLater();
    QMutexLocker locker(&creationMutex);
    dbInvalidCreation = true;
    return false;
}

// The register-usage set of a port. The mirror holds every row that counts; when the rows could
// not be read at start-up the set is empty, as for a failed query.
QSet<quint16> CDataBaseHandler::registersUsing(int port)
{
    if (registers.isLoaded())
        return registers.registersUsing(port);
    addLog(DbTexts::REGISTER_DATA_SQL_1);
    addLog(DbTexts::REGISTER_USAGE_STATEMENT);
    return {};
}

// The device an uplink's rows belong to, with the uplink path's texts; the mirror spares a query
// per uplink.
bool CDataBaseHandler::dataSetDevice(QSqlDatabase& db, const QString& devEui, int& id)
{
    const ELookup lookup = lookUpDeviceId(registers, db, devEui, id);
    return acceptDeviceId(lookup, id, devEui,
        {DbTexts::SAVE_SQL_1, DbTexts::UNKNOWN_DEV_EUI, DbTexts::UNKNOWN_DEV_EUI_ID_0});
}

bool CDataBaseHandler::registerNewDevice(
    const DB::SDeviceRegMapDescription& device, QString& errorText)
{
    QMutexLocker locker(&mutex);
    const auto forget = qScopeGuard([this] { forgetRegistersData(); });
    QSqlDatabase db = connections.connection();
    CDbTransaction transaction(db, QStringLiteral("registerNewDevice"), ESynchronous::FULL);
    if (!transaction.isStarted())
        return false;
    int id = 0;
    CMirrorKeeper::Rows rows;
    if (refuseDuplicate(db, device.devEui, errorText)
        || !storeDevice(db, device, registersUsing(device.port), errorText, id)
        || !CMirrorKeeper::readDeviceRows(db, id, rows) || !transaction.commit()) {
        return false;
    }
    QMutexLocker image(&imageMutex);
    registers.addDevice(device.devEui, id, rows);
    return true;
}

bool CDataBaseHandler::deleteDevice(uint id)
{
    QMutexLocker locker(&mutex);
    const auto forget = qScopeGuard([this] { forgetRegistersData(); });
    QSqlDatabase db = connections.connection();
    CDbTransaction transaction(db, QStringLiteral("deleteDevice"), ESynchronous::FULL);
    if (!transaction.isStarted())
        return false;
    if (!deleteRows(db, DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_ID), id, DbTexts::DELETE_SQL_1)
        || !deleteRows(db, DB::DB_TABLE_DEVDATA, dataColumn(DATA_DEVICE), id, DbTexts::DELETE_SQL_2)
        || !transaction.commit()) {
        return false;
    }
    QMutexLocker image(&imageMutex);
    registers.removeDevice(static_cast<int>(id));
    return true;
}

bool CDataBaseHandler::getDeviceId(const QString& devEui, uint& id)
{
    {
        // The web page looks its device up on every poll; a device the image knows is found
        // without waiting for a write to end.
        QMutexLocker image(&imageMutex);
        int found = 0;
        if (registers.isLoaded() && registers.firstDeviceId(devEui, found)) {
            id = static_cast<uint>(found);
            return true;
        }
    }
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connections.connection();
    int found = 0;
    const ELookup lookup = lookUpDeviceId(registers, db, devEui, found);
    const bool ok = acceptDeviceId(lookup, found, devEui, REGISTRATION_LOOKUP_TEXTS);
    id = static_cast<uint>(found);
    return ok;
}

QList<DB::SDeviceRegMapDescription> CDataBaseHandler::getDevices(const QString& filter)
{
    QMutexLocker locker(&mutex);
    QSqlDatabase db = connections.connection();
    const QString name = devicesColumn(DEVICES_NAME);
    const QString clause = filter.isEmpty()
        ? QString()
        : QStringLiteral("WHERE %1 LIKE :filter ESCAPE '\\'").arg(name);
    QSqlQuery query(db);
    query.prepare(fillStatement(QStringLiteral("SELECT * FROM %1 %2 ORDER BY %3 ASC;"),
        {DB::DB_TABLE_DEVICES, clause, name}));
    if (!filter.isEmpty())
        query.bindValue(QStringLiteral(":filter"), containsPattern(filter));
    QList<DB::SDeviceRegMapDescription> devices;
    if (!query.exec()) {
        addLog(DbTexts::DEVICES_SQL_1);
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
    QSqlDatabase db = connections.connection();
    QSqlQuery query(db);
    QStringList devEuis;
    if (!query.exec(fillStatement(QStringLiteral("SELECT %2 FROM %1;"),
            {DB::DB_TABLE_DEVICES, devicesColumn(DEVICES_DEV_EUI)}))) {
        addLog(DbTexts::REGISTERED_DEVICES_SQL_1);
        return devEuis;
    }
    while (query.next())
        devEuis.append(query.value(0).toString().toUpper());
    return devEuis;
}

int CDataBaseHandler::getLastFreeRegisterForPort(int port)
{
    QMutexLocker locker(&mutex);
    const QSet<quint16> used = registersUsing(port);
    if (used.isEmpty())
        return 0;
    return *std::max_element(used.cbegin(), used.cend()) + 1;
}

DB::SDbDevRegParam CDataBaseHandler::getRegisterParam(const QString& devEui, uint regAddr)
{
    DB::SDbDevRegParam param;
    QMutexLocker locker(&mutex);
    if (!registers.isLoaded()) {
        addLog(DbTexts::PARAM_SQL_1);
        addLog(DbTexts::REGISTER_PARAM_STATEMENT);
        return param;
    }
    const CRegisterMirror::SRow* row = registers.findRow(devEui, regAddr);
    if (!row) {
        addLog(DbTexts::PARAM_MISSING);
        addLog(DbTexts::REGISTER_PARAM_STATEMENT);
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
    {
        QMutexLocker cacheLocker(&cacheMutex);
        const auto cached = registersDataCache.constFind(id);
        if (cached != registersDataCache.constEnd())
            return *cached;
    }
    QMutexLocker locker(&mutex);
    QList<DB::SDbDevRegDataInfo> registerRows;
    if (readRegistersData(id, registerRows)) {
        // No write can have come in between: they all hold the database mutex.
        QMutexLocker cacheLocker(&cacheMutex);
        registersDataCache.insert(id, registerRows);
    }
    return registerRows;
}

// The rows that getRegistersData answers, read from the file; called with the mutex held.
bool CDataBaseHandler::readRegistersData(uint id, QList<DB::SDbDevRegDataInfo>& registerRows)
{
    QSqlDatabase db = connections.connection();
    // The web page polls this; parsing the statement every time cost more than running it.
    QSqlQuery& query = connections.prepared(db, registersDataStatement());
    // The rows are read once, in order: no copy of them need be kept for going back.
    query.setForwardOnly(true);
    query.bindValue(QLatin1Char(':') + dataColumn(DATA_DEVICE), id);
    if (!query.exec()) {
        addLog(DbTexts::REGISTERS_SQL_1);
        return false;
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
        registerRows.append(info);
    }
    // Leaves no read open on the connection, which would hold back the WAL checkpoints.
    query.finish();
    return true;
}

// A device whose rows a page is watching gets them read anew here, in the database thread right
// after its write, so that the page's polls never wait for the file.
void CDataBaseHandler::refreshRegistersData(int id)
{
    {
        QMutexLocker cacheLocker(&cacheMutex);
        if (!registersDataCache.contains(static_cast<uint>(id)))
            return;
    }
    QList<DB::SDbDevRegDataInfo> registerRows;
    const bool read = readRegistersData(static_cast<uint>(id), registerRows);
    QMutexLocker cacheLocker(&cacheMutex);
    if (read)
        registersDataCache.insert(static_cast<uint>(id), registerRows);
    else
        registersDataCache.remove(static_cast<uint>(id));
}

// Writers call this as they end, still holding the database mutex: until then the rows last
// committed are what readers should see, and they keep getting them, even while a commit (and a
// checkpoint with it) takes its time.
void CDataBaseHandler::forgetRegistersData()
{
    QMutexLocker cacheLocker(&cacheMutex);
    registersDataCache.clear();
}

void CDataBaseHandler::forgetRegistersData(int id)
{
    QMutexLocker cacheLocker(&cacheMutex);
    registersDataCache.remove(static_cast<uint>(id));
}

void CDataBaseHandler::updateRegInfo(DB::SDbDevRegParamInfo info)
{
    QMutexLocker locker(&mutex);
    const auto forgetRows = qScopeGuard([this] { forgetRegistersData(); });
    QSqlDatabase db = connections.connection();
    CDbTransaction transaction(db, QStringLiteral("updateRegInfo"), ESynchronous::FULL);
    if (!transaction.isStarted())
        return;
    CMirrorKeeper::Rows rows;
    if (!updateScaling(db, info) || !CMirrorKeeper::readDeviceRows(db, info.id, rows)
        || !transaction.commit()) {
        return;
    }
    QMutexLocker image(&imageMutex);
    registers.replaceDeviceRows(static_cast<int>(info.id), rows);
}

QMap<quint16, quint16> CDataBaseHandler::getRegisterData(
    const int& port, const int& first, const int& count)
{
    const QVector<quint16> words
        = getRegisterWords(port, first, count).value_or(QVector<quint16>());
    // Keys ascend until the range wraps past 65535, so most inserts go straight to the end.
    QMap<quint16, quint16> image;
    for (int i = 0; i < words.size(); ++i)
        image.insert(image.constEnd(), static_cast<quint16>(first + i), words.at(i));
    return image;
}

std::optional<QVector<quint16>> CDataBaseHandler::getRegisterWords(int port, int first, int count)
{
    if (count <= 0)
        return QVector<quint16>();
    QMutexLocker image(&imageMutex);
    if (!registers.isLoaded()) {
        addLog(DbTexts::REGISTER_DATA_SQL_1);
        addLog(
            DbTexts::REGISTER_IMAGE_STATEMENT.arg(port).arg(first).arg(qint64(first) + count - 1));
        return std::nullopt;
    }
    return registers.registerWords(port, first, count);
}

// Runs in the database thread, which decodes and stores one uplink after the other. The register
// image takes the values only once they are committed, under its lock, so a Modbus read never
// sees half of an uplink.
void CDataBaseHandler::saveRegisterData(DB::SDbDeviceRegDataSet regData)
{
    if (regData.rewrites.isEmpty() && regData.modifs.isEmpty()) {
        addLog(DbTexts::SAVE_EMPTY);
        return;
    }
    QMutexLocker locker(&mutex);
    int id = 0;
    // Only this device's rows change: a failed write forgets them, a committed one reads them anew.
    auto forgetRows = qScopeGuard([this, &id] { forgetRegistersData(id); });
    QSqlDatabase db = connections.connection();
    CDbTransaction transaction(db, QStringLiteral("saveRegisterData"), ESynchronous::NORMAL);
    if (!transaction.isStarted())
        return storeReporter.failed(transaction.errorText());
    if (!dataSetDevice(db, regData.devEui, id))
        return;
    QSqlQuery& rewrite = connections.prepared(db, rewriteStatement());
    if (!writeRewrites(rewrite, regData, id))
        return storeReporter.failed(CFailureReporter::reason(rewrite.lastError()));
    if (!transaction.commit())
        return storeReporter.failed(transaction.errorText());
    storeReporter.succeeded();
    QMutexLocker image(&imageMutex);
    registers.storeValues(id, regData);
    image.unlock();
    forgetRows.dismiss();
    refreshRegistersData(id);
}

void CDataBaseHandler::releaseThreadConnection()
{
    QMutexLocker locker(&mutex);
    connections.release();
}

void CDataBaseHandler::close()
{
    QMutexLocker locker(&mutex);
    const auto forget = qScopeGuard([this] { forgetRegistersData(); });
    connections.close();
    connections.release();
}
