#include "app/controlservice.h"

#include "app/applog.h"
#include "app/controlinterface.h"
#include "presenter/presenterstate.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

ControlService::ControlService(PresenterState &state, QObject *parent)
    : QObject(parent), m_state(state), m_announcedSize(state.cursorSize())
{
    connect(&m_state, &PresenterState::shownChanged, this,
            [this](bool shown) { announce(QStringLiteral("Shown"), shown); });
    connect(&m_state, &PresenterState::effectChanged, this, [this](ScreenMode mode) {
        announce(QStringLiteral("Effect"), ControlInterface::effectName(mode));
    });
    connect(&m_state, &PresenterState::cursorSizeChanged, this, [this](int size) {
        if (size == m_announcedSize)
            return;
        m_announcedSize = size;
        announce(QStringLiteral("Size"), size);
    });
}

ControlService::~ControlService()
{
    if (!m_published)
        return;
    m_bus.unregisterService(ControlInterface::Service);
    m_bus.unregisterObject(ControlInterface::Path);
}

bool ControlService::publish(const QDBusConnection &bus)
{
    m_bus = bus;
    if (!m_bus.isConnected()) {
        m_why = QStringLiteral("no session bus");
        return false;
    }
    if (!m_bus.registerObject(ControlInterface::Path, this,
                              QDBusConnection::ExportScriptableSlots |
                                  QDBusConnection::ExportAllProperties)) {
        m_why = QStringLiteral("the object path %1 is taken").arg(ControlInterface::Path);
        return false;
    }
    // Not queued: a Kavri of the same user with another runtime folder keeps the name, and
    // this one runs without it rather than taking over the other's commands later.
    if (!m_bus.registerService(ControlInterface::Service)) {
        m_bus.unregisterObject(ControlInterface::Path);
        m_why = QStringLiteral("%1 is owned by another program").arg(ControlInterface::Service);
        return false;
    }
    m_published = true;
    return true;
}

bool ControlService::publishOnSessionBus()
{
    const bool published =
        ControlInterface::sessionBusAddressKnown() && publish(QDBusConnection::sessionBus());
    if (!published) {
        if (m_why.isEmpty())
            m_why = QStringLiteral("no session bus");
        qCWarning(lcApp,
                  "Kavri: the control interface is not available (%s); kavri --show and "
                  "the other commands cannot reach this Kavri.",
                  qPrintable(m_why));
    }
    return published;
}

QString ControlService::effect() const
{
    return ControlInterface::effectName(m_state.effect());
}

bool ControlService::isShown() const
{
    return m_state.isShown();
}

int ControlService::size() const
{
    return m_state.cursorSize();
}

void ControlService::SetEffect(const QString &name)
{
    const std::optional<ScreenMode> mode = ControlInterface::effectOf(name);
    if (!mode) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Unknown effect \"%1\": the effect is one of %2.")
                           .arg(name, ControlInterface::allowedEffects()));
        return;
    }
    if (*mode == ModeBlackScreen) {
        m_state.selectBlackScreen();
        return;
    }
    if (*mode == ModeMagnifier && !m_state.isMagnifierAvailable()) {
        sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("The magnifier cannot show the screen in this session."));
        return;
    }
    m_state.selectMode(*mode);
}

void ControlService::Show()
{
    m_state.show();
}

void ControlService::Hide()
{
    m_state.hide();
}

void ControlService::Toggle()
{
    m_state.toggle();
}

void ControlService::ChangeSize(int delta)
{
    if (!m_state.changeSize(delta))
        sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("The %1 effect has no size: the size is that of spotlight, "
                                      "laser or magnifier.")
                           .arg(effect()));
}

void ControlService::announce(const QString &property, const QVariant &value)
{
    if (!m_published)
        return;
    QDBusMessage changed = QDBusMessage::createSignal(
        ControlInterface::Path, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    changed << ControlInterface::Interface << QVariantMap{{property, value}} << QStringList();
    m_bus.send(changed);
}
