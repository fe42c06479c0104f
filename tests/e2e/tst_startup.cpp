#include "tarvexprocess.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString STAMP = QStringLiteral(R"(\[\d\d-\S{3}-\d\d \d\d:\d\d:\d\d\.\d{3}\])");
const QString SESSION_START = "\\n" + STAMP + "\\*{65}\\n" + STAMP
    + QRegularExpression::escape(
        "**                      New session                            **");

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList schemaNames(const QString& dbPath, const QString& type)
{
    QStringList names;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "schema");
        db.setDatabaseName(dbPath);
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare("SELECT name FROM sqlite_master WHERE type=? AND name NOT LIKE "
                          "'sqlite_%' ORDER BY name");
            query.addBindValue(type);
            query.exec();
            while (query.next())
                names << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase("schema");
    return names;
}
} // namespace

// The real executable started in a working directory of its own, as an operator starts it.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void createsTheDatabaseSchema();
    void logFileStartsWithASession();
    void restartAppendsASessionToTheLog();
    void runsWithoutLogFile();
    void exitsWhenTheDatabaseCannotBeOpened();
};

void TestStartup::createsTheDatabaseSchema()
{
    QTemporaryDir dir;
    TarvexProcess tarvex(dir.path());
    QVERIFY(tarvex.start());
    QVERIFY2(tarvex.waitForStandardError("DB has been initialized, file: server.db"),
        qPrintable(tarvex.standardError()));
    QVERIFY(tarvex.standardError().contains("Tarvex 2.2.1 has started"));

    const QString dbPath = dir.filePath("server.db");
    QCOMPARE(schemaNames(dbPath, "table"), QStringList({"dev_data", "devices"}));
    QCOMPARE(schemaNames(dbPath, "index"),
        QStringList(
            {"idx_dev_parent", "idx_dev_regaddr", "idx_device", "idx_eui", "idx_port_regaddr"}));
}

void TestStartup::logFileStartsWithASession()
{
    QTemporaryDir dir;
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings("[debug]\nlog=true\n");
    QVERIFY(tarvex.start());
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression("^" + SESSION_START)
                                 .match(readFile(dir.filePath("history.log")))
                                 .hasMatch(),
        5000);
}

void TestStartup::restartAppendsASessionToTheLog()
{
    QTemporaryDir dir;
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings("[debug]\nlog=true\n");
    const QString logPath = dir.filePath("history.log");
    QVERIFY(tarvex.start());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(logPath).count("New session"), 1, 5000);
    tarvex.stop();

    QVERIFY(tarvex.start());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(logPath).count("New session"), 2, 5000);
    QVERIFY(QRegularExpression("^" + SESSION_START + "(.|\\n)*" + SESSION_START)
                .match(readFile(logPath))
                .hasMatch());
}

void TestStartup::runsWithoutLogFile()
{
    QTemporaryDir dir;
    TarvexProcess tarvex(dir.path());
    QVERIFY(tarvex.start());
    QVERIFY(tarvex.waitForStandardError("DB has been initialized"));
    QVERIFY(tarvex.standardError().contains("History log disabled in settings"));
    QCOMPARE(tarvex.process().state(), QProcess::Running);
    QVERIFY(!QFile::exists(dir.filePath("history.log")));
}

void TestStartup::exitsWhenTheDatabaseCannotBeOpened()
{
    QTemporaryDir dir;
    TarvexProcess tarvex(dir.path());
    tarvex.writeSettings("[debug]\nlog=true\n[db]\nfile=missing/dir/server.db\n");
    QVERIFY(tarvex.start());
    QVERIFY(tarvex.process().waitForFinished(10000));
    QCOMPARE(tarvex.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(static_cast<qint8>(tarvex.process().exitCode()), qint8(-1));
    QVERIFY2(
        tarvex.standardError().contains("CRITICAL_ERROR! Data base hasn't been created/opened!"),
        qPrintable(tarvex.standardError()));
    QVERIFY(!QFile::exists(dir.filePath("missing")));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
