#include "shortcuts/shortcutslog.h"

Q_LOGGING_CATEGORY(lcShortcuts, "kavri.shortcuts", QtInfoMsg)
