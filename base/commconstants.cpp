#include "commconstants.h"

namespace COMM {
const QString VERSION = QStringLiteral("2.2.1");
// "rc" followed by the candidate number in a release-candidate build; empty in a release.
const QString RELEASE_CANDIDATE;
const QString TITLE = QStringLiteral("Tarvex %1%2").arg(VERSION, RELEASE_CANDIDATE);
const QString DEVICE_FOLDER = QStringLiteral("deviceFolder");
} // namespace COMM
