#include "overlay/capture/kwinscreenshotcapture.h"
#include "overlay/capture/dbuserrors.h"
#include "overlay/overlaylog.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QString KWinService = QStringLiteral("org.kde.KWin");
const QString ScreenShotPath = QStringLiteral("/org/kde/KWin/ScreenShot2");
const QString ScreenShotInterface = QStringLiteral("org.kde.KWin.ScreenShot2");
const QString NoAuthorized = QStringLiteral("org.kde.KWin.ScreenShot2.Error.NoAuthorized");
const QString InvalidScreen = QStringLiteral("org.kde.KWin.ScreenShot2.Error.InvalidScreen");

// KWin's pictures have 4 bytes a pixel (8 for deep colour); a pipe may not bring more than
// the largest such picture of the desktop before the answer says how much it will bring.
constexpr qint64 MaxBytesPerPixel = 8;
// What one QByteArray can hold, with room to spare.
constexpr qint64 MaxBytes = qint64(1) << 30;

// Refusals that will not change while this session lasts: a program KWin does not serve,
// or a KWin without the interface.
bool isLastingRefusal(const QDBusError &error)
{
    return error.name() == NoAuthorized || error.type() == QDBusError::AccessDenied ||
           isMissingService(error);
}

// The bytes a picture of `width` pixels of `format` needs a row; 0 for a format KWin never
// sends or that needs more than its pixels (a colour table).
qint64 rowBytes(int format, qint64 width)
{
    if (format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
        return 0;
    const auto f = QImage::Format(format);
    if (f == QImage::Format_Mono || f == QImage::Format_MonoLSB || f == QImage::Format_Indexed8)
        return 0;
    const qint64 bits = QImage::toPixelFormat(f).bitsPerPixel();
    if (bits < 8 || bits > MaxBytesPerPixel * 8)
        return 0;
    return width * bits / 8;
}
} // namespace

KWinScreenShotCapture::KWinScreenShotCapture(QObject *parent) : m_timeout(new QTimer(this))
{
    setParent(parent);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("KWin's screenshot did not come within %1 ms").arg(m_timeoutMs), false);
    });
}

KWinScreenShotCapture::~KWinScreenShotCapture()
{
    closePipe();
}

void KWinScreenShotCapture::capture(QScreen *screen)
{
    cancel();
    m_screen = screen;
    m_clock.start();
    m_timeout->start(m_timeoutMs);
    call(m_request);
}

void KWinScreenShotCapture::cancel()
{
    m_timeout->stop();
    closePipe();
    ++m_request;
}

void KWinScreenShotCapture::call(quint64 request)
{
    closePipe();
    m_bytes.clear();
    m_answered = m_ended = false;
    // Never from within capture(): every early failure waits for the event loop.
    const auto failLater = [this, request](const QString &why, bool lasting) {
        QTimer::singleShot(0, this, [this, request, why, lasting] {
            if (request == m_request)
                fail(why, lasting);
        });
    };
    QScreen *screen = m_screen;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return failLater(QStringLiteral("no session bus"), true);
    if (!screen)
        return failLater(QStringLiteral("the screen went away during the capture"), false);

    const bool byName = m_byName && !screen->name().isEmpty();
    m_byNameCall = byName;
    m_desktop = byName ? FramePicture::screenAlone(screen) : FramePicture::desktopOf(screen);
    m_maxBytes =
        std::min<qint64>(qint64(m_desktop.bounds.width() * FramePicture::MaxPictureScale + 1) *
                             qint64(m_desktop.bounds.height() * FramePicture::MaxPictureScale + 1) *
                             MaxBytesPerPixel,
                         MaxBytes);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return failLater(QStringLiteral("no pipe for KWin's screenshot: %1")
                             .arg(QString::fromLocal8Bit(::strerror(errno))),
                         false);
    // KWin may write with a blocking call of its own: its end blocks, ours does not.
    ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) & ~O_NONBLOCK);
    m_pipe = ends[0];
    m_notifier = new QSocketNotifier(m_pipe, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &KWinScreenShotCapture::readPipe);

    QVariantMap options;
    options.insert(QStringLiteral("native-resolution"), true);
    options.insert(QStringLiteral("include-cursor"), false);
    QDBusMessage message = QDBusMessage::createMethodCall(
        KWinService, ScreenShotPath, ScreenShotInterface,
        byName ? QStringLiteral("CaptureScreen") : QStringLiteral("CaptureWorkspace"));
    if (byName)
        message << screen->name();
    message << options << QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, m_timeoutMs), this);
    // The message holds its own copy of the write end; ours must go, or the pipe never ends.
    ::close(ends[1]);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request, byName](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                if (request != m_request)
                    return;
                QDBusPendingReply<QVariantMap> reply = *w;
                if (!reply.isError())
                    return onReply(reply.value());
                if (byName && reply.error().name() == InvalidScreen) {
                    // Qt names the screen otherwise than KWin does: the whole desktop, then.
                    m_byName = false;
                    return call(request);
                }
                onError(reply.error());
            });
}

void KWinScreenShotCapture::onError(const QDBusError &error)
{
    fail(QStringLiteral("KWin's screenshot: %1 (%2)").arg(error.message(), error.name()),
         isLastingRefusal(error));
}

