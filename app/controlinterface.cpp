#include "app/controlinterface.h"

#include <QFileInfo>

namespace ControlInterface {

QStringList effectNames()
{
    return {QStringLiteral("none"), QStringLiteral("spotlight"), QStringLiteral("laser"),
            QStringLiteral("magnifier"), QStringLiteral("black")};
}

QString effectName(ScreenMode mode)
{
    return effectNames().value(int(mode), QStringLiteral("none"));
}

std::optional<ScreenMode> effectOf(const QString &name)
{
    const int index = effectNames().indexOf(name);
    if (index < 0)
        return std::nullopt;
    return ScreenMode(index);
}

QString allowedEffects()
{
    QStringList names = effectNames();
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool sessionBusAddressKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace ControlInterface
