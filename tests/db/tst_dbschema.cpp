#include "cdatabasehandler.h"
#include "dbconstants.h"
#include "dbschema.h"
#include "dbtestfixture.h"

#include <QtSql>
#include <QtTest>

// The tables and indexes the service creates in its file, and how it starts on a file.
class TestDbSchema : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void columnsFollowTheConstants_data();
    void columnsFollowTheConstants();
    void indexColumns_data();
    void indexColumns();

    void startOnMissingFileCreatesTablesAndIndexes();
    void journalIsWriteAhead();
    void foreignTableIsLeftAsItIs();
    void unopenableFileEndsTheInstance();

private:
    QStringList names(const QString& statement, int column);

    QTemporaryDir dir;
    QSqlDatabase schemaDb; // the schema alone, created without the handler
};

void TestDbSchema::initTestCase()
{
    schemaDb = QSqlDatabase::addDatabase("QSQLITE", "schema");
    schemaDb.setDatabaseName(dir.filePath("schema.db"));
    QVERIFY(schemaDb.open());
    QVERIFY(createSchema(schemaDb));
}

QStringList TestDbSchema::names(const QString& statement, int column)
{
    QSqlQuery query(schemaDb);
    QStringList result;
    if (!query.exec(statement))
        return {query.lastError().text()};
    while (query.next())
        result.append(query.value(column).toString());
    return result;
}

// The statements are written out; the operations name columns through the constants.
void TestDbSchema::columnsFollowTheConstants_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("devices") << DB::DB_TABLE_DEVICES << DB::DbTableDevicesList;
    QTest::newRow("dev_data") << DB::DB_TABLE_DEVDATA << DB::DbTableDevDataList;
}

void TestDbSchema::columnsFollowTheConstants()
{
    QFETCH(QString, table);

    QTEST(names(QString("PRAGMA table_info(%1)").arg(table), 1), "expected");
}

void TestDbSchema::indexColumns_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("expected");

    const QStringList& devices = DB::DbTableDevicesList;
    const QStringList& data = DB::DbTableDevDataList;
    QTest::newRow("idx_eui") << "idx_eui" << DB::DB_TABLE_DEVICES << QStringList {devices[3]};
    QTest::newRow("idx_device") << "idx_device" << DB::DB_TABLE_DEVICES << QStringList {devices[0]};
    QTest::newRow("idx_dev_parent")
        << "idx_dev_parent" << DB::DB_TABLE_DEVDATA << QStringList {data[0], data[12]};
    QTest::newRow("idx_dev_regaddr")
        << "idx_dev_regaddr" << DB::DB_TABLE_DEVDATA << QStringList {data[0], data[2]};
    QTest::newRow("idx_port_regaddr")
        << "idx_port_regaddr" << DB::DB_TABLE_DEVDATA << QStringList {data[1], data[2]};
}

void TestDbSchema::indexColumns()
{
    QFETCH(QString, index);
    QFETCH(QString, table);

    QCOMPARE(names(QString("SELECT tbl_name FROM sqlite_master WHERE name = '%1'").arg(index), 0),
        QStringList {table});
    QTEST(names(QString("PRAGMA index_info(%1)").arg(index), 2), "expected");
}

void TestDbSchema::startOnMissingFileCreatesTablesAndIndexes()
{
    CDbTestFixture fixture;
    QVERIFY(fixture.start());

    QCOMPARE(fixture.column("SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER "
                            "BY name"),
        (QVariantList {"dev_data", "devices", "idx_dev_parent", "idx_dev_regaddr", "idx_device",
            "idx_eui", "idx_port_regaddr"}));
}

void TestDbSchema::journalIsWriteAhead()
{
    CDbTestFixture fixture;
    QVERIFY(fixture.start());

    QCOMPARE(fixture.value("PRAGMA journal_mode"), QVariant("wal"));
}

// A table of the same name from other software is used as it is; the first index on a column it
// lacks ends the start.
void TestDbSchema::foreignTableIsLeftAsItIs()
{
    CDbTestFixture fixture;
    QVERIFY(fixture.start());
    QCOMPARE(fixture.exec("DROP TABLE devices"), QString());
    QCOMPARE(fixture.exec("CREATE TABLE devices (other TEXT)"), QString());

    QVERIFY(!fixture.restart());

    QTRY_VERIFY(
        fixture.logged("ERROR [operator()-185]: invalid sql request 3 for <devices.idx_eui>!"));
    QTRY_VERIFY(fixture.logged("CREATE INDEX IF NOT EXISTS idx_eui ON devices ( dev_eui );"));
    QCOMPARE(
        fixture.column("SELECT name FROM pragma_table_info('devices')"), QVariantList {"other"});
}

void TestDbSchema::unopenableFileEndsTheInstance()
{
    CDbTestFixture fixture;
    CDataBaseHandler* handler = CDataBaseHandler::getInstance();

    QVERIFY(!handler->init(dir.filePath("missing/dir/server.db")));

    QTRY_VERIFY(fixture.logged("CRITICAL_ERROR! Data base hasn't been created/opened! "
                               "Error_text[unable to open database file Error opening database]. "
                               "DataBaseHandler is not running!"));
    QCOMPARE(CDataBaseHandler::getInstance(), nullptr);
    QVERIFY(CDataBaseHandler::getInstance() != nullptr);
}

QTEST_GUILESS_MAIN(TestDbSchema)
#include "tst_dbschema.moc"
