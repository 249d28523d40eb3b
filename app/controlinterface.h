#pragma once

#include "presenter/screenmode.h"

#include <QString>
#include <QStringList>

#include <optional>

// Names shared by the control interface Kavri offers on the session bus and the command line
// that calls it: where it is, and the effect names it takes.
namespace ControlInterface {

inline const QString Service = QStringLiteral("org.kavri.Kavri");
inline const QString Path = QStringLiteral("/org/kavri/Kavri");
inline const QString Interface = QStringLiteral("org.kavri.Kavri");

// The effect names, in ScreenMode order: none, spotlight, laser, magnifier, black.
QStringList effectNames();
QString effectName(ScreenMode mode);
std::optional<ScreenMode> effectOf(const QString &name);
// "none, spotlight, laser, magnifier or black", for messages.
QString allowedEffects();

// libdbus finds the session bus through DBUS_SESSION_BUS_ADDRESS or the runtime folder's
// "bus" socket; without either it might launch a bus of its own, which neither the program
// nor a command should ever wait for.
bool sessionBusAddressKnown();

} // namespace ControlInterface
