#include "shortcuts/shortcutservice.h"

#include "shortcuts/kglobalaccelroute.h"
#include "shortcuts/portalshortcutsroute.h"
#include "shortcuts/shortcutslog.h"

#include <QDir>
#include <QFileInfo>

#ifdef KAVRI_SHORTCUTS_X11
#include "shortcuts/x11/x11shortcutgrabber.h"
#endif

ShortcutService::ShortcutService(SettingsStore &store, PresenterState &state,
                                 const QString &platformName, QObject *parent)
    : QObject(parent), m_store(store), m_driver(state), m_platformName(platformName)
{
}

void ShortcutService::chooseRoute()
{
#ifdef KAVRI_SHORTCUTS_X11
    // Under XWayland a grab sees keys only while an X window has the focus: no route there.
    if (m_platformName == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        m_route = Route::X11;
        return;
    }
#endif
    if (m_platformName == QLatin1String("offscreen") ||
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    // Only a bus the session names: asking for the session bus without one would start a
    // private dbus-daemon.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")))))
        return;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (PortalShortcutsRoute::isAvailable(bus))
        m_route = Route::Portal;
    else if (KGlobalAccelRoute::isAvailable(bus))
        m_route = Route::KdeGlobalAccel;
}

void ShortcutService::press(Shortcuts::Action action)
{
    if (m_held[action])
        return;
    m_held[action] = true;
    m_driver.press(action);
}

void ShortcutService::release(Shortcuts::Action action)
{
    if (!m_held[action])
        return;
    m_held[action] = false;
    m_driver.release(action);
}

ShortcutService::~ShortcutService() = default;

QString ShortcutService::describe(Route route)
{
    switch (route) {
    case Route::X11:
        return QStringLiteral("X11 key grabs");
    case Route::KdeGlobalAccel:
        return QStringLiteral("KDE global shortcuts (org.kde.kglobalaccel)");
    case Route::Portal:
        return QStringLiteral("the desktop portal's global shortcuts "
                              "(org.freedesktop.portal.GlobalShortcuts)");
    case Route::None:
        break;
    }
    return QStringLiteral("not available on this session (bind kavri --toggle in the "
                          "desktop's settings)");
}

void ShortcutService::start()
{
    m_table = Shortcuts::read(m_store);
    apply();
}

void ShortcutService::bind(Shortcuts::Action action, const QKeySequence &keys)
{
    if (m_table[action] == keys)
        return;
    m_table[action] = keys;
    Shortcuts::write(m_store, action, keys);
    apply();
}

void ShortcutService::apply()
{
    if (Shortcuts::isEmpty(m_table) && !m_grabber && !m_desktop)
        return;
    if (!m_routeTold) {
        m_routeTold = true;
        chooseRoute();
        qCInfo(lcShortcuts, "Kavri: shortcuts: %s", qPrintable(describe(m_route)));
    }
    if (m_route == Route::KdeGlobalAccel || m_route == Route::Portal) {
        if (!m_desktop) {
            const QDBusConnection bus = QDBusConnection::sessionBus();
            if (m_route == Route::Portal)
                m_desktop = new PortalShortcutsRoute(bus, this);
            else
                m_desktop = new KGlobalAccelRoute(bus, this);
            connect(m_desktop, &ShortcutRoute::pressed, this, &ShortcutService::press);
            connect(m_desktop, &ShortcutRoute::released, this, &ShortcutService::release);
            connect(m_desktop, &ShortcutRoute::refused, this, &ShortcutService::refuse);
        }
        m_held.fill(false);
        m_desktop->apply(m_table);
        return;
    }
#ifdef KAVRI_SHORTCUTS_X11
    if (m_route != Route::X11)
        return;
    if (!m_grabber) {
        m_grabber = X11ShortcutGrabber::open();
        if (!m_grabber) {
            qCWarning(lcShortcuts, "Kavri: shortcuts: the X display cannot be opened; no "
                                   "shortcut works in this run.");
            m_route = Route::None;
            return;
        }
        connect(m_grabber.get(), &X11ShortcutGrabber::pressed, this, &ShortcutService::press);
        connect(m_grabber.get(), &X11ShortcutGrabber::released, this, &ShortcutService::release);
    }
    m_held.fill(false);
    for (Shortcuts::Action action : m_grabber->grab(m_table))
        refuse(action);
#endif
}

void ShortcutService::refuse(Shortcuts::Action action)
{
    const QString keys = m_table[action].toString(QKeySequence::PortableText);
    qCWarning(lcShortcuts,
              "Kavri: the shortcut %s (%s) cannot be taken: another program holds that key "
              "combination, or no key gives it. The other shortcuts work.",
              qPrintable(Shortcuts::keyName(action)), qPrintable(keys));
    emit shortcutTaken(keys);
}
