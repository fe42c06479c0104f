#include "cdatabasehandler.h"

#include <QDirIterator>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Bound of every wait for the service, generous for a loaded machine.
const int WAIT_MS = 15000;
const int EXIT_STATUS_REFUSED = 255;
// The user the service runs as when the tests run as root.
const uid_t NOBODY = 65534;
const qint64 MIB = 1024 * 1024;

const QString DEV_EUI = "A1B2C3D4E5F60718";
const QByteArray TEMPLATE = R"({"app_eui": "%1", "dev_type": "Thermometer",
    "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger", "endianness": "be",
    "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Temperature"}]}]})";
// The web interface on a port of the system's choosing, away from any other run.
const QByteArray WEB_SETTINGS = "[webui]\nip=127.0.0.1\nport=0\n";

// Permission bits stop nothing for root: where the tests run as root, the read-only cases run
// the service as nobody, a user the bits apply to.
class CServiceProcess : public QProcess
{
public:
    bool asNobody = false;

protected:
    void setupChildProcess() override
    {
        if (!asNobody)
            return;
        if (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)
            ::_exit(127);
    }
};

// Whether nobody may run the program: every directory above it searchable by others.
bool nobodyCanRun(const QString& program)
{
    QFileInfo entry(program);
    struct stat status;
    for (QString path = entry.absoluteFilePath(); path != "/"; path = QFileInfo(path).path()) {
        if (::stat(QFile::encodeName(path).constData(), &status) != 0
            || !(status.st_mode & S_IXOTH))
            return false;
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray thermometerTemplate(const QString& appEui)
{
    return QString::fromLatin1(TEMPLATE).arg(appEui).toLatin1();
}

// Runs statements on the file with a connection of the test's own; false at the first failure.
bool execute(const QString& dbPath, const QStringList& statements)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName(dbPath);
        ok = db.open();
        for (const QString& statement : statements)
            ok = ok && QSqlQuery(db).exec(statement);
    }
    QSqlDatabase::removeDatabase("setup");
    return ok;
}

// A database of the service's own, as an earlier run leaves it.
bool storeThermometer(const QString& dbPath, int port)
{
    DB::SDeviceRegMapDescription thermometer {
        DEV_EUI, "0102030405060708", "Thermometer", 100, {}, port};
    thermometer.registers = {{"Temperature", 0, 0, 16, "uinteger", 0, 1, {}}};
    QString errorText;
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    const bool stored
        = database->init(dbPath) && database->registerNewDevice(thermometer, errorText);
    database->close();
    return stored;
}
} // namespace

// The real executable (path from TARVEX_BINARY) started on broken files: each problem is named
// on standard error, and nothing that cannot be trusted is used.
class TestStartupFailures : public QObject
{
    Q_OBJECT
public:
    enum EBreakage {
        CORRUPT_DATABASE,
        FOREIGN_DEVICES_TABLE,
        VIEW_NAMED_DEVICES,
        READ_ONLY_DATABASE,
        READ_ONLY_DIRECTORY,
        EMPTY_DATABASE_KEY,
        HTTP_SERVER_ADDRESS,
    };
    Q_ENUM(EBreakage)

    enum ETemplateEntry {
        OVERSIZED_FILE,
        FIFO,
    };
    Q_ENUM(ETemplateEntry)

private slots:
    void init();
    void cleanup();
    void startupFailureIsNamed_data();
    void startupFailureIsNamed();
    void storedDeviceWithImpossiblePortIsNotOpened_data();
    void storedDeviceWithImpossiblePortIsNotOpened();
    void templateEntryThatIsNoSmallFileIsSkipped_data();
    void templateEntryThatIsNoSmallFileIsSkipped();
    void oversizedSettingsFileGivesDefaults();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    bool breakFiles(EBreakage breakage);
    bool addTemplateEntry(ETemplateEntry entry);
    void startService();
    QStringList consoleLines() const;
    QString consoleLine(const QString& part) const;
    QString logText() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CServiceProcess> tarvex;
};

void TestStartupFailures::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    tarvex = std::make_unique<CServiceProcess>();
    tarvex->setWorkingDirectory(dir->path());
    tarvex->setProgram(QString::fromLocal8Bit(qgetenv("TARVEX_BINARY")));
    // Outside the working directory, which some cases make read-only.
    tarvex->setStandardErrorFile(dir->path() + ".console.txt");
}

