#pragma once

#include "shortcuts/shortcutroute.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QVariantMap>

// Global shortcuts through the freedesktop desktop portal's GlobalShortcuts interface
// (org.freedesktop.portal.Desktop on the session bus), which reports a shortcut's activation
// and deactivation, so its press and release. The bound actions are one portal session: each
// new table closes the session (the desktop gives its keys back) and binds the actions in a
// new one, with the table's combinations as the preferred triggers; the desktop may let the
// user choose others. The portal answers each request later, with a signal on the request's
// own object: a table that comes while one is being bound is bound after it. Qt D-Bus only.
class PortalShortcutsRoute final : public ShortcutRoute
{
    Q_OBJECT

public:
    explicit PortalShortcutsRoute(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalShortcutsRoute() override;

    // Whether the session's portal offers global shortcuts (its GlobalShortcuts interface has
    // a version). Asking starts the portal where the bus can start it.
    static bool isAvailable(const QDBusConnection &bus);

    bool apply(const Shortcuts::Table &table) override;

    // A combination as the portal's preferred trigger: modifiers and the key's XKB name
    // ("LOGO+F8", "CTRL+SHIFT+b"); empty for a key that has no such name.
    static QString trigger(const QKeySequence &keys);

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp,
                     const QVariantMap &options);
    void onDeactivated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp,
                       const QVariantMap &options);

private:
    enum class Step { Idle, Creating, Binding };

    bool request(const QString &method, QVariantList arguments, const QString &failure);
    void closeSession();

    QDBusConnection m_bus;
    Shortcuts::Table m_table;
    bool m_tableChanged = false; // while a request runs
    Step m_step = Step::Idle;
    QString m_session;  // the open session's object path
    QString m_request;  // the request awaiting its answer
    int m_requests = 0; // for the requests' tokens
    QString m_failure;  // what the line says when the portal refuses the request
};
