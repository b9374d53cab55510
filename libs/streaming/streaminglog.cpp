#include "streaminglog.h"

Q_LOGGING_CATEGORY(lcStreaming, "nerio.streaming")
Q_LOGGING_CATEGORY(lcPsi, "nerio.psi")
