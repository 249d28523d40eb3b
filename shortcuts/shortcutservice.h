#pragma once

#include "shortcuts/shortcutdriver.h"
#include "shortcuts/shortcuttable.h"

#include <QObject>
#include <QString>

#include <memory>

class PresenterState;
class SettingsStore;
class ShortcutRoute;
class X11ShortcutGrabber;

// The keyboard shortcuts of one run: reads the table from the settings file, picks the route
// by which the session delivers global keys, and turns the keys' presses and releases into
// the presenter state's calls (ShortcutDriver). Nothing is grabbed, and nothing said, while
// no shortcut is bound. The routes:
//   - an X server (not XWayland): the keys grabbed on the root window;
//   - a Wayland session whose desktop portal offers global shortcuts: the actions bound in a
//     portal session, with the table's keys as the preferred ones;
//   - a Wayland session with KDE's shortcut service on the session bus but no such portal
//     (KDE Plasma): the actions registered there, with the table's keys as defaults;
//   - any other session: none; the desktop's own shortcut settings can run `kavri --toggle`.
// It says once on standard error which route it takes, when the first shortcut is bound.
class ShortcutService final : public QObject
{
    Q_OBJECT

public:
    enum class Route { None, X11, KdeGlobalAccel, Portal };

    // `store` and `state` must outlive the service. `platformName`: Qt's window-system
    // backend ("xcb", "wayland", "offscreen").
    ShortcutService(SettingsStore &store, PresenterState &state, const QString &platformName,
                    QObject *parent = nullptr);
    ~ShortcutService() override;

    // Reads the stored table and takes the keys.
    void start();
    // The user binds `keys` to `action` (an empty sequence unbinds it): stored, and the keys
    // taken again.
    void bind(Shortcuts::Action action, const QKeySequence &keys);

    const Shortcuts::Table &table() const { return m_table; }
    Route route() const { return m_route; }
    // The start-up line's words for the route.
    static QString describe(Route route);

signals:
    // Another program holds the combination `keys` (portable text), or no key gives it: that
    // shortcut does not work. Told once per combination and binding.
    void shortcutTaken(const QString &keys);

private:
    void apply();
    void chooseRoute();
    void press(Shortcuts::Action action);
    void release(Shortcuts::Action action);
    void refuse(Shortcuts::Action action);

    SettingsStore &m_store;
    ShortcutDriver m_driver;
    QString m_platformName;
    Route m_route = Route::None;
    bool m_routeTold = false;
    Shortcuts::Table m_table;
    std::unique_ptr<X11ShortcutGrabber> m_grabber;
    ShortcutRoute *m_desktop = nullptr; // a child: the KDE or the portal route
    // The actions whose key is down: a second press before the release is a repeat.
    std::array<bool, Shortcuts::ActionCount> m_held{};
};
