#pragma once

#include <QPointer>
#include <QRegion>
#include <QWidget>

struct OverlayFrame;
class QScreen;

// One overlay window over one screen. It draws the shared frame when the frame's effect is on
// its screen and nothing otherwise. It decides nothing: OverlayController plans the frames,
// WindowBackend places the windows (ScreenWidget is the one on the primary screen).
//
// The window never takes the focus, and input passes to the presentation beneath (except the
// pointer under XWayland while an effect follows it: see WindowPresence).
class OverlaySurface : public QWidget
{
    Q_OBJECT

public:
    // `flags`: the overlay's window flags on this platform (OverlayPlatform::windowFlags).
    OverlaySurface(QWidget *parent, const OverlayFrame *frame, Qt::WindowFlags flags);

    // The frame to draw; a window without one draws nothing.
    void setFrame(const OverlayFrame *frame) { m_frame = frame; }

    // Places the window over `screen` (full screen, on that screen's pixel ratio).
    void cover(QScreen *screen);
    // Creates the native window over `screen`, not yet shown, so the window system can limit
    // what it shows before it is mapped. create(), not winId(): winId() marks the widget
    // native, and Qt then gives every widget beside it under the same parent a native window
    // of its own as well, which costs start-up time, X resources and repaint speed.
    void createOn(QScreen *screen);
    QScreen *coveredScreen() const { return m_screen; }
    bool showsEffect() const;

    // What the window system was last told to show of this window (device pixels), so an
    // unchanged shape is not sent again.
    bool shownRegionKnown = false;
    QRegion shownRegion;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const OverlayFrame *m_frame;
    QPointer<QScreen> m_screen;
};
