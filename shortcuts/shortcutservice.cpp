#include "shortcuts/shortcutservice.h"

#include "shortcuts/shortcutslog.h"

#ifdef KAVRI_SHORTCUTS_X11
#include "shortcuts/x11/x11shortcutgrabber.h"
#endif

ShortcutService::ShortcutService(SettingsStore &store, PresenterState &state,
                                 const QString &platformName, QObject *parent)
    : QObject(parent), m_store(store), m_driver(state)
{
#ifdef KAVRI_SHORTCUTS_X11
    // Under XWayland a grab sees keys only while an X window has the focus: no route there.
    if (platformName == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        m_route = Route::X11;
#else
    Q_UNUSED(platformName)
#endif
}

ShortcutService::~ShortcutService() = default;

QString ShortcutService::describe(Route route)
{
    switch (route) {
    case Route::X11:
        return QStringLiteral("X11 key grabs");
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
    if (Shortcuts::isEmpty(m_table) && !m_grabber)
        return;
    if (!m_routeTold) {
        m_routeTold = true;
        qCInfo(lcShortcuts, "Kavri: shortcuts: %s", qPrintable(describe(m_route)));
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
        connect(m_grabber.get(), &X11ShortcutGrabber::pressed, this,
                [this](Shortcuts::Action action) { m_driver.press(action); });
        connect(m_grabber.get(), &X11ShortcutGrabber::released, this,
                [this](Shortcuts::Action action) { m_driver.release(action); });
    }
    const QVector<Shortcuts::Action> refused = m_grabber->grab(m_table);
    for (Shortcuts::Action action : refused) {
        const QString keys = m_table[action].toString(QKeySequence::PortableText);
        qCWarning(lcShortcuts,
                  "Kavri: the shortcut %s (%s) cannot be taken: another program holds that key "
                  "combination, or no key gives it. The other shortcuts work.",
                  qPrintable(Shortcuts::keyName(action)), qPrintable(keys));
        emit shortcutTaken(keys);
    }
#endif
}
