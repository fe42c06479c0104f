#pragma once

#include <QVector>

#include <string_view>

namespace Utils::ByteArray {

enum class EmptyPieces { Keep, Skip };

// Cuts the bytes at every separator without copying; the views point into the given bytes.
// A trailing separator produces no final empty piece.
QVector<std::string_view> splitToViews(std::string_view bytes, std::string_view separator,
    EmptyPieces emptyPieces = EmptyPieces::Skip);

} // namespace Utils::ByteArray
