#include "commandlog.h"

Q_LOGGING_CATEGORY(lcCommand, "nerio.command")
