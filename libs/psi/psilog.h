#pragma once
// Diagnostics of section assembly and table decoding; never shown to the operator.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPsiSection)
