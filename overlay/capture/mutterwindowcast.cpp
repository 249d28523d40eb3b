#include "overlay/capture/mutterwindowcast.h"

#include "overlay/capture/dbuserrors.h"
#include "overlay/capture/mutterdbus.h"
#include "overlay/capture/pipewirestream.h"
#include "overlay/overlaylog.h"

#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QTimer>

using namespace MutterDBus;

MutterWindowCast::MutterWindowCast(QObject *parent)
    : QObject(parent), m_timeout(new QTimer(this)), m_stream(new PipeWireStream(this))
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        // Now and then a new cast's stream stays paused (seen right after another cast of
        // the same window ended): a second one is made before the cast counts as failed.
        if (!m_castAgain) {
            fail(QStringLiteral("the window cast gave no frame within %1 ms").arg(m_timeoutMs));
            return;
        }
        qCInfo(lcOverlayCapture, "live lens: the window cast gave no frame; cast again");
        start();
        m_castAgain = false;
    });
    connect(m_stream, &PipeWireStream::frame, this, [this](const QImage &picture) {
        m_timeout->stop();
        emit frame(picture);
    });
    connect(m_stream, &PipeWireStream::failed, this, [this](const QString &why) { fail(why); });
}

MutterWindowCast::~MutterWindowCast()
{
    stop();
}

void MutterWindowCast::start()
{
    stop();
    m_running = true;
    m_castAgain = true;
    const quint64 request = ++m_request;
    m_timeout->start(m_timeoutMs);
    QDBusMessage create = QDBusMessage::createMethodCall(Service, ServicePath, Service,
                                                         QStringLiteral("CreateSession"));
    create << QVariantMap();
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(create), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this, request](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> r = *w;
            if (request != m_request) {
                // Made for a cast stopped meanwhile: nobody else will end it.
                if (!r.isError())
                    stopSession(r.value().path());
                return;
            }
            if (r.isError()) {
                fail(r.error().message(), isMissingService(r.error()));
                return;
            }
            m_sessionPath = r.value().path();
            QDBusConnection::sessionBus().connect(Service, m_sessionPath, SessionInterface,
                                                  QStringLiteral("Closed"), this,
                                                  SLOT(onSessionClosed()));
            QDBusMessage record = QDBusMessage::createMethodCall(
                Service, m_sessionPath, SessionInterface, QStringLiteral("RecordWindow"));
            record << hiddenPointer();
            callAsync<QDBusPendingReply<QDBusObjectPath>>(
                this, record, &m_request, request,
                [this](const QDBusPendingReply<QDBusObjectPath> &recorded) {
                    if (recorded.isError()) {
                        // Older mutter has no window casts; none has a focused window
                        // when every window is closed.
                        fail(
                            QStringLiteral("no window to cast: %1").arg(recorded.error().message()),
                            isMissingService(recorded.error()));
                        return;
                    }
                    m_streamPath = recorded.value().path();
                    // Subscribed before Start, which makes the stream announce its node.
                    QDBusConnection::sessionBus().connect(Service, m_streamPath, StreamInterface,
                                                          QStringLiteral("PipeWireStreamAdded"),
                                                          this, SLOT(onStreamAdded(uint)));
                    call(QStringLiteral("Start"), {});
                });
        });
}

void MutterWindowCast::call(const QString &method, const QVariantList &arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(Service, m_sessionPath, SessionInterface, method);
    message.setArguments(arguments);
    callAsync<QDBusPendingReply<>>(this, message, &m_request, m_request,
                                   [this](const QDBusPendingReply<> &r) {
                                       if (r.isError())
                                           fail(r.error().message());
                                   });
}

void MutterWindowCast::onStreamAdded(uint node)
{
    if (!m_running || m_stream->isRunning())
        return;
    QString why;
    if (!m_stream->start(node, -1, &why))
        fail(why);
}

void MutterWindowCast::onSessionClosed()
{
    if (!m_sessionPath.isEmpty())
        fail(QStringLiteral("GNOME closed the window cast"));
}

void MutterWindowCast::fail(const QString &why, bool missing)
{
    if (!m_running)
        return;
    stop();
    emit failed(QStringLiteral("GNOME window cast: ") + why, missing);
}

void MutterWindowCast::stop()
{
    m_running = false;
    ++m_request;
    m_timeout->stop();
    m_stream->stop();
    if (m_sessionPath.isEmpty())
        return;
    endSession(this, m_sessionPath, m_streamPath);
    m_sessionPath.clear();
    m_streamPath.clear();
}
