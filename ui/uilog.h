#pragma once

#include <QLoggingCategory>

// What the ui layer says on standard error, as "kavri.ui" messages. Debug messages are off
// unless QT_LOGGING_RULES turns them on (for example "kavri.ui.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcUi)
