#include "templatelogging.h"

Q_LOGGING_CATEGORY(lcTemplates, "tarvex.templates")
