#include "apimessages.h"

#include <QtTest>

#include <limits>

Q_DECLARE_METATYPE(QJsonValue)

namespace {
// The record's field read from the uplink key of the same name, with the field's own type.
QVariant fieldValue(const API::SApiDeviceData& record, const QString& key)
{
    const QHash<QString, QVariant> fields {{"ts", QVariant::fromValue(record.ts)},
        {"fcnt", QVariant::fromValue(record.fcnt)}, {"port", QVariant::fromValue(record.port)},
        {"rssi", QVariant::fromValue(record.rssi)}};
    return fields.value(key);
}

template<typename T>
QVariant highest()
{
    return QVariant::fromValue(std::numeric_limits<T>::max());
}

template<typename T>
QVariant lowest()
{
    return QVariant::fromValue(std::numeric_limits<T>::min());
}
} // namespace

class TestApiMessages : public QObject
{
    Q_OBJECT
private slots:
    void numberOutsideFieldSaturates_data();
    void numberOutsideFieldSaturates();
};

void TestApiMessages::numberOutsideFieldSaturates_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("sent");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("ts 1e300") << "ts" << QJsonValue(1e300) << highest<quint64>();
    QTest::newRow("ts text above 64 bits")
        << "ts" << QJsonValue("99999999999999999999") << highest<quint64>();
    QTest::newRow("fcnt 5e9") << "fcnt" << QJsonValue(5e9) << highest<quint32>();
    QTest::newRow("fcnt text 5000000000")
        << "fcnt" << QJsonValue("5000000000") << highest<quint32>();
    QTest::newRow("fcnt -1") << "fcnt" << QJsonValue(-1) << QVariant::fromValue(quint32(0));
    QTest::newRow("port 70000") << "port" << QJsonValue(70000) << highest<quint16>();
    QTest::newRow("port 3.5 not integral")
        << "port" << QJsonValue(3.5) << QVariant::fromValue(quint16(0));
    QTest::newRow("rssi 40000") << "rssi" << QJsonValue(40000) << highest<qint16>();
    QTest::newRow("rssi -40000") << "rssi" << QJsonValue(-40000) << lowest<qint16>();
    QTest::newRow("rssi 1e300") << "rssi" << QJsonValue(1e300) << highest<qint16>();
    QTest::newRow("rssi text") << "rssi" << QJsonValue("-70") << QVariant::fromValue(qint16(0));
}

// An uplink number outside its field's range is stored as the nearest value the field holds;
// a missing or non-integral value where an integer is due still reads as 0.
void TestApiMessages::numberOutsideFieldSaturates()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, sent);
    QFETCH(QVariant, expected);

    const QJsonObject uplink {
        {"type", "UNCONF_UP"}, {"devEui", "0102030405060708"}, {"data", "01"}, {key, sent}};
    const API::SApiDeviceData record = API::readUplink(uplink);

    QVERIFY(record.valid);
    QCOMPARE(fieldValue(record, key), expected);
}

QTEST_APPLESS_MAIN(TestApiMessages)
#include "tst_apimessages.moc"
