#pragma once

#include "overlay/livesource.h"
#include "overlay/wayland/windowplacement.h"

#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QStringList>

#include <memory>

class KWinWindowCast;
class PlasmaWindowList;
class WaylandClient;

// The live picture on KWin: while the lens is shown, the window under it (from KWin's window
// list, the overlay's own left out) is recorded through KWin's screen cast, and its frames
// are placed where the window lies. What of the lens's area the window does not show (beyond
// its edges, under windows above it) comes from the picture of the key press.
//
// KWin offers both protocols only to an installed program whose desktop file names them
// (X-KDE-Wayland-Interfaces); elsewhere there is no such source (see OverlayPlatform).
class KWinLiveSource final : public LiveSource
{
    Q_OBJECT

public:
    // The source on a Wayland connection of its own, or null where the compositor does not
    // offer the two protocols (`globals`: what it offers this program).
    static std::unique_ptr<KWinLiveSource> open(const QStringList &globals);
    // Whether `globals` hold both protocols.
    static bool offeredBy(const QStringList &globals);
    // Whether `globals` are a KWin's that withholds the two from this program.
    static bool refusedBy(const QStringList &globals);
    ~KWinLiveSource() override;

    bool follow(QScreen *screen, const QWidget *screenWindow,
                const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                double scale) override;
    void stop() override;
    QImage picture() const override { return m_picture; }
    QPoint origin() const override { return m_area.topLeft(); }
    bool willDraw() override { return !m_refused; }
    void setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin) override;

private:
    KWinLiveSource() = default;
    void takeFrame(const QImage &frame);
    void castFailed(const QString &why);
    void castClosed();
    void compose();
    void drop();

    std::unique_ptr<WaylandClient> m_client;
    std::unique_ptr<PlasmaWindowList> m_windows;
    std::unique_ptr<KWinWindowCast> m_cast;
    // The recording failed: not tried again until the lens is hidden.
    bool m_refused = false;
    bool m_told = false;
    // What the lens is over: the screen, the output showing it (compositor coordinates), and
    // the window recorded with what of it shows.
    QPointer<QScreen> m_screen;
    QRect m_output;
    double m_devicePerLogical = 1.0; // device pixels of the screen per compositor pixel
    WindowPlacement::Window m_window;
    QRegion m_visible;
    QImage m_frame;
    QRect m_area; // the picture's, in the screen's device pixels
    QImage m_picture;
    QPointer<QScreen> m_pressScreen;
    QImage m_press;
    QPoint m_pressOrigin;
};
