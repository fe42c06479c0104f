#pragma once

#include <QString>

namespace COMM {
extern const QString VERSION;
extern const QString RELEASE_CANDIDATE;
extern const QString TITLE;
} // namespace COMM
