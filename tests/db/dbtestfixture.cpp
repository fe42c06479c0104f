#include "dbtestfixture.h"

#include <QSqlError>
#include <QSqlQuery>

bool CDbTestFixture::start()
{
    if (!connectionName.isEmpty())
        QSqlDatabase::removeDatabase(connectionName);
    dir = std::make_unique<QTemporaryDir>();
    static int files = 0;
    connectionName = QStringLiteral("test-%1").arg(++files);
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

QString CDbTestFixture::registerDevice(
    const QString& devEui, int port, int startAddr, const QList<REGS::SRegisterInfo>& registers)
{
    QString errorText;
    const DB::SDeviceRegMapDescription device {
        devEui, "70b3d5", "type", startAddr, registers, port, 0};
    return database->registerNewDevice(device, errorText) ? QStringLiteral("accepted") : errorText;
}

uint CDbTestFixture::deviceId(const QString& devEui)
{
    uint id = 0;
    database->getDeviceId(devEui, id);
    return id;
}

REGS::SRegisterInfo registerEntry(int regOffset, int bitSize)
{
    return {"r", 0, regOffset, bitSize, "uinteger", 0.0, 1.0, QString()};
}
