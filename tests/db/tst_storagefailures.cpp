#include "cconsolecatcher.h"
#include "dbtestfixture.h"
#include "dbtexts.h"

#include <QFile>
#include <QSqlQuery>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace {
const QString DEV_EUI = "a1";
const int PORT = 1000;
// A file system this small fills up with a few hundred kilobytes of filler.
const char* const FILE_SYSTEM_SIZE = "size=1m";
const QString NO_MOUNT = "a small tmpfs cannot be mounted here (it takes root): %1";
// A copy of a deleted file that could not be written is tried again after 5 s.
const int RESTORE_WAIT_MS = 15000;

// Stores raw as the value of the device's only register, as the decoder hands an uplink over.
void storeUplink(CDataBaseHandler* database, quint16 raw)
{
    DB::SDbDeviceRegDataSet dataSet {DEV_EUI, 0, {}, {}};
    const QString text = QString("%1").arg(raw, 4, 16, QChar('0'));
    dataSet.appendRewriteData(text, 0, text);
    database->saveRegisterData(dataSet);
}

// Writes until the file system is full; false when it never filled.
bool fillFileSystem(const QString& path)
{
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'x');
    for (int i = 0; i < 4096; ++i) {
        if (filler.write(block) != block.size() || !filler.flush())
            return true;
    }
    return false;
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

// Uplinks that cannot be stored are reported, once per cause, with SQLite's reason; Modbus keeps
// the last stored values meanwhile; storing resumes by itself once the cause is gone.
class TestStorageFailures : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fullFileSystemIsReportedOnceUntilItClears();
    void deletedFileIsWrittenBackWithItsData_data();
    void deletedFileIsWrittenBackWithItsData();
    void deletedFileIsWrittenBackOnceSpaceReturns();

private:
    bool mountSmallFileSystem();
    bool startOn(const QString& dbPath);
    QVector<quint16> modbusImage()
    {
        return database->getRegisterWords(PORT, 0, 1).value_or(QVector<quint16>());
    }

    std::unique_ptr<QTemporaryDir> dir;
    CDataBaseHandler* database = nullptr;
    bool mounted = false;
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
    if (mounted)
        ::umount2(QFile::encodeName(dir->path()).constData(), MNT_DETACH);
    mounted = false;
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

// Only a file system of its own can be filled without filling the machine's.
bool TestStorageFailures::mountSmallFileSystem()
{
    mounted = ::mount("tarvex-test", QFile::encodeName(dir->path()).constData(), "tmpfs", 0,
                  FILE_SYSTEM_SIZE)
        == 0;
    return mounted;
}

void TestStorageFailures::fullFileSystemIsReportedOnceUntilItClears()
{
    if (!mountSmallFileSystem())
        QSKIP(qPrintable(NO_MOUNT.arg(std::strerror(errno))));
    QVERIFY(startOn(dir->filePath("server.db")));
    CConsoleCatcher console;

    QVERIFY(fillFileSystem(dir->filePath("filler")));
    for (quint16 raw = 2; raw <= 4; ++raw)
        storeUplink(database, raw);

    QCOMPARE(console.count(DbTexts::VALUES_NOT_STORED.arg("database or disk is full")), 1);
    QCOMPARE(modbusImage(), QVector<quint16> {1});

    QVERIFY(QFile::remove(dir->filePath("filler")));
    storeUplink(database, 5);
    storeUplink(database, 6);

    QCOMPARE(console.count(DbTexts::VALUES_STORED_AGAIN), 1);
    QCOMPARE(modbusImage(), QVector<quint16> {6});
    QCOMPARE(storedValue(dir->filePath("server.db")), QString("0006"));
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

// Until the copy can be written, uplinks go on into the open database (or fail, and are
// reported, while the disk is full); once space returns the file comes back with them.
void TestStorageFailures::deletedFileIsWrittenBackOnceSpaceReturns()
{
    if (!mountSmallFileSystem())
        QSKIP(qPrintable(NO_MOUNT.arg(std::strerror(errno))));
    const QString dbPath = dir->filePath("server.db");
    QVERIFY(startOn(dbPath));
    CConsoleCatcher console;

    QVERIFY(fillFileSystem(dir->filePath("filler")));
    QVERIFY(QFile::remove(dbPath));
    storeUplink(database, 2);
    storeUplink(database, 3);
    QCOMPARE(console.count(DbTexts::FILE_NOT_RESTORED.arg(dbPath, "database or disk is full")), 1);
    QVERIFY(!QFile::exists(dbPath));

    QVERIFY(QFile::remove(dir->filePath("filler")));
    QTRY_VERIFY_WITH_TIMEOUT((storeUplink(database, 4), QFile::exists(dbPath)), RESTORE_WAIT_MS);

    QCOMPARE(console.count(DbTexts::FILE_RESTORED.arg(dbPath)), 1);
    QCOMPARE(storedValue(dbPath), QString("0004"));
    QCOMPARE(modbusImage(), QVector<quint16> {4});
}

QTEST_GUILESS_MAIN(TestStorageFailures)
#include "tst_storagefailures.moc"
