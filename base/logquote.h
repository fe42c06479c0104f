#pragma once

#include <QByteArray>
#include <QString>

// Outside data (payloads, peer messages, template values) quoted in a log line: at most its
// first 256 bytes, followed by its whole length when it was cut, so that a peer cannot flood the
// log through one message.
QString logQuote(const QString& text);
// The same for binary data, quoted as lower-case hexadecimal digits.
QString logQuoteHex(const QByteArray& bytes);