void KWinScreenShotCapture::onReply(const QVariantMap &results)
{
    QString why;
    if (!acceptResults(results, &why))
        return fail(QStringLiteral("KWin's screenshot %1").arg(why), false);
    m_answered = true;
    m_bytes.reserve(int(m_maxBytes));
    finishIfComplete();
}

bool KWinScreenShotCapture::acceptResults(const QVariantMap &results, QString *why)
{
    const QString type = results.value(QStringLiteral("type")).toString();
    if (type != QLatin1String("raw")) {
        *why = QStringLiteral("is of type \"%1\", not raw pixels").arg(type);
        return false;
    }
    bool ok[4] = {};
    const qint64 width = results.value(QStringLiteral("width")).toLongLong(&ok[0]);
    const qint64 height = results.value(QStringLiteral("height")).toLongLong(&ok[1]);
    const qint64 stride = results.value(QStringLiteral("stride")).toLongLong(&ok[2]);
    const qint64 format = results.value(QStringLiteral("format")).toLongLong(&ok[3]);
    const auto announced = [&] {
        return QStringLiteral("(%1x%2 pixels, %3 bytes a row, format %4)")
            .arg(width)
            .arg(height)
            .arg(stride)
            .arg(format);
    };
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || width <= 0 || height <= 0 || width > INT_MAX ||
        height > INT_MAX || format > INT_MAX) {
        *why = QStringLiteral("announces no picture ") + announced();
        return false;
    }
    const QString mismatch = FramePicture::sizeMismatch(QSize(int(width), int(height)), m_desktop);
    if (!mismatch.isEmpty()) {
        *why = mismatch;
        return false;
    }
    const qint64 row = rowBytes(int(format), width);
    // Rows are padded to a few bytes at most; anything else does not describe a picture.
    if (row == 0 || stride < row || stride > row + 64 || stride * height > m_maxBytes) {
        *why = QStringLiteral("announces a picture it cannot be ") + announced();
        return false;
    }
    m_size = QSize(int(width), int(height));
    m_stride = int(stride);
    m_format = int(format);
    m_maxBytes = stride * height;
    if (m_bytes.size() > m_maxBytes) {
        *why = QStringLiteral("brought more than the %1 bytes it announced").arg(m_maxBytes);
        return false;
    }
    return true;
}

void KWinScreenShotCapture::readPipe()
{
    const quint64 request = m_request;
    char chunk[65536];
    while (m_pipe >= 0) {
        const ssize_t n = ::read(m_pipe, chunk, sizeof chunk);
        if (n > 0) {
            if (m_bytes.size() + n > m_maxBytes) {
                return fail(QStringLiteral("KWin's screenshot brought more than the %1 bytes %2")
                                .arg(m_maxBytes)
                                .arg(m_answered
                                         ? QStringLiteral("it announced")
                                         : QStringLiteral("a picture of the desktop can have")),
                            false);
            }
            m_bytes.append(chunk, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The end of the pipe, or an error reading it: nothing more will come either way.
        closePipe();
        m_ended = true;
        if (request == m_request)
            finishIfComplete();
        return;
    }
}

void KWinScreenShotCapture::finishIfComplete()
{
    if (!m_answered || !m_ended)
        return;
    const qint64 expected = qint64(m_stride) * m_size.height();
    if (m_bytes.size() != expected) {
        return fail(QStringLiteral("KWin's screenshot brought %1 of the %2 bytes it announced")
                        .arg(m_bytes.size())
                        .arg(expected),
                    false);
    }
    QScreen *screen = m_screen;
    if (!screen)
        return fail(QStringLiteral("the screen went away during the capture"), false);
    m_timeout->stop();
    ++m_request;

    // The picture is read in place; the bytes live as long as the image does.
    auto *bytes = new QByteArray(std::move(m_bytes));
    m_bytes = QByteArray();
    QImage picture(
        reinterpret_cast<const uchar *>(bytes->constData()), m_size.width(), m_size.height(),
        m_stride, QImage::Format(m_format),
        [](void *data) { delete static_cast<QByteArray *>(data); }, bytes);
    // Where nothing is drawn a compositor's picture may be transparent; the screen is not.
    if (picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    QString why;
    const QPixmap shot =
        FramePicture::screenPicture(picture, m_desktop, screen->geometry().width(), &why);
    if (shot.isNull()) {
        emit failed(QStringLiteral("KWin's screenshot %1").arg(why), false);
        return;
    }
    qCDebug(lcOverlayCapture, "kwin-screenshot: %dx%d pixels (format %d) of %s in %lld ms",
            m_size.width(), m_size.height(), m_format,
            m_byNameCall ? qPrintable(QStringLiteral("screen ") + screen->name()) : "the workspace",
            qint64(m_clock.elapsed()));
    emit captured(screen, shot);
}

void KWinScreenShotCapture::closePipe()
{
    // Perhaps from within the notifier's own signal: it goes once that has returned.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_pipe >= 0)
        ::close(m_pipe);
    m_pipe = -1;
}

void KWinScreenShotCapture::fail(const QString &why, bool lasting)
{
    m_timeout->stop();
    closePipe();
    m_bytes = QByteArray();
    ++m_request;
    emit failed(why, lasting);
}
