#include "shortcuts/kglobalaccelroute.h"

#include "shortcuts/shortcutslog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace {

const QString Service = QStringLiteral("org.kde.kglobalaccel");
const QString Path = QStringLiteral("/kglobalaccel");
const QString Interface = QStringLiteral("org.kde.KGlobalAccel");
const QString ComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");
const QString Component = QStringLiteral("kavri");
// setShortcut's flags: the keys are the action's defaults; the action is present now.
constexpr uint IsDefault = 1;
constexpr uint SetPresent = 2;
constexpr int CallTimeoutMs = 2000;

// Component, action, and their names as System Settings shows them.
QStringList actionId(Shortcuts::Action action)
{
    return {Component, Shortcuts::keyName(action), QStringLiteral("Kavri"),
            Shortcuts::keyName(action)};
}

} // namespace

KGlobalAccelRoute::KGlobalAccelRoute(const QDBusConnection &bus, QObject *parent)
    : ShortcutRoute(parent), m_bus(bus)
{
}

bool KGlobalAccelRoute::isAvailable(const QDBusConnection &bus)
{
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(Service).value();
}

bool KGlobalAccelRoute::apply(const Shortcuts::Table &table)
{
    const auto call = [this](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        message.setArguments(arguments);
        return m_bus.call(message, QDBus::Block, CallTimeoutMs);
    };
    for (int a = 0; a < Shortcuts::ActionCount; ++a) {
        const auto action = Shortcuts::Action(a);
        if (table[a].isEmpty()) {
            call(QStringLiteral("unregister"), {Component, Shortcuts::keyName(action)});
            continue;
        }
        const QStringList id = actionId(action);
        const QList<int> keys{Shortcuts::combined(table[a])};
        const QDBusMessage registered = call(QStringLiteral("doRegister"), {id});
        if (registered.type() == QDBusMessage::ErrorMessage) {
            qCWarning(lcShortcuts,
                      "Kavri: shortcuts: KDE's shortcut service does not answer "
                      "(%s); no shortcut works in this run.",
                      qPrintable(registered.errorMessage()));
            return false;
        }
        call(QStringLiteral("setShortcut"), {id, QVariant::fromValue(keys), IsDefault});
        // The keys the action has now: none (0) when another component holds the combination.
        const QDBusReply<QList<int>> given =
            call(QStringLiteral("setShortcut"), {id, QVariant::fromValue(keys), SetPresent});
        if (given.isValid() && given.value().count(0) == given.value().size())
            emit refused(action);
    }
    if (m_listening)
        return true;
    const QDBusReply<QDBusObjectPath> component = m_bus.call(
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("getComponent"))
            << Component,
        QDBus::Block, CallTimeoutMs);
    if (!component.isValid()) {
        qCWarning(lcShortcuts,
                  "Kavri: shortcuts: KDE's shortcut service has no component for "
                  "Kavri (%s); no shortcut works in this run.",
                  qPrintable(component.error().message()));
        return false;
    }
    // Qt D-Bus offers no typed connection to a remote signal.
    const QString path = component.value().path();
    m_listening =
        m_bus.connect(Service, path, ComponentInterface, QStringLiteral("globalShortcutPressed"),
                      this, SLOT(onPressed(QString, QString, qlonglong))) &&
        m_bus.connect(Service, path, ComponentInterface, QStringLiteral("globalShortcutReleased"),
                      this, SLOT(onReleased(QString, QString, qlonglong)));
    return m_listening;
}

void KGlobalAccelRoute::onPressed(const QString &component, const QString &action, qlonglong)
{
    if (component != Component)
        return;
    if (const std::optional<Shortcuts::Action> which = Shortcuts::actionNamed(action))
        emit pressed(*which);
}

void KGlobalAccelRoute::onReleased(const QString &component, const QString &action, qlonglong)
{
    if (component != Component)
        return;
    if (const std::optional<Shortcuts::Action> which = Shortcuts::actionNamed(action))
        emit released(*which);
}
