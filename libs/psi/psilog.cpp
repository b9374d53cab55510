#include "psilog.h"

Q_LOGGING_CATEGORY(lcPsiSection, "nerio.psi.section")
