// The HTTP server with the test echo handler, for load generators: http_bench_server <port>

#include "echohandler.h"

#include "server.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Failure warnings would only measure the console.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    const quint16 port = (argc > 1) ? quint16(QByteArray(argv[1]).toUShort()) : 0;
    EchoHandler handler;
    handler.recordRequests = false;
    Http::Server server(&handler);
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "cannot listen on port %u\n", unsigned(port));
        return 1;
    }
    std::printf("%u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
