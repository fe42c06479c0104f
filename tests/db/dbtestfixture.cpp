#include "dbtestfixture.h"

#include "clogfile.h"

#include <QSqlError>
#include <QSqlQuery>

CDbTestFixture::CDbTestFixture()
{
    connect(CLogFile::getInstance(QString(), QString()), &CLogFile::addLogSignal, this,
        [this](const QString& entry) { logs.append(entry); });
}

bool CDbTestFixture::start()
{
    if (!connectionName.isEmpty())
        QSqlDatabase::removeDatabase(connectionName);
    dir = std::make_unique<QTemporaryDir>();
    static int files = 0;
    connectionName = QStringLiteral("test-%1").arg(++files);
    logs.clear();
    if (!restart())
        return false;
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connectionName);
    db.setDatabaseName(dir->filePath("server.db"));
    return db.open();
}

bool CDbTestFixture::restart()
{
    database = CDataBaseHandler::getInstance();
    return database && database->init(dir->filePath("server.db"));
}

QString CDbTestFixture::exec(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    return query.exec(statement) ? QString() : query.lastError().text();
}

QVariantList CDbTestFixture::column(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    QVariantList values;
    if (!query.exec(statement))
        return {query.lastError().text()};
    while (query.next())
        values.append(query.value(0));
    return values;
}

QString CDbTestFixture::registerDevice(const QString& devEui, int port, int startAddr,
    const QList<REGS::SRegisterInfo>& registers, const QString& name)
{
    QString errorText;
    const DB::SDeviceRegMapDescription device {
        devEui, "70b3d5", name, startAddr, registers, port, 0};
    return database->registerNewDevice(device, errorText) ? QStringLiteral("accepted") : errorText;
}

uint CDbTestFixture::deviceId(const QString& devEui)
{
    uint id = 0;
    database->getDeviceId(devEui, id);
    return id;
}

void CDbTestFixture::storeValue(
    const QString& devEui, int startAddr, int regOffset, const QString& fullValue)
{
    DB::SDbDeviceRegDataSet dataSet {devEui, startAddr, {}, {}};
    dataSet.appendRewriteData("v-" + fullValue, regOffset, fullValue);
    database->saveRegisterData(dataSet);
}

bool CDbTestFixture::logged(const QString& text) const
{
    for (const QString& entry : logs) {
        if (entry.endsWith("]" + text))
            return true;
    }
    return false;
}

REGS::SRegisterInfo registerEntry(int regOffset, int bitSize)
{
    return {"r", 0, regOffset, bitSize, "uinteger", 0.0, 1.0, QString()};
}
