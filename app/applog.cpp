#include "app/applog.h"

Q_LOGGING_CATEGORY(lcApp, "kavri.app", QtInfoMsg)
