#include "sslkey.h"

namespace Utils::SSLKey {

QSslKey load(const QByteArray& data)
{
    const QSslKey ecKey(data, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (!ecKey.isNull())
        return ecKey;
    return QSslKey(data, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
}

} // namespace Utils::SSLKey
