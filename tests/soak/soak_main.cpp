// tarvex-soak: runs the service (TARVEX_BINARY) for a while under a steady load of uplinks,
// Modbus masters and web clients, then checks that nothing was lost, torn or leaked.
#include "csoakrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

namespace {
const int DEFAULT_DURATION_S = 120;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The simulator notes every uplink it sends.
    QLoggingCategory::setFilterRules(QStringLiteral("tarvex.nssim.info=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription("Soak test of the service named by TARVEX_BINARY.");
    parser.addHelpOption();
    const QCommandLineOption durationOption("duration",
        "Seconds of load after the warm-up (default 120).", "seconds",
        QString::number(DEFAULT_DURATION_S));
    parser.addOption(durationOption);
    parser.process(app);

    bool valid = false;
    const int durationS = parser.value(durationOption).toInt(&valid);
    if (!valid || durationS <= 0 || qEnvironmentVariableIsEmpty("TARVEX_BINARY")) {
        QTextStream(stderr) << "tarvex-soak: give --duration in seconds above 0 and set "
                               "TARVEX_BINARY to the service's program\n";
        return 2;
    }
    return CSoakRun(durationS).run();
}
