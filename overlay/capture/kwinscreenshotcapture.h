#pragma once

#include "overlay/capture/captureroute.h"
#include "overlay/capture/framepicture.h"
#include "overlay/screencapture.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QVariantMap>

class QDBusError;
class QSocketNotifier;
class QTimer;

// The screen through KWin's own screenshot interface (org.kde.KWin.ScreenShot2), without a
// file, a dialog or a flash: KWin answers the call with the picture's size and format and
// writes its raw pixels into a pipe of ours.
//
// The screen is asked for by its name (CaptureScreen), which is KWin's output name when Qt
// runs on Wayland; where KWin knows no output of that name (Qt on XWayland names screens
// after X's outputs), the whole workspace is asked for and the screen cut out of it, and
// from then on always.
//
// KWin serves only programs whose installed desktop file lists the interface in
// X-KDE-DBUS-Restricted-Interfaces; any other is refused, which is a lasting failure. The
// pipe is read as the bytes come, never waited on, and no more is read than the answer
// announced.
class KWinScreenShotCapture final : public ScreenCapture
{
    Q_OBJECT

public:
    explicit KWinScreenShotCapture(QObject *parent = nullptr);
    ~KWinScreenShotCapture() override;

    QString name() const override { return captureRouteName(CaptureRoute::KWinScreenshot); }
    void capture(QScreen *screen) override;
    // Closes the pipe and drops the answer, whenever it comes.
    void cancel() override;

    // How long a request may take from the call to the picture's last byte.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

private:
    void call(quint64 request);
    void onReply(const QVariantMap &results);
    void onError(const QDBusError &error);
    void readPipe();
    bool acceptResults(const QVariantMap &results, QString *why);
    void finishIfComplete();
    void closePipe();
    void fail(const QString &why, bool lasting);

    QPointer<QScreen> m_screen;
    quint64 m_request = 0;
    int m_timeoutMs = 5000;
    QTimer *m_timeout = nullptr;
    QElapsedTimer m_clock;
    // Whether KWin has an output of the screen's name; cleared at its first refusal.
    bool m_byName = true;
    // What the call under way asked for: the screen alone (by name), or the whole desktop.
    bool m_byNameCall = false;
    FramePicture::Desktop m_desktop;

    int m_pipe = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_bytes;
    // At most this many bytes are taken from the pipe: before the answer, a bound from the
    // desktop's size; after it, exactly what it announced.
    qint64 m_maxBytes = 0;
    bool m_answered = false;
    bool m_ended = false;
    QSize m_size;
    int m_stride = 0;
    int m_format = 0;
};
