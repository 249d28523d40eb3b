#pragma once

#include <QLoggingCategory>

// What the device layer says on standard error, as "kavri.device" messages. Debug messages are off
// unless QT_LOGGING_RULES turns them on (for example "kavri.device.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