void TestStartupFailures::cleanup()
{
    tarvex->terminate();
    tarvex->waitForFinished(WAIT_MS);
    tarvex.reset(); // kills a service that did not stop
    ::chmod(QFile::encodeName(dir->path()).constData(), S_IRWXU);
    QFile::remove(dir->path() + ".console.txt");
    dir.reset();
}

// Hands the working directory to the user the service runs as, then starts it.
void TestStartupFailures::startService()
{
    if (tarvex->asNobody) {
        QDirIterator entries(dir->path(),
            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (entries.hasNext())
            ::lchown(QFile::encodeName(entries.next()).constData(), NOBODY, NOBODY);
        ::chown(QFile::encodeName(dir->path()).constData(), NOBODY, NOBODY);
    }
    tarvex->start();
    QVERIFY(tarvex->waitForStarted(WAIT_MS));
}

QStringList TestStartupFailures::consoleLines() const
{
    QFile console(dir->path() + ".console.txt");
    if (!console.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(console.readAll()).split('\n');
}

// The first console line that contains part; empty when there is none.
QString TestStartupFailures::consoleLine(const QString& part) const
{
    const QStringList lines = consoleLines().filter(part);
    return lines.isEmpty() ? QString() : lines.first();
}

QString TestStartupFailures::logText() const
{
    QFile log(path("history.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool TestStartupFailures::breakFiles(EBreakage breakage)
{
    const QString dbPath = path("server.db");
    switch (breakage) {
    case CORRUPT_DATABASE: {
        QFile file(dbPath);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (int i = 0; i < 8192; ++i)
            file.putChar(char(i * 131 % 251));
        return true;
    }
    case FOREIGN_DEVICES_TABLE:
        return execute(dbPath, {"CREATE TABLE devices (serial TEXT, location TEXT)"});
    case VIEW_NAMED_DEVICES:
        return execute(dbPath,
            {"CREATE TABLE inventory (serial TEXT)",
                "CREATE VIEW devices AS SELECT serial FROM inventory"});
    case READ_ONLY_DATABASE:
        return storeThermometer(dbPath, 1000) && QFile::setPermissions(dbPath, QFile::ReadOwner);
    case READ_ONLY_DIRECTORY:
        return storeThermometer(dbPath, 1000)
            && QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::ExeOwner);
    case EMPTY_DATABASE_KEY:
        return writeFile(path("settings.conf"), "[db]\nfile=\n" + WEB_SETTINGS);
    case HTTP_SERVER_ADDRESS:
        return writeFile(path("settings.conf"), "[server]\naddress=http://127.0.0.1:8002\n");
    }
    return false;
}

void TestStartupFailures::startupFailureIsNamed_data()
{
    QTest::addColumn<EBreakage>("breakage");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("named"); // the file or settings key
    QTest::addColumn<bool>("refused"); // the service exits

    const QString readOnly = "attempt to write a readonly database";
    QTest::newRow("corrupt database") << CORRUPT_DATABASE << "file is not a database"
                                      << "server.db" << true;
    QTest::newRow("devices table with other columns")
        << FOREIGN_DEVICES_TABLE << "table \"devices\" has the columns (serial, location)"
        << "server.db" << true;
    QTest::newRow("view named devices")
        << VIEW_NAMED_DEVICES << "\"devices\" is a view, not a table"
        << "server.db" << true;
    QTest::newRow("read-only database file")
        << READ_ONLY_DATABASE << readOnly << "server.db" << true;
    QTest::newRow("read-only working directory")
        << READ_ONLY_DIRECTORY << readOnly << "server.db" << true;
    QTest::newRow("empty db/file") << EMPTY_DATABASE_KEY << "is empty"
                                   << "db/file" << true;
    QTest::newRow("server address not ws/wss")
        << HTTP_SERVER_ADDRESS << "is not a ws:// or wss:// URL"
        << "server/address" << false;
}

void TestStartupFailures::startupFailureIsNamed()
{
    QFETCH(EBreakage, breakage);
    QFETCH(QString, cause);
    QFETCH(QString, named);
    QFETCH(bool, refused);
    if (breakage == READ_ONLY_DATABASE || breakage == READ_ONLY_DIRECTORY) {
        tarvex->asNobody = ::geteuid() == 0;
        if (tarvex->asNobody && !nobodyCanRun(tarvex->program()))
            QSKIP("as root permission bits stop nothing, and nobody cannot reach the program");
    }
    if (breakage != EMPTY_DATABASE_KEY && breakage != HTTP_SERVER_ADDRESS)
        QVERIFY(writeFile(path("settings.conf"), WEB_SETTINGS));
    QVERIFY(breakFiles(breakage));

    startService();

    if (refused) {
        QVERIFY(tarvex->waitForFinished(WAIT_MS));
        QCOMPARE(tarvex->exitCode(), EXIT_STATUS_REFUSED);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(
        !consoleLine(cause).isEmpty(), qPrintable(consoleLines().join("\n")), WAIT_MS);
    QVERIFY2(consoleLine(cause).contains(named), qPrintable(consoleLine(cause)));
}

void TestStartupFailures::storedDeviceWithImpossiblePortIsNotOpened_data()
{
    QTest::addColumn<QString>("storedPort"); // as an SQL literal

    QTest::newRow("70000") << "70000";
    QTest::newRow("text") << "'5020 and 5021'";
}

// Opened, the port would be cut to 16 bits: 70000 would take port 4464; text reads as port 0.
void TestStartupFailures::storedDeviceWithImpossiblePortIsNotOpened()
{
    QFETCH(QString, storedPort);
    QVERIFY(writeFile(path("settings.conf"), "[debug]\nlog=true\n" + WEB_SETTINGS));
    QVERIFY(storeThermometer(path("server.db"), 1000));
    QVERIFY(execute(path("server.db"), {"UPDATE devices SET port = " + storedPort}));

    startService();

    const QString notOpened = QString("Device [%1] is not opened").arg(DEV_EUI);
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains(notOpened), WAIT_MS);
    QCOMPARE(logText().count(notOpened), 1);
    QVERIFY(!logText().contains(QString("New device: DevEUI[%1]").arg(DEV_EUI)));
}

bool TestStartupFailures::addTemplateEntry(ETemplateEntry entry)
{
    const QString entryPath = path("deviceFolder/odd.json");
    switch (entry) {
    case OVERSIZED_FILE:
        // A valid template of its own app EUI, padded past the limit.
        return writeFile(entryPath, thermometerTemplate("0102030405060709") + QByteArray(MIB, ' '));
    case FIFO:
        return ::mkfifo(QFile::encodeName(entryPath).constData(), S_IRUSR | S_IWUSR) == 0;
    }
    return false;
}

void TestStartupFailures::templateEntryThatIsNoSmallFileIsSkipped_data()
{
    QTest::addColumn<ETemplateEntry>("entry");
    QTest::addColumn<QString>("skipped");

    QTest::newRow("oversized file")
        << OVERSIZED_FILE << "File [odd.json] is larger than 1048576 bytes. Skip";
    QTest::newRow("FIFO") << FIFO << "File [odd.json] is not a regular file. Skip";
}

void TestStartupFailures::templateEntryThatIsNoSmallFileIsSkipped()
{
    QFETCH(ETemplateEntry, entry);
    QFETCH(QString, skipped);
    QVERIFY(writeFile(path("settings.conf"), WEB_SETTINGS));
    QVERIFY(QDir(dir->path()).mkpath("deviceFolder"));
    QVERIFY(
        writeFile(path("deviceFolder/thermometer.json"), thermometerTemplate("0102030405060708")));
    QVERIFY(addTemplateEntry(entry));

    startService();

    QTRY_VERIFY_WITH_TIMEOUT(!consoleLine("Device register templates loaded:").isEmpty(), WAIT_MS);
    QCOMPARE(consoleLine("Device register templates loaded:"),
        QString("Device register templates loaded: 1"));
    QVERIFY2(!consoleLine(skipped).isEmpty(), qPrintable(consoleLines().join("\n")));
}

// A settings file that big is not read at all, so the log it asks for is not kept.
void TestStartupFailures::oversizedSettingsFileGivesDefaults()
{
    QVERIFY(writeFile(
        path("settings.conf"), "[debug]\nlog=true\n" + WEB_SETTINGS + QByteArray(MIB, '#')));

    startService();

    QTRY_VERIFY_WITH_TIMEOUT(!consoleLine("History log disabled in settings").isEmpty(), WAIT_MS);
    const QString refusal = consoleLine("runs on default settings");
    QVERIFY2(refusal.contains("settings.conf"), qPrintable(consoleLines().join("\n")));
}

QTEST_GUILESS_MAIN(TestStartupFailures)
#include "tst_startupfailures.moc"
