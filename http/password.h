#pragma once

#include <QByteArray>
#include <QString>

namespace Utils::Password {

// Compares in a time that depends only on the lengths, so a mismatch position cannot be timed.
bool slowEquals(const QByteArray& a, const QByteArray& b);

// Stored password hashes: Base64(salt) ":" Base64(PBKDF2-HMAC-SHA512 key).
namespace PBKDF2 {

QByteArray generate(const QString& password);
QByteArray generate(const QByteArray& password);

bool verify(const QByteArray& secret, const QString& password);
bool verify(const QByteArray& secret, const QByteArray& password);

} // namespace PBKDF2

} // namespace Utils::Password
