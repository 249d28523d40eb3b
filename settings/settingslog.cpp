#include "settings/settingslog.h"

Q_LOGGING_CATEGORY(lcSettings, "kavri.settings", QtInfoMsg)
