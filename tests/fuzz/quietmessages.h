#pragma once

#include <QtGlobal>

// The parsers warn about every bad input; at fuzzing speed that is only noise. Installed once,
// by the first input.
inline void silenceQtMessages()
{
    static const bool silenced = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(silenced);
}
