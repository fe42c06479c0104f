#pragma once

#include <QList>
#include <QSslCertificate>

namespace Utils::Net {

// Every PEM certificate of the data in file order (own certificate first, then its chain);
// empty when any block cannot be read.
QList<QSslCertificate> loadSSLCertificate(const QByteArray& data);

} // namespace Utils::Net
