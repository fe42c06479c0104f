// tarvex-ns-sim: a LoRaWAN network server for demonstrations and tests, speaking the WebSocket
// JSON protocol Tarvex uses, with simulated devices read from a JSON file.

#include "cdevicefile.h"
#include "csimulatorserver.h"
#include "nssimtexts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {
const QString DEFAULT_ADDRESS = QStringLiteral("127.0.0.1");
const QString DEFAULT_PORT = QStringLiteral("8002");
const QString DEFAULT_LOGIN = QStringLiteral("gateway");
const QString DEFAULT_PASSWORD = QStringLiteral("secret");

int fail(const QString& text)
{
    QTextStream(stderr) << "tarvex-ns-sim: " << text << '\n';
    return 1;
}

struct SOptions
{
    QHostAddress address;
    quint16 port = 0;
    CSimulatorServer::SCredentials credentials;
    QString deviceFile;
};

// Reads the command line (--help ends the program here); the problem found, or an empty text.
QString readOptions(const QCoreApplication& app, SOptions& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(NsSimTexts::DESCRIPTION);
    parser.addHelpOption();
    const QCommandLineOption listenOption(QStringLiteral("listen"), NsSimTexts::LISTEN_HELP,
        QStringLiteral("address"), DEFAULT_ADDRESS);
    const QCommandLineOption portOption(
        QStringLiteral("port"), NsSimTexts::PORT_HELP, QStringLiteral("port"), DEFAULT_PORT);
    const QCommandLineOption loginOption(
        QStringLiteral("login"), NsSimTexts::LOGIN_HELP, QStringLiteral("login"), DEFAULT_LOGIN);
    const QCommandLineOption passwordOption(QStringLiteral("password"), NsSimTexts::PASSWORD_HELP,
        QStringLiteral("password"), DEFAULT_PASSWORD);
    parser.addOptions({listenOption, portOption, loginOption, passwordOption});
    parser.addPositionalArgument(NsSimTexts::DEVICE_FILE_ARGUMENT, NsSimTexts::DEVICE_FILE_HELP);
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        return NsSimTexts::MISSING_DEVICE_FILE;
    options.address = QHostAddress(parser.value(listenOption));
    if (options.address.isNull())
        return NsSimTexts::INVALID_ADDRESS.arg(parser.value(listenOption));
    bool portIsNumber = false;
    const uint port = parser.value(portOption).toUInt(&portIsNumber);
    if (!portIsNumber || port > 65535)
        return NsSimTexts::INVALID_PORT.arg(parser.value(portOption));
    options.port = quint16(port);
    options.credentials = {parser.value(loginOption), parser.value(passwordOption)};
    options.deviceFile = parser.positionalArguments().constFirst();
    return QString();
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-ns-sim"));

    SOptions options;
    const QString problem = readOptions(app, options);
    if (!problem.isEmpty())
        return fail(problem);
    CDeviceFile deviceFile;
    if (!deviceFile.load(options.deviceFile))
        return fail(deviceFile.errorText());
    CSimulatorServer server(deviceFile.devices(), deviceFile.gatewayId(), options.credentials);
    if (!server.listen(options.address, options.port))
        return fail(NsSimTexts::LISTEN_FAILED.arg(options.address.toString())
                        .arg(options.port)
                        .arg(server.errorString()));
    QTextStream(stderr) << NsSimTexts::LISTENING.arg(options.address.toString())
                               .arg(server.port())
                               .arg(options.credentials.login)
                               .arg(deviceFile.devices().size())
                               .arg(options.deviceFile)
                        << '\n';
    return app.exec();
}
