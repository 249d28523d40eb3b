#include "shortcuts/portalshortcutsroute.h"

#include "shortcuts/shortcutslog.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusVariant>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");
// The same session token on every start: a desktop may file the keys chosen by the user under
// it (KDE names the shortcuts' component after it).
const QString SessionToken = QStringLiteral("kavri");
constexpr int CallTimeoutMs = 5000;

// One shortcut as the portal lists them: its id and its properties.
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {

// What the desktop shows beside each key.
QString description(Shortcuts::Action action)
{
    switch (action) {
    case Shortcuts::ShowWhileHeld:
        return QStringLiteral("Show the effect while the key is held");
    case Shortcuts::Toggle:
        return QStringLiteral("Show or hide the effect");
    case Shortcuts::NextEffect:
        return QStringLiteral("Next effect");
    case Shortcuts::BlackScreen:
        return QStringLiteral("Black screen");
    case Shortcuts::SizeUp:
        return QStringLiteral("Make the effect bigger");
    case Shortcuts::SizeDown:
        return QStringLiteral("Make the effect smaller");
    case Shortcuts::ActionCount:
        break;
    }
    return QString();
}

QString keyName(int key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return QString(QChar(key).toLower());
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    static const QHash<int, QString> names = {
        {Qt::Key_Escape, "Escape"},
        {Qt::Key_Tab, "Tab"},
        {Qt::Key_Backspace, "BackSpace"},
        {Qt::Key_Return, "Return"},
        {Qt::Key_Enter, "KP_Enter"},
        {Qt::Key_Insert, "Insert"},
        {Qt::Key_Delete, "Delete"},
        {Qt::Key_Pause, "Pause"},
        {Qt::Key_Print, "Print"},
        {Qt::Key_Home, "Home"},
        {Qt::Key_End, "End"},
        {Qt::Key_Left, "Left"},
        {Qt::Key_Up, "Up"},
        {Qt::Key_Right, "Right"},
        {Qt::Key_Down, "Down"},
        {Qt::Key_PageUp, "Prior"},
        {Qt::Key_PageDown, "Next"},
        {Qt::Key_Menu, "Menu"},
        {Qt::Key_ScrollLock, "Scroll_Lock"},
        {Qt::Key_Space, "space"},
        {Qt::Key_Comma, "comma"},
        {Qt::Key_Period, "period"},
        {Qt::Key_Minus, "minus"},
        {Qt::Key_Plus, "plus"},
        {Qt::Key_Equal, "equal"},
        {Qt::Key_Slash, "slash"},
        {Qt::Key_Backslash, "backslash"},
        {Qt::Key_Semicolon, "semicolon"},
        {Qt::Key_Apostrophe, "apostrophe"},
        {Qt::Key_BracketLeft, "bracketleft"},
        {Qt::Key_BracketRight, "bracketright"},
        {Qt::Key_QuoteLeft, "grave"},
        {Qt::Key_VolumeUp, "XF86AudioRaiseVolume"},
        {Qt::Key_VolumeDown, "XF86AudioLowerVolume"},
        {Qt::Key_MediaPlay, "XF86AudioPlay"},
        {Qt::Key_MediaNext, "XF86AudioNext"},
        {Qt::Key_MediaPrevious, "XF86AudioPrev"},
    };
    return names.value(key);
}

// The table's bound actions as the portal takes them.
PortalShortcuts requested(const Shortcuts::Table &table)
{
    PortalShortcuts shortcuts;
    for (int a = 0; a < Shortcuts::ActionCount; ++a) {
        if (table[a].isEmpty())
            continue;
        QVariantMap properties{{QStringLiteral("description"), description(Shortcuts::Action(a))}};
        const QString preferred = PortalShortcutsRoute::trigger(table[a]);
        if (!preferred.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), preferred);
        shortcuts.append({Shortcuts::keyName(Shortcuts::Action(a)), properties});
    }
    return shortcuts;
}

// The session's shortcuts an answer lists, by id, with the keys the desktop gave them as the
// user reads them (empty: none).
QHash<QString, QString> listed(const QVariantMap &results)
{
    QHash<QString, QString> triggers;
    const auto shortcuts = qdbus_cast<PortalShortcuts>(
        results.value(QStringLiteral("shortcuts")).value<QDBusArgument>());
    for (const PortalShortcut &shortcut : shortcuts)
        triggers.insert(
            shortcut.id,
            shortcut.properties.value(QStringLiteral("trigger_description")).toString());
    return triggers;
}

} // namespace

