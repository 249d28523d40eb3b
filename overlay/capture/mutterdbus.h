#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QString>
#include <QVariantMap>

// What the routes through GNOME's screen cast service (org.gnome.Mutter.ScreenCast) share:
// its names, the recording properties, and calls whose answers may come too late.
namespace MutterDBus {

inline const QString Service = QStringLiteral("org.gnome.Mutter.ScreenCast");
inline const QString ServicePath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
inline const QString SessionInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
inline const QString StreamInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Stream");

// Recording properties: the pointer is left out of the picture (the magnifier draws its own).
inline QVariantMap hiddenPointer()
{
    QVariantMap properties;
    properties.insert(QStringLiteral("cursor-mode"), QVariant::fromValue(uint(0)));
    return properties;
}

// Calls `call` and hands the reply to `then` unless `*current` moved on from `request`
// meanwhile (the request was replaced or cancelled).
template <typename Reply, typename Then>
void callAsync(QObject *owner, const QDBusMessage &call, const quint64 *current, quint64 request,
               Then then)
{
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [current, request, then](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         if (*current != request)
                             return;
                         Reply reply = *w;
                         then(reply);
                     });
}

// Ends the session at `path`; nobody waits for the answer.
inline void stopSession(const QString &path)
{
    QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall(Service, path, SessionInterface, QStringLiteral("Stop")));
}

// Ends the session at `sessionPath` and stops telling `owner` of it: its slots
// onSessionClosed() and, where `streamPath` is set, onStreamAdded(uint) are disconnected.
inline void endSession(QObject *owner, const QString &sessionPath, const QString &streamPath)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(Service, sessionPath, SessionInterface, QStringLiteral("Closed"), owner,
                   SLOT(onSessionClosed()));
    if (!streamPath.isEmpty()) {
        bus.disconnect(Service, streamPath, StreamInterface, QStringLiteral("PipeWireStreamAdded"),
                       owner, SLOT(onStreamAdded(uint)));
    }
    // The session ends whether or not it had started.
    stopSession(sessionPath);
}

} // namespace MutterDBus
