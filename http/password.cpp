#include "password.h"

#include "random.h"

#include <QList>

#include <openssl/evp.h>

#include <array>

namespace Utils::Password {

bool slowEquals(const QByteArray& a, const QByteArray& b)
{
    const int lengthA = a.length();
    const int lengthB = b.length();
    int difference = lengthA ^ lengthB;
    for (int i = 0; (i < lengthA) && (i < lengthB); ++i)
        difference |= a[i] ^ b[i];
    return difference == 0;
}

namespace PBKDF2 {

const EVP_MD* const hashMethod = EVP_sha512();

namespace {

constexpr int ITERATIONS = 100000;
constexpr int SALT_WORDS = 4;
constexpr int KEY_SIZE = 64;

// The derived key, or empty bytes when the derivation fails.
QByteArray deriveKey(const QByteArray& password, const QByteArray& salt)
{
    QByteArray key(KEY_SIZE, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(password.constData(), password.size(),
        reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(), ITERATIONS,
        hashMethod, key.size(), reinterpret_cast<unsigned char*>(key.data()));
    return (ok == 1) ? key : QByteArray();
}

} // namespace

QByteArray generate(const QString& password)
{
    return generate(password.toUtf8());
}

QByteArray generate(const QByteArray& password)
{
    std::array<quint32, SALT_WORDS> saltWords;
    for (quint32& word : saltWords)
        word = Random::rand(0, 0xFFFFFFFF);
    const QByteArray salt(
        reinterpret_cast<const char*>(saltWords.data()), static_cast<int>(sizeof(saltWords)));

    const QByteArray key = deriveKey(password, salt);
    if (key.isEmpty())
        return {};
    return salt.toBase64() + ':' + key.toBase64();
}

bool verify(const QByteArray& secret, const QString& password)
{
    return verify(secret, password.toUtf8());
}

bool verify(const QByteArray& secret, const QByteArray& password)
{
    const QList<QByteArray> pieces = secret.split(':');
    QList<QByteArray> nonEmpty;
    for (const QByteArray& piece : pieces) {
        if (!piece.isEmpty())
            nonEmpty.append(piece);
    }
    if (nonEmpty.size() != 2)
        return false;

    const QByteArray salt = QByteArray::fromBase64(nonEmpty.at(0));
    const QByteArray storedKey = QByteArray::fromBase64(nonEmpty.at(1));
    const QByteArray key = deriveKey(password, salt);
    if (key.isEmpty())
        return false;
    return slowEquals(storedKey, key);
}

} // namespace PBKDF2

} // namespace Utils::Password
