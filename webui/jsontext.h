#pragma once

#include <QByteArray>
#include <QString>

// Compact JSON text written straight into a byte array, the same bytes QJsonDocument writes for
// the same values. For answers rebuilt so often that building a QJsonObject first costs more
// than all the rest of their request.
namespace JsonText {
// value in double quotes: quotes, backslashes and control characters escaped, the rest as UTF-8.
void appendString(QByteArray& out, const QString& value);
// A string, then the colon that ends an object key.
void appendKey(QByteArray& out, const QString& key);
// Whole numbers without a fraction, others in the shortest form that reads back the same; NaN
// and the infinities, which JSON cannot hold, as null.
void appendNumber(QByteArray& out, double value);
void appendInteger(QByteArray& out, qint64 value);

// Object members: "key":value and a comma; endObject turns the last comma into the closing
// brace (an object without members starts with the brace it ends with).
void appendStringMember(QByteArray& out, const QString& key, const QString& value);
void appendIntegerMember(QByteArray& out, const QString& key, qint64 value);
void appendNumberMember(QByteArray& out, const QString& key, double value);
void endObject(QByteArray& out);
} // namespace JsonText
