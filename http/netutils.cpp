#include "netutils.h"

namespace Utils::Net {

QList<QSslCertificate> loadSSLCertificate(const QByteArray& data)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(data, QSsl::Pem);
    // The framework silently skips a block it cannot decode, so count the blocks as well:
    // a damaged chain must not pass as a shorter one.
    if (certificates.size() != data.count("-----BEGIN CERTIFICATE-----"))
        return {};
    for (const QSslCertificate& certificate : certificates) {
        if (certificate.isNull())
            return {};
    }
    return certificates;
}

} // namespace Utils::Net
