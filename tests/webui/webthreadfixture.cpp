#include "webthreadfixture.h"

#include "server.h"
#include "webapplication.h"

#include <QtTest>

namespace {
const QString LOGIN = QStringLiteral("operator");
const QString PASSWORD = QStringLiteral("s3cret");
} // namespace

WebThreadFixture::WebThreadFixture() : application(new WebApplication(LOGIN, PASSWORD))
{
    auto* server = new Http::Server(application, application);
    if (server->listen(QHostAddress::LocalHost, 0))
        port = server->serverPort();
    application->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, application, &QObject::deleteLater);
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
