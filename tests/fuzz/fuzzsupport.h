#pragma once

#include "jsonduplicatekeys.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <optional>

// Helpers shared by the fuzz targets.

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

// A property that does not hold is a finding: libFuzzer reports the abort with its input.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The fuzzer's input as bytes, without a copy.
inline QByteArray inputBytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

// The text as Qt's JSON parser reads it (a null document when it is not JSON), or nothing when
// it repeats a key: the service refuses such text from outside before parsing it, since Qt's
// parser would lose memory on it, and the lost memory would end the run here.
inline std::optional<QJsonDocument> readJson(const QByteArray& text)
{
    if (hasDuplicateKeys(text))
        return std::nullopt;
    return QJsonDocument::fromJson(text);
}
