#include "dblogging.h"

Q_LOGGING_CATEGORY(lcDb, "tarvex.db")
