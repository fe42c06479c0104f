#include "cfakenetworkserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>

// The network-server double as a process of its own, for the browser tests written in
// JavaScript. It prints "url <address>" once it listens, then reads one command a line on
// standard input and answers each with "ok" (or "error <line>") on standard output:
//   devices <JSON array>   the device list it answers get_devices with
//   rx <JSON object>       pushes the uplink record to every connected client
// It ends when its standard input closes.
namespace {
bool runCommand(CFakeNetworkServer& server, const QByteArray& line)
{
    const int space = line.indexOf(' ');
    const QByteArray command = line.left(space);
    const QJsonDocument argument = QJsonDocument::fromJson(line.mid(space + 1));
    if (command == "devices" && argument.isArray()) {
        server.setDevicesList(argument.array());
        return true;
    }
    if (command == "rx" && argument.isObject()) {
        server.pushRx(argument.object());
        return true;
    }
    return false;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    CFakeNetworkServer server;
    if (!server.listen())
        return 1;
    QTextStream out(stdout);
    out << "url " << server.url().toString() << Qt::endl;

    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    QSocketNotifier notifier(fileno(stdin), QSocketNotifier::Read);
    // Lines that arrived together are all in the file's buffer after the first read.
    QObject::connect(&notifier, &QSocketNotifier::activated, [&]() {
        do {
            const QByteArray line = input.readLine();
            if (line.isEmpty()) { // end of input
                app.quit();
                return;
            }
            const bool done = runCommand(server, line.trimmed());
            out << (done ? QByteArray("ok") : "error " + line.trimmed()) << Qt::endl;
        } while (input.canReadLine());
    });
    return app.exec();
}
