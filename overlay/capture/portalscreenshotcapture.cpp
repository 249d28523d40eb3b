#include "overlay/capture/portalscreenshotcapture.h"
#include "overlay/capture/dbuserrors.h"
#include "overlay/capture/framepicture.h"
#include "overlay/capture/screenshotfile.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace {
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ScreenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
} // namespace

PortalScreenshotCapture::PortalScreenshotCapture(QObject *parent)
    : m_temporaryFolders{QDir::tempPath(), QStringLiteral("/tmp"),
                         qEnvironmentVariable("XDG_RUNTIME_DIR")},
      m_timeout(new QTimer(this))
{
    setParent(parent);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        if (!m_requestPath.isEmpty()) {
            QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
                PortalService, m_requestPath, RequestInterface, QStringLiteral("Close")));
        }
        // A portal whose backend cannot take screenshots may never answer at all (GNOME's
        // without gnome-shell): after two silences in a row it is given up.
        ++m_silences;
        fail(QStringLiteral("the desktop portal did not answer within %1 ms").arg(m_timeoutMs),
             m_silences >= 2);
    });
}

PortalScreenshotCapture::~PortalScreenshotCapture()
{
    unsubscribe();
}

void PortalScreenshotCapture::capture(QScreen *screen)
{
    // A request still under way is withdrawn.
    cancel();
    const quint64 request = m_request;
    m_screen = screen;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, this, [this, request] {
            if (request == m_request)
                fail(QStringLiteral("no session bus"), true);
        });
        return;
    }

    // The portal names the request object after our unique name and the token we give it,
    // so its Response can be subscribed to before the call, and cannot be missed.
    const QString token =
        QStringLiteral("kavri%1").arg(QRandomGenerator::global()->generate64() >> 16);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    subscribe(QStringLiteral("%1/request/%2/%3").arg(PortalPath, sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalService, PortalPath, ScreenshotInterface, QStringLiteral("Screenshot"));
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("interactive"), false);
    options.insert(QStringLiteral("modal"), false);
    call << QString() << options;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    m_timeout->start(m_timeoutMs);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                if (request != m_request)
                    return;
                QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    fail(QStringLiteral("desktop portal: %1").arg(reply.error().message()),
                         isMissingService(reply.error()));
                    return;
                }
                // Portals older than 0.9 choose the path themselves.
                const QString path = reply.value().path();
                if (path != m_requestPath)
                    subscribe(path);
            });
}

void PortalScreenshotCapture::cancel()
{
    if (!m_requestPath.isEmpty()) {
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            PortalService, m_requestPath, RequestInterface, QStringLiteral("Close")));
    }
    finish();
    ++m_request;
}

void PortalScreenshotCapture::subscribe(const QString &path)
{
    unsubscribe();
    m_requestPath = path;
    QDBusConnection::sessionBus().connect(PortalService, path, RequestInterface,
                                          QStringLiteral("Response"), this,
                                          SLOT(onResponse(uint, QVariantMap)));
}

void PortalScreenshotCapture::unsubscribe()
{
    if (m_requestPath.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(PortalService, m_requestPath, RequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

void PortalScreenshotCapture::finish()
{
    m_timeout->stop();
    unsubscribe();
}

void PortalScreenshotCapture::fail(const QString &why, bool lasting)
{
    finish();
    ++m_request;
    emit failed(why, lasting);
}

void PortalScreenshotCapture::onResponse(uint response, const QVariantMap &results)
{
    if (m_requestPath.isEmpty())
        return;
    finish();
    m_silences = 0;
    switch (response) {
    case 0:
        break;
    case 1:
        fail(QStringLiteral("the screenshot was cancelled"), false);
        return;
    default:
        // The portal refused: permission denied, or no backend able to take screenshots.
        fail(
            QStringLiteral("the desktop portal refused the screenshot (response %1)").arg(response),
            true);
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        fail(QStringLiteral("the desktop portal gave no file (\"%1\")").arg(uri.toString()), false);
        return;
    }
    deliver(uri.toLocalFile());
}

void PortalScreenshotCapture::deliver(const QString &fileName)
{
    ++m_request;
    // The answer names a path; whatever lies there is only read if it is a file of this
    // user's, and only deleted once it has shown itself to be the screenshot.
    const auto refuse = [this, &fileName](const QString &why) {
        emit failed(
            QStringLiteral("the desktop portal's file %1 %2; left alone").arg(fileName, why),
            false);
    };
    ScreenshotFile file;
    QString why;
    if (!file.open(fileName, &why))
        return refuse(why);
    QScreen *screen = m_screen;
    if (!screen) {
        emit failed(QStringLiteral("the screen went away during the capture"), false);
        return;
    }
    const FramePicture::Desktop desktop = FramePicture::desktopOf(screen);

    // A picture file is never much larger than its pixels (8 bytes each at 16 bits per
    // channel), so the bound on the pixels bounds the read as well.
    const qint64 maxPixels = qint64(desktop.bounds.width() * FramePicture::MaxPictureScale + 1) *
                             qint64(desktop.bounds.height() * FramePicture::MaxPictureScale + 1);
    QByteArray bytes;
    if (!file.read(maxPixels * 8 + (1 << 20), &bytes, &why))
        return refuse(why);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The header's size, before a pixel is decoded: a small file can claim gigabytes.
    const QSize size = reader.size();
    if (!size.isValid())
        return refuse(QStringLiteral("is not a picture (%1)").arg(reader.errorString()));
    why = FramePicture::sizeMismatch(size, desktop);
    if (!why.isEmpty())
        return refuse(why);
    const QImage picture = reader.read();
    bytes = QByteArray();
    if (picture.isNull() || picture.size() != size)
        return refuse(QStringLiteral("cannot be decoded (%1)").arg(reader.errorString()));
    const QPixmap shot =
        FramePicture::screenPicture(picture, desktop, screen->geometry().width(), &why);
    if (shot.isNull())
        return refuse(why);
    file.removeIfDirectlyIn(m_temporaryFolders);

    emit captured(screen, shot);
}
