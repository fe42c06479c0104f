#pragma once

#include <QString>
#include <QVariant>

// Formats a stored full value for the web interface; "-" wherever nothing better applies.
QString regValueToString(const QString& dataType, const QVariant& value, int bitSize);
