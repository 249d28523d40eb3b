#pragma once

#include "shortcuts/shortcutroute.h"

#include <QDBusConnection>

// Global shortcuts through KDE's shortcut service (org.kde.kglobalaccel on the session bus),
// which KDE Plasma runs on Wayland and on X11, and which reports presses and releases. The
// actions are registered as the component "kavri" with the table's combinations as their
// defaults: System Settings then lists them under Kavri, and a key the user chose there wins
// over the table's. Unbound actions are unregistered. Qt D-Bus only, no KDE library.
class KGlobalAccelRoute final : public ShortcutRoute
{
    Q_OBJECT

public:
    explicit KGlobalAccelRoute(const QDBusConnection &bus, QObject *parent = nullptr);

    // Whether the session bus has the service.
    static bool isAvailable(const QDBusConnection &bus);

    // Registers the bound actions and listens to the component.
    bool apply(const Shortcuts::Table &table) override;

private slots:
    void onPressed(const QString &component, const QString &action, qlonglong timestamp);
    void onReleased(const QString &component, const QString &action, qlonglong timestamp);

private:
    QDBusConnection m_bus;
    bool m_listening = false;
};
