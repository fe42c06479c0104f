#include "nssimlogging.h"

Q_LOGGING_CATEGORY(lcNsSim, "tarvex.nssim")
