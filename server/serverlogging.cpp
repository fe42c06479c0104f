#include "serverlogging.h"

Q_LOGGING_CATEGORY(lcServer, "tarvex.server")
