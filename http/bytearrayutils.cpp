#include "bytearrayutils.h"

namespace Utils::ByteArray {

QVector<std::string_view> splitToViews(
    std::string_view bytes, std::string_view separator, EmptyPieces emptyPieces)
{
    if (separator.empty())
        return {bytes};

    QVector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find(separator, start);
        if (end == std::string_view::npos)
            end = bytes.size();
        const std::string_view piece = bytes.substr(start, end - start);
        if (!piece.empty() || emptyPieces == EmptyPieces::Keep)
            pieces.append(piece);
        start = end + separator.size();
    }
    return pieces;
}

} // namespace Utils::ByteArray
