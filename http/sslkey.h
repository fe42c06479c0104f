#pragma once

#include <QSslKey>

namespace Utils::SSLKey {

// A PEM private key without pass phrase, EC or RSA; null when neither can be read.
QSslKey load(const QByteArray& data);

} // namespace Utils::SSLKey
