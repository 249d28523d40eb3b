#pragma once

#include "overlay/capture/screengrabcapture.h"

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

class LiveSource;
class QWidget;
class ScreenCapture;

// The magnifier's picture of the screen, and the one way it is got: a request to the capture
// route, answered later (or refused). One request at a time: a new one replaces the one under
// way, and a request nobody waits for any more is cancelled, so the route closes what it holds
// open at once.
//
// Where the platform makes one (LiveSource: X11 under a compositing manager), a live picture of
// just the part the lens magnifies comes on top of that one while the lens is shown (follow()):
// it is remade whenever what lies beneath the overlay changes there. The picture taken at the
// key press stays, for when the live one ends (the compositing manager went away).
//
// It knows nothing of the lens's drawing: whoever shows the lens asks it whether there is a
// picture to show, and of which screen, and hands it the overlay's windows to leave out.
class LensPicture final : public QObject
{
    Q_OBJECT

public:
    // Starts with the screen read by the program itself (ScreenGrabCapture).
    LensPicture();
    ~LensPicture() override;

    // Takes the pictures from `route`; null goes back to reading the screen itself.
    void setRoute(std::unique_ptr<ScreenCapture> route);
    // How the screen is read where no other route is set.
    void setGrabber(ScreenGrabCapture::Grabber grabber);
    // Where the live picture comes from; none by default.
    void setLiveSource(std::unique_ptr<LiveSource> source);

    // Whether a picture can be had at all. Once unavailable, unavailable() is emitted (once)
    // and nothing is asked for any more.
    void setAvailable(bool available, const QString &why = QString());
    bool isAvailable() const { return m_available; }
    QString unavailableReason() const { return m_why; }

    // Drops the picture held and asks for one of `screen`. `lensArea` (logical, relative to the
    // screen) is where the lens may show before its next frame: where the live picture will
    // draw the lens, only that part of the screen is read, as the backdrop of what the live
    // picture cannot read itself. Elsewhere the whole screen is read.
    // `screenWindow`: the overlay window covering `screen`, where the live picture reads the
    // part without waiting for the window system.
    void request(QScreen *screen, const QRect &lensArea = QRect(),
                 const QWidget *screenWindow = nullptr);
    void cancel();
    // The lens is now over `screen`. Where it has no picture of that screen it asks for one
    // and shows nothing until it comes; the picture of the screen it leaves is kept until the
    // next request(), so a lens carried back and forth between screens asks once for each.
    void showOver(QScreen *screen, const QRect &lensArea = QRect(),
                  const QWidget *screenWindow = nullptr);
    // `screen` left: its picture goes.
    void forgetScreen(QScreen *screen);

    bool isPending() const { return m_pending; }
    QPixmap picture() const { return m_picture; }
    // Where the picture's top left corner lies in the device pixels of its screen: (0, 0) for
    // a picture of the whole screen.
    QPoint pictureOrigin() const { return m_pictureOrigin; }
    QScreen *screen() const { return m_screen; }
    // The lens has nothing to show: its picture is on the way, or cannot come, or (where the
    // route answers later) did not come.
    bool waitsForPicture() const;
    // The lens shows only over the screen of its picture (routes that answer later); with a
    // picture read at once it shows its ring elsewhere.
    bool onlyOverItsScreen() const;

    // The lens is shown over `screen` at `pointer` (its logical coordinates), with `radius` and
    // magnification `scale`: the live picture follows the part it magnifies. `screenWindow`
    // is the overlay window covering `screen` exactly, `ownWindows` all of the overlay's
    // windows, which the picture leaves out. False where there is no live picture (not X11,
    // no compositing manager): the picture taken at the key press is the one to show then.
    bool follow(QScreen *screen, const QWidget *screenWindow,
                const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                double scale);
    // The lens is no longer shown: nothing is read any more. The next follow() starts anew.
    void stopLive();
    // The live picture of the area the lens magnifies, and where its top left corner lies in
    // the device pixels of its screen; null while there is none.
    QImage livePicture() const;
    QPoint liveOrigin() const;

signals:
    // A picture came, or the one asked for will not.
    void changed();
    // The live picture changed between two calls of follow() (what lies beneath changed).
    void refreshed();
    // The magnifier cannot work in this session; `why` is a line for the user.
    void unavailable(const QString &why);

private:
    ScreenCapture *route() const;
    void onCaptured(QPointer<QScreen> screen, QPixmap picture);
    void ask(QScreen *screen, const QRect &lensArea, const QWidget *screenWindow);
    void onPartRead(QScreen *screen, const QPixmap &picture);
    void onPartFailed();
    bool liveWillDraw();
    void useBackdrop();
    void onFailed(const QString &why, bool lasting);
    void connectRoute(ScreenCapture *route);

    ScreenGrabCapture m_grab;
    std::unique_ptr<ScreenCapture> m_route;
    QPixmap m_picture;
    QPoint m_pictureOrigin;
    QRect m_askedPart; // logical, of the screen; null when the whole screen was asked for
    QPointer<QScreen> m_screen;
    // Pictures of other screens taken since the last request(), for a lens carried back.
    struct Kept
    {
        QPointer<QScreen> screen;
        QPixmap picture;
        QPoint origin;
    };
    std::vector<Kept> m_kept;
    bool m_pending = false;
    bool m_readingPart = false; // the live picture reads the part asked for
    bool m_available = true;
    QString m_why;

    std::unique_ptr<LiveSource> m_live;
};
