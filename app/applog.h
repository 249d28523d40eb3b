#pragma once

#include <QLoggingCategory>

// What the app layer says on standard error, as "kavri.app" messages. Debug messages are off
// unless QT_LOGGING_RULES turns them on (for example "kavri.app.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
