#include "presenter/presenterlog.h"

Q_LOGGING_CATEGORY(lcPresenter, "kavri.presenter", QtInfoMsg)
