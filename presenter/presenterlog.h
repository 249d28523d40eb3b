#pragma once

#include <QLoggingCategory>

// What the presenter layer says on standard error, as "kavri.presenter" messages. Debug messages
// are off unless QT_LOGGING_RULES turns them on (for example "kavri.presenter.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcPresenter)
