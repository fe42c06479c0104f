#pragma once

#include <QVector>
#include <QtGlobal>

#include <functional>
#include <optional>

// Reads the register image of a port: word i is register first + i; nothing when the registers
// cannot be read. The Modbus listeners are handed one, so they answer reads without knowing where
// the registers are kept.
using RegisterReader
    = std::function<std::optional<QVector<quint16>>(quint16 port, int first, int count)>;
