#include "overlay/capture/captureprobe.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>

namespace {
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString ScreenCastService = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString KWinService = QStringLiteral("org.kde.KWin");

// libdbus finds the session bus through this variable or the runtime folder's "bus" socket;
// without either it might try to start one, which start-up must never wait for.
bool sessionBusAddressKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QDBusMessage call(const QDBusConnection &bus, const QDBusMessage &message, int timeoutMs)
{
    return QDBusConnection(bus).call(message, QDBus::Block, timeoutMs);
}

bool hasName(const QDBusConnection &bus, const QString &name, const QString &method, int timeoutMs)
{
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), method);
    if (method == QLatin1String("NameHasOwner"))
        m << name;
    const QDBusMessage reply = call(bus, m, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant answer = reply.arguments().constFirst();
    return method == QLatin1String("NameHasOwner") ? answer.toBool()
                                                   : answer.toStringList().contains(name);
}

QVariant property(bool *answered, const QDBusConnection &bus, const QString &service,
                  const QString &path, const QString &interface, const QString &name, int timeoutMs)
{
    QDBusMessage m = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    m << interface << name;
    const QDBusMessage reply = call(bus, m, timeoutMs);
    if (answered)
        *answered = reply.type() == QDBusMessage::ReplyMessage ||
                    reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NoReply");
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}
} // namespace

QString CaptureOffer::describe() const
{
    if (!sessionBus)
        return QStringLiteral("no session bus");
    QStringList parts;
    if (portal) {
        parts << (portalScreenshotVersion > 0
                      ? QStringLiteral("portal Screenshot v%1").arg(portalScreenshotVersion)
                  : portalAnswered ? QStringLiteral("portal without Screenshot")
                                   : QStringLiteral("portal (not asked)"));
    }
    if (mutterScreenCast) {
        parts << QStringLiteral("GNOME screen cast v%1").arg(mutterScreenCastVersion);
    }
    if (kwin) {
        parts << (kwinScreenShotVersion > 0
                      ? QStringLiteral("KWin ScreenShot2 v%1").arg(kwinScreenShotVersion)
                      : QStringLiteral("KWin without ScreenShot2"));
    }
    return parts.isEmpty() ? QStringLiteral("no capture service on the session bus")
                           : parts.join(QStringLiteral(", "));
}

CaptureOffer probeCaptureOffer(int timeoutMs)
{
    CaptureOffer offer;
    if (!sessionBusAddressKnown())
        return offer;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return offer;
    offer.sessionBus = true;

    const bool portalRuns = hasName(bus, PortalService, QStringLiteral("NameHasOwner"), timeoutMs);
    offer.portal = portalRuns ||
                   hasName(bus, PortalService, QStringLiteral("ListActivatableNames"), timeoutMs);
    if (portalRuns) {
        // A portal that is only activatable is not started for this: that takes longer than
        // start-up should wait, and the first capture starts it anyway.
        offer.portalScreenshotVersion =
            property(&offer.portalAnswered, bus, PortalService,
                     QStringLiteral("/org/freedesktop/portal/desktop"),
                     QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("version"),
                     timeoutMs)
                .toUInt();
    }

    offer.mutterScreenCast =
        hasName(bus, ScreenCastService, QStringLiteral("NameHasOwner"), timeoutMs);
    if (offer.mutterScreenCast) {
        offer.mutterScreenCastVersion =
            property(nullptr, bus, ScreenCastService,
                     QStringLiteral("/org/gnome/Mutter/ScreenCast"), ScreenCastService,
                     QStringLiteral("Version"), timeoutMs)
                .toInt();
    }

    offer.kwin = hasName(bus, KWinService, QStringLiteral("NameHasOwner"), timeoutMs);
    if (offer.kwin) {
        offer.kwinScreenShotVersion =
            property(nullptr, bus, KWinService, QStringLiteral("/org/kde/KWin/ScreenShot2"),
                     QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("Version"),
                     timeoutMs)
                .toUInt();
    }
    return offer;
}

QList<CaptureRoute> recommendedCaptureRoutes(const CaptureOffer &offer, bool pipewire)
{
    QList<CaptureRoute> routes;
    if (offer.mutterScreenCast && pipewire)
        routes << CaptureRoute::GnomeScreencast;
    if (offer.kwin && offer.kwinScreenShotVersion > 0)
        routes << CaptureRoute::KWinScreenshot;
    if (offer.portal && (offer.portalScreenshotVersion > 0 || !offer.portalAnswered))
        routes << CaptureRoute::Portal;
    return routes;
}
