#include "linklog.h"

Q_LOGGING_CATEGORY(lcLink, "nerio.link")
Q_LOGGING_CATEGORY(lcLinkTraffic, "nerio.link.traffic", QtWarningMsg)
