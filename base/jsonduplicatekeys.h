#pragma once

#include <QByteArray>

// Qt 5's JSON parser loses the memory of an object's or array's value when a later member of the
// same object repeats its key: a peer that sends {"a":[...],"a":1} again and again would fill the
// memory of a small controller. Text that comes from outside is therefore checked with this
// before it is parsed, and refused when it repeats a key.

// True when some object of the JSON text has two members with the same key, compared as the
// parser reads keys (escapes resolved). Text that is not JSON gives an answer of no meaning; the
// parser refuses it anyway.
bool hasDuplicateKeys(const QByteArray& json);
