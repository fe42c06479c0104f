#pragma once

#include <QByteArray>

namespace Utils::Gzip {

// A complete gzip stream (header, deflate data, CRC trailer) of the data; empty on failure,
// with ok (when given) telling the two apart.
QByteArray compress(const QByteArray& data, int level = 6, bool* ok = nullptr);

} // namespace Utils::Gzip
