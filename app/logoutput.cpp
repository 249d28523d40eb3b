#include "app/logoutput.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace LogOutput {

namespace {

QtMessageHandler previousHandler = nullptr;

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!context.category || std::strncmp(context.category, "kavri.", 6) != 0) {
        previousHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void install()
{
    previousHandler = qInstallMessageHandler(&handle);
}

} // namespace LogOutput
