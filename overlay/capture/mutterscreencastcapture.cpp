#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/capture/dbuserrors.h"
#include "overlay/capture/framepicture.h"
#include "overlay/capture/mutterdbus.h"

#ifdef KAVRI_CAPTURE_PIPEWIRE
#include "overlay/capture/pipewirestream.h"
#endif

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QTimer>

using namespace MutterDBus;

MutterScreenCastCapture::MutterScreenCastCapture(QObject *parent) : m_timeout(new QTimer(this))
{
    setParent(parent);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the screen cast gave no frame within %1 ms").arg(m_timeoutMs), false);
    });
}

MutterScreenCastCapture::~MutterScreenCastCapture()
{
    stopSession();
}

bool MutterScreenCastCapture::builtWithPipeWire()
{
#ifdef KAVRI_CAPTURE_PIPEWIRE
    return true;
#else
    return false;
#endif
}

void MutterScreenCastCapture::capture(QScreen *screen)
{
    stopSession();
    const quint64 request = ++m_request;
    m_screen = screen;
    m_steps = Steps();
    m_clock.start();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!builtWithPipeWire() || !bus.isConnected() || !screen) {
        const QString why = !builtWithPipeWire() ? QStringLiteral("built without PipeWire")
                            : !screen            ? QStringLiteral("no screen to capture")
                                                 : QStringLiteral("no session bus");
        const bool lasting = screen != nullptr;
        QTimer::singleShot(0, this, [this, request, why, lasting] {
            if (request == m_request)
                fail(why, lasting);
        });
        return;
    }
    m_timeout->start(m_timeoutMs);

    QDBusMessage call = QDBusMessage::createMethodCall(Service, ServicePath, Service,
                                                       QStringLiteral("CreateSession"));
    call << QVariantMap();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> r = *w;
                if (request != m_request) {
                    // A session made for a request replaced meanwhile: nobody else will end it.
                    if (!r.isError())
                        MutterDBus::stopSession(r.value().path());
                    return;
                }
                if (r.isError()) {
                    fail(QStringLiteral("GNOME screen cast: %1").arg(r.error().message()),
                         isMissingService(r.error()));
                    return;
                }
                m_steps.session = m_clock.elapsed();
                m_sessionPath = r.value().path();
                QDBusConnection::sessionBus().connect(Service, m_sessionPath, SessionInterface,
                                                      QStringLiteral("Closed"), this,
                                                      SLOT(onSessionClosed()));
                recordMonitor(m_screen ? m_screen->name() : QString(), request);
            });
}

void MutterScreenCastCapture::cancel()
{
    // Replies still on their way see another request and stop what they made themselves.
    stopSession();
    ++m_request;
}

void MutterScreenCastCapture::recordMonitor(const QString &connector, quint64 request)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, m_sessionPath, SessionInterface,
                                                       QStringLiteral("RecordMonitor"));
    call << connector << hiddenPointer();
    callAsync<QDBusPendingReply<QDBusObjectPath>>(
        this, call, &m_request, request,
        [this, request, connector](const QDBusPendingReply<QDBusObjectPath> &r) {
            if (!r.isError()) {
                recordStream(r.value().path(), request);
                return;
            }
            // Screens named otherwise than the compositor's connectors (XWayland's
            // "XWAYLAND0"): the only monitor, or else the screen's area of the desktop, whose
            // coordinates XWayland shares with the compositor. Which monitor GNOME calls
            // primary need not be the X server's primary screen.
            QScreen *screen = m_screen;
            if (connector.isEmpty() || !screen) {
                fail(QStringLiteral("GNOME screen cast of monitor \"%1\": %2")
                         .arg(connector, r.error().message()),
                     false);
                return;
            }
            if (QGuiApplication::screens().size() == 1)
                recordMonitor(QString(), request);
            else
                recordArea(FramePicture::deviceRect(screen), request);
        });
}

void MutterScreenCastCapture::recordArea(const QRect &area, quint64 request)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, m_sessionPath, SessionInterface,
                                                       QStringLiteral("RecordArea"));
    call << area.x() << area.y() << area.width() << area.height() << hiddenPointer();
    callAsync<QDBusPendingReply<QDBusObjectPath>>(
        this, call, &m_request, request,
        [this, request, area](const QDBusPendingReply<QDBusObjectPath> &r) {
            if (r.isError()) {
                fail(QStringLiteral("GNOME screen cast of the area %1,%2 %3x%4: %5")
                         .arg(area.x())
                         .arg(area.y())
                         .arg(area.width())
                         .arg(area.height())
                         .arg(r.error().message()),
                     false);
                return;
            }
            recordStream(r.value().path(), request);
        });
}

void MutterScreenCastCapture::recordStream(const QString &path, quint64 request)
{
    m_streamPath = path;
    // Subscribed before Start, which is what makes the stream announce its node.
    QDBusConnection::sessionBus().connect(Service, m_streamPath, StreamInterface,
                                          QStringLiteral("PipeWireStreamAdded"), this,
                                          SLOT(onStreamAdded(uint)));
    startSession(request);
}

void MutterScreenCastCapture::startSession(quint64 request)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, m_sessionPath, SessionInterface,
                                                       QStringLiteral("Start"));
    callAsync<QDBusPendingReply<>>(
        this, call, &m_request, request, [this](const QDBusPendingReply<> &r) {
            if (r.isError()) {
                fail(QStringLiteral("GNOME screen cast: %1").arg(r.error().message()), false);
            }
        });
}

void MutterScreenCastCapture::onStreamAdded(uint node)
{
#ifdef KAVRI_CAPTURE_PIPEWIRE
    if (m_grabber || m_streamPath.isEmpty())
        return;
    m_steps.stream = m_clock.elapsed();
    const quint64 request = m_request;
    m_grabber = new PipeWireStream(this);
    connect(m_grabber, &PipeWireStream::frame, this, [this, request](const QImage &frame) {
        if (request != m_request)
            return;
        m_steps.frame = m_clock.elapsed();
        QScreen *screen = m_screen;
        stopSession();
        ++m_request;
        if (!screen) {
            emit failed(QStringLiteral("the screen went away during the capture"), false);
            return;
        }
        QPixmap picture = QPixmap::fromImage(frame);
        picture.setDevicePixelRatio(double(frame.width()) / screen->geometry().width());
        emit captured(screen, picture);
    });
    connect(m_grabber, &PipeWireStream::failed, this, [this, request](const QString &why) {
        if (request == m_request)
            fail(why, false);
    });
    QString why;
    if (!m_grabber->start(node, -1, &why))
        fail(why, true);
#else
    Q_UNUSED(node)
#endif
}

void MutterScreenCastCapture::onSessionClosed()
{
    if (!m_sessionPath.isEmpty())
        fail(QStringLiteral("GNOME closed the screen cast session"), false);
}

void MutterScreenCastCapture::fail(const QString &why, bool lasting)
{
    stopSession();
    ++m_request;
    emit failed(why, lasting);
}

void MutterScreenCastCapture::stopSession()
{
    m_timeout->stop();
#ifdef KAVRI_CAPTURE_PIPEWIRE
    if (m_grabber) {
        // Possibly inside the stream's own signal: it is freed once that has returned.
        m_grabber->stop();
        m_grabber->disconnect(this);
        m_grabber->deleteLater();
        m_grabber = nullptr;
    }
#endif
    if (m_sessionPath.isEmpty())
        return;
    MutterDBus::endSession(this, m_sessionPath, m_streamPath);
    m_sessionPath.clear();
    m_streamPath.clear();
}
