#include "httplogging.h"

Q_LOGGING_CATEGORY(lcHttp, "tarvex.http")
