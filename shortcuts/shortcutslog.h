#pragma once

#include <QLoggingCategory>

// What the shortcuts layer says on standard error, as "kavri.shortcuts" messages. Debug
// messages are off unless QT_LOGGING_RULES turns them on ("kavri.shortcuts.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcShortcuts)
