#include "modbustestfixture.h"

#include "modbus/cdevicehandler.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <future>
#include <memory>
#include <modbus.h>

using namespace ModbusTest;

namespace {
const int WAIT_MS = 10000;

struct SMasterRead
{
    int result = -1;
    int error = 0;
    QVector<quint16> registers;
};

// One read by libmodbus, a blocking master; it runs in its own thread so that this thread's
// event loop can serve it.
SMasterRead readWithLibmodbus(quint16 port, int functionCode, int start, int count)
{
    SMasterRead read;
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    if (!context)
        return read;
    if (modbus_connect(context) == 0) {
        read.registers.resize(count);
        read.result = functionCode == 3
            ? modbus_read_registers(context, start, count, read.registers.data())
            : modbus_read_input_registers(context, start, count, read.registers.data());
        read.error = errno;
        modbus_close(context);
    }
    modbus_free(context);
    return read;
}
} // namespace

// Real Modbus masters read registers stored in a real SQLite file.
class tst_ModbusMasters : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void libmodbus_data();
    void libmodbus();
    void libmodbusSeesRangeException();
    void mbpoll_data();
    void mbpoll();

private:
    SMasterRead masterRead(int functionCode, int start, int count);

    QTemporaryDir dir;
    quint16 port = 0;
    std::unique_ptr<CDeviceHandler> listener;
};

void tst_ModbusMasters::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(openDatabase(dir.filePath("server.db")));
    port = freePort();
    QVERIFY(storeSharedPortLayout(port));
    listener = std::make_unique<CDeviceHandler>(port);
    QVERIFY(listener->isListening());
}

SMasterRead tst_ModbusMasters::masterRead(int functionCode, int start, int count)
{
    std::future<SMasterRead> read
        = std::async(std::launch::async, readWithLibmodbus, port, functionCode, start, count);
    QElapsedTimer timer;
    timer.start();
    while (read.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready
        && timer.elapsed() < WAIT_MS)
        QTest::qWait(1);
    return read.get();
}

void tst_ModbusMasters::libmodbus_data()
{
    QTest::addColumn<int>("functionCode");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");

    for (const int functionCode : {3, 4}) {
        const QByteArray fc = QByteArray::number(functionCode);
        QTest::newRow("fc" + fc + " both devices") << functionCode << 0 << 23;
        QTest::newRow("fc" + fc + " 64-bit value") << functionCode << 3 << 4;
        QTest::newRow("fc" + fc + " second device") << functionCode << 20 << 3;
        QTest::newRow("fc" + fc + " no values") << functionCode << 8 << 12;
        QTest::newRow("fc" + fc + " 125 registers") << functionCode << 0 << 125;
    }
}

void tst_ModbusMasters::libmodbus()
{
    QFETCH(int, functionCode);
    QFETCH(int, start);
    QFETCH(int, count);

    const SMasterRead read = masterRead(functionCode, start, count);
    QCOMPARE(read.result, count);
    QVector<quint16> expected = expectedRegisters().mid(start, count);
    expected.resize(count); // registers past the layout read 0
    QCOMPARE(read.registers, expected);
}

void tst_ModbusMasters::libmodbusSeesRangeException()
{
    const SMasterRead read = masterRead(3, 65535, 2);
    QCOMPARE(read.result, -1);
    QCOMPARE(read.error, int(EMBXILADD));
}

void tst_ModbusMasters::mbpoll_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");

    QTest::newRow("holding") << "4:hex" << 0 << 23;
    QTest::newRow("input") << "3:hex" << 0 << 23;
    QTest::newRow("input, 64-bit value") << "3:hex" << 3 << 4;
}

void tst_ModbusMasters::mbpoll()
{
    QFETCH(QString, type);
    QFETCH(int, start);
    QFETCH(int, count);

    QProcess process;
    process.start("mbpoll",
        {"-m", "tcp", "-a", "1", "-0", "-r", QString::number(start), "-c", QString::number(count),
            "-t", type, "-1", "-p", QString::number(port), "127.0.0.1"});
    QVERIFY2(process.waitForStarted(WAIT_MS), "mbpoll is not installed");
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, WAIT_MS);
    const QString output = process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), 0);

    // mbpoll prints one line per register: "[<ref>]: <tab>0x<hex>".
    QVector<quint16> registers;
    const QRegularExpression line(R"(\[(\d+)\]:\s+0x([0-9A-Fa-f]{4}))");
    auto match = line.globalMatch(output);
    while (match.hasNext()) {
        const QRegularExpressionMatch found = match.next();
        QCOMPARE(found.captured(1).toInt(), start + registers.size());
        registers.append(quint16(found.captured(2).toUInt(nullptr, 16)));
    }
    QCOMPARE(registers, expectedRegisters().mid(start, count));
}

QTEST_GUILESS_MAIN(tst_ModbusMasters)
#include "tst_modbusmasters.moc"
