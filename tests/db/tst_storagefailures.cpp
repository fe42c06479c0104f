#include "cconsolecatcher.h"
#include "dbtestfixture.h"
#include "dbtexts.h"

#include <QFile>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QString DEV_EUI = "a1";
const int PORT = 1000;

// Stores raw as the value of the device's only register, as the decoder hands an uplink over.
void storeUplink(CDataBaseHandler* database, quint16 raw)
{
    DB::SDbDeviceRegDataSet dataSet {DEV_EUI, 0, {}, {}};
    const QString text = QString("%1").arg(raw, 4, 16, QChar('0'));
    dataSet.appendRewriteData(text, 0, text);
    database->saveRegisterData(dataSet);
}

// The first column of the statement's first row as a reader of the file sees it, through a
// connection of its own.
QString readFile(const QString& dbPath, const QString& statement)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "reader");
        db.setDatabaseName(dbPath);
        QSqlQuery query(db);
        if (db.open() && query.exec(statement) && query.next())
            value = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase("reader");
    return value;
}

QString storedValue(const QString& dbPath)
{
    return readFile(dbPath, "SELECT full_value FROM dev_data");
}
} // namespace

// A database file deleted under the running service is written back. A full disk and a folder
// gone read-only are brought about by tests/faults/storage.sh.
class TestStorageFailures : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void deletedFileIsWrittenBackWithItsData_data();
    void deletedFileIsWrittenBackWithItsData();

private:
    bool startOn(const QString& dbPath);
    QVector<quint16> modbusImage()
    {
        return database->getRegisterWords(PORT, 0, 1).value_or(QVector<quint16>());
    }

    std::unique_ptr<QTemporaryDir> dir;
    CDataBaseHandler* database = nullptr;
};

void TestStorageFailures::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestStorageFailures::cleanup()
{
    if (database)
        database->close();
    database = nullptr;
    dir.reset();
}

// The handler on a new file with the device registered and the value 1 stored.
bool TestStorageFailures::startOn(const QString& dbPath)
{
    database = CDataBaseHandler::getInstance();
    QString errorText;
    const DB::SDeviceRegMapDescription device {
        DEV_EUI, "70b3d5", "type", 0, {registerEntry(0, 16)}, PORT, 0};
    if (!database->init(dbPath) || !database->registerNewDevice(device, errorText))
        return false;
    storeUplink(database, 1);
    return modbusImage() == QVector<quint16> {1};
}

void TestStorageFailures::deletedFileIsWrittenBackWithItsData_data()
{
    QTest::addColumn<QStringList>("deleted"); // suffixes of the file names removed

    QTest::newRow("database file alone") << QStringList {""};
    QTest::newRow("with its WAL and shared memory") << QStringList {"", "-wal", "-shm"};
}

// A file deleted under the running service comes back under its name with the device and every
// value, the ones stored after the deletion included, and survives a restart. The first to reach
// the database afterwards is a thread that has no connection yet (the web thread, say): opening
// the name would give it a new, empty file. The handler's own connection, opened before the
// deletion, keeps the deleted file's WAL in use, and that WAL must not be played into the new file.
void TestStorageFailures::deletedFileIsWrittenBackWithItsData()
{
    QFETCH(QStringList, deleted);
    const QString dbPath = dir->filePath("server.db");
    QVERIFY(startOn(dbPath));
    QThread webThread;
    connect(&webThread, &QThread::finished, database, &CDataBaseHandler::releaseThreadConnection,
        Qt::DirectConnection);
    webThread.start();
    QObject webContext;
    webContext.moveToThread(&webThread);
    CConsoleCatcher console;

    for (const QString& suffix : deleted)
        QVERIFY(QFile::remove(dbPath + suffix));
    int devicesSeen = 0;
    QMetaObject::invokeMethod(
        &webContext, [&] { devicesSeen = database->getDevices(QString()).size(); },
        Qt::BlockingQueuedConnection);
    webThread.quit();
    webThread.wait();
    storeUplink(database, 2);

    QCOMPARE(devicesSeen, 1);
    QCOMPARE(console.count(DbTexts::FILE_RESTORED.arg(dbPath)), 1);
    QCOMPARE(readFile(dbPath, "PRAGMA integrity_check"), QString("ok"));
    QCOMPARE(storedValue(dbPath), QString("0002"));
    QVERIFY(database->init(dbPath));
    QCOMPARE(modbusImage(), QVector<quint16> {2});
}

QTEST_GUILESS_MAIN(TestStorageFailures)
#include "tst_storagefailures.moc"
