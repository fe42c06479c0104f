#pragma once

#include <QString>

namespace COMM {
extern const QString VERSION;
extern const QString RELEASE_CANDIDATE;
extern const QString TITLE;
// Device template files live in this folder below the working directory.
extern const QString DEVICE_FOLDER;
} // namespace COMM
