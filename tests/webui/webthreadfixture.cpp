#include "webthreadfixture.h"

#include "calldevicehandler.h"
#include "cdatabasehandler.h"
#include "freeport.h"
#include "server.h"
#include "webapplication.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString LOGIN = QStringLiteral("operator");
const QString PASSWORD = QStringLiteral("s3cret");
} // namespace

const QByteArray METER_TEMPLATE = R"({"app_eui": "A1B2C3D4E5F60708", "dev_type": "Meter",
    "device_packets": [{"packet_type": 1, "packet_size": 2, "packet_fields": [{"packet_bias": 1,
    "data_bit_bias": 0, "data_bit_size": 8, "data_type": "uinteger", "reg_map_bias": 0,
    "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Count"}]}]})";
const QString METER_APP_EUI = QStringLiteral("A1B2C3D4E5F60708");

bool startStorage(const QTemporaryDir& dir, const QString& devEui)
{
    QFile file(dir.filePath("deviceFolder/meter.json"));
    if (!QDir::setCurrent(dir.path()) || !QDir().mkpath("deviceFolder")
        || !file.open(QIODevice::WriteOnly) || file.write(METER_TEMPLATE) < 0)
        return false;
    file.close();
    CDataBaseHandler* database = CDataBaseHandler::getInstance();
    if (!database->init(dir.filePath("server.db")))
        return false;
    CAllDeviceHandler::getInstance()->init(dir.filePath("deviceFolder"), database);
    QString error;
    return database->registerNewDevice({devEui, METER_APP_EUI, "Meter", 0, {}, freePort()}, error);
}

WebThreadFixture::WebThreadFixture() : application(new WebApplication(LOGIN, PASSWORD))
{
    auto* server = new Http::Server(application, application);
    if (server->listen(QHostAddress::LocalHost, 0))
        port = server->serverPort();
    application->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, application, &QObject::deleteLater);
    // The web API reaches the database from this thread, which drops its connection as it ends.
    QObject::connect(&thread, &QThread::finished, CDataBaseHandler::getInstance(),
        &CDataBaseHandler::releaseThreadConnection, Qt::DirectConnection);
    thread.start();
}

WebThreadFixture::~WebThreadFixture()
{
    thread.quit();
    thread.wait();
}

void WebThreadFixture::replaceController(
    const QString& scope, const std::function<APIController*(WebApplication*)>& make)
{
    QMetaObject::invokeMethod(
        application,
        [this, &scope, &make]() { application->registerAPIController(scope, make(application)); },
        Qt::BlockingQueuedConnection);
}

CurlClient WebThreadFixture::loggedInClient() const
{
    CurlClient client(QStringLiteral("http://127.0.0.1:%1").arg(port));
    if (!client.login(LOGIN, PASSWORD))
        qWarning("The test's login was refused");
    return client;
}