PortalShortcutsRoute::PortalShortcutsRoute(const QDBusConnection &bus, QObject *parent)
    : ShortcutRoute(parent), m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
    // Qt D-Bus offers no typed connection to a remote signal.
    m_bus.connect(Service, Path, Interface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalShortcutsRoute::~PortalShortcutsRoute()
{
    closeSession();
}

bool PortalShortcutsRoute::isAvailable(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << Interface << QStringLiteral("version");
    const QDBusReply<QDBusVariant> version = bus.call(get, QDBus::Block, CallTimeoutMs);
    return version.isValid() && version.value().variant().toUInt() >= 1;
}

QString PortalShortcutsRoute::trigger(const QKeySequence &keys)
{
    const int combined = Shortcuts::combined(keys);
    const QString key = keyName(combined & ~int(Qt::KeyboardModifierMask));
    if (key.isEmpty())
        return QString();
    QString text;
    const std::pair<Qt::KeyboardModifier, const char *> modifiers[] = {
        {Qt::ControlModifier, "CTRL+"},
        {Qt::AltModifier, "ALT+"},
        {Qt::ShiftModifier, "SHIFT+"},
        {Qt::MetaModifier, "LOGO+"}};
    for (const auto &modifier : modifiers)
        if (combined & modifier.first)
            text += QLatin1String(modifier.second);
    return text + key;
}

bool PortalShortcutsRoute::apply(const Shortcuts::Table &table)
{
    m_table = table;
    if (m_step != Step::Idle) {
        m_tableChanged = true;
        return true;
    }
    closeSession();
    if (Shortcuts::isEmpty(m_table))
        return true;
    m_step = Step::Creating;
    // KDE's portal of Plasma 5.27 registers the shortcuts it is given here and lists them in its
    // answer (its BindShortcuts only opens System Settings); the others ignore the option.
    return request(
        QStringLiteral("CreateSession"),
        {QVariantMap{{QStringLiteral("session_handle_token"), SessionToken},
                     {QStringLiteral("shortcuts"), QVariant::fromValue(requested(m_table))}}},
        QStringLiteral("opens no session"));
}

// Calls a method whose answer comes as the Response signal of a request object. The object's
// path follows from the caller's name and the request's token, so the signal is listened to
// before the call: the answer may come before the call's reply.
bool PortalShortcutsRoute::request(const QString &method, QVariantList arguments,
                                   const QString &failure)
{
    const QString token = QStringLiteral("kavri%1").arg(++m_requests);
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    m_request = Path + QStringLiteral("/request/") +
                m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')) +
                QLatin1Char('/') + token;
    m_failure = failure;
    m_bus.connect(Service, m_request, RequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    call.setArguments(arguments);
    const QDBusReply<QDBusObjectPath> handle = m_bus.call(call, QDBus::Block, CallTimeoutMs);
    if (handle.isValid() && handle.value().path() == m_request)
        return true;
    m_bus.disconnect(Service, m_request, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    if (handle.isValid()) { // a portal that does not name its requests as it should
        m_request = handle.value().path();
        return m_bus.connect(Service, m_request, RequestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(uint, QVariantMap)));
    }
    qCWarning(lcShortcuts,
              "Kavri: shortcuts: the desktop portal %s (%s); no shortcut works in this run.",
              qPrintable(failure), qPrintable(handle.error().message()));
    m_step = Step::Idle;
    m_request.clear();
    return false;
}

void PortalShortcutsRoute::onResponse(uint response, const QVariantMap &results)
{
    m_bus.disconnect(Service, m_request, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_request.clear();
    if (response != 0) {
        // 1: the user cancelled; 2: the desktop refused.
        qCWarning(lcShortcuts,
                  "Kavri: shortcuts: the desktop portal %s (answer %u); no shortcut works "
                  "in this run.",
                  qPrintable(m_failure), response);
        m_step = Step::Idle;
        return;
    }
    const QHash<QString, QString> triggers = listed(results);
    if (m_step == Step::Creating) {
        // An object path, or its text in older portals.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                         : handle.toString();
        // A table that came meanwhile is bound in the new session.
        const bool changed = std::exchange(m_tableChanged, false);
        bool allListed = true;
        for (const PortalShortcut &shortcut : requested(m_table))
            allListed = allListed && triggers.contains(shortcut.id);
        if (changed || !allListed) {
            m_step = Step::Binding;
            request(QStringLiteral("BindShortcuts"),
                    {QVariant::fromValue(QDBusObjectPath(m_session)),
                     QVariant::fromValue(requested(m_table)), QString(), QVariantMap()},
                    QStringLiteral("binds no shortcut"));
            return;
        }
    }
    m_step = Step::Idle;
    for (auto it = triggers.cbegin(); it != triggers.cend(); ++it) {
        const std::optional<Shortcuts::Action> action = Shortcuts::actionNamed(it.key());
        if (action && it.value().isEmpty() && !m_table[*action].isEmpty())
            emit refused(*action);
    }
    if (m_tableChanged) {
        m_tableChanged = false;
        apply(m_table);
    }
}

void PortalShortcutsRoute::closeSession()
{
    if (m_session.isEmpty())
        return;
    // Waited for: a new session under the same token must not meet this one.
    m_bus.call(QDBusMessage::createMethodCall(Service, m_session, SessionInterface,
                                              QStringLiteral("Close")),
               QDBus::Block, CallTimeoutMs);
    m_session.clear();
}

void PortalShortcutsRoute::onActivated(const QDBusObjectPath &session, const QString &id,
                                       qulonglong, const QVariantMap &)
{
    if (session.path() != m_session)
        return;
    if (const std::optional<Shortcuts::Action> action = Shortcuts::actionNamed(id))
        emit pressed(*action);
}

void PortalShortcutsRoute::onDeactivated(const QDBusObjectPath &session, const QString &id,
                                         qulonglong, const QVariantMap &)
{
    if (session.path() != m_session)
        return;
    if (const std::optional<Shortcuts::Action> action = Shortcuts::actionNamed(id))
        emit released(*action);
}
