#pragma once

#include <QLoggingCategory>

// What the settings layer says on standard error, as "kavri.settings" messages. Debug messages are
// off unless QT_LOGGING_RULES turns them on (for example "kavri.settings.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
