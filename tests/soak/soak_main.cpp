// tarvex-soak --duration SECONDS: runs the service (TARVEX_BINARY) for a while under a steady
// load of uplinks, Modbus masters and web clients, then checks that nothing was lost, torn or
// leaked.
#include "csoakrun.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The simulator notes every uplink it sends.
    QLoggingCategory::setFilterRules(QStringLiteral("tarvex.nssim.info=false"));
    const QStringList arguments = app.arguments();
    const int duration = arguments.indexOf("--duration") + 1;
    const int durationS = duration > 0 ? arguments.value(duration).toInt() : 120;
    if (durationS <= 0 || qEnvironmentVariableIsEmpty("TARVEX_BINARY")) {
        QTextStream(stderr) << "usage: TARVEX_BINARY=<tarvex> tarvex-soak [--duration seconds]\n";
        return 2;
    }
    return CSoakRun(durationS).run();
}
