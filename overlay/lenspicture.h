#pragma once

#include "overlay/capture/screengrabcapture.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QString>

#include <memory>

class ScreenCapture;

// The magnifier's picture of the screen, and the one way it is got: a request to the capture
// route, answered later (or refused). One request at a time: a new one replaces the one under
// way, and a request nobody waits for any more is cancelled, so the route closes what it holds
// open at once.
//
// It knows nothing of the lens's drawing or of the overlay's windows: whoever shows the lens
// asks it whether there is a picture to show, and of which screen.
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

    // Whether a picture can be had at all. Once unavailable, unavailable() is emitted (once)
    // and nothing is asked for any more.
    void setAvailable(bool available, const QString &why = QString());
    bool isAvailable() const { return m_available; }
    QString unavailableReason() const { return m_why; }

    // Drops the picture held and asks for one of `screen`.
    void request(QScreen *screen);
    void cancel();
    // `screen` left: its picture goes.
    void forgetScreen(QScreen *screen);

    bool isPending() const { return m_pending; }
    QPixmap picture() const { return m_picture; }
    QScreen *screen() const { return m_screen; }
    // The lens has nothing to show: its picture is on the way, or cannot come, or (where the
    // route answers later) did not come.
    bool waitsForPicture() const;
    // The lens shows only over the screen of its picture (routes that answer later); with a
    // picture read at once it shows its ring elsewhere.
    bool onlyOverItsScreen() const;

signals:
    // A picture came, or the one asked for will not.
    void changed();
    // The magnifier cannot work in this session; `why` is a line for the user.
    void unavailable(const QString &why);

private:
    ScreenCapture *route() const;
    void onCaptured(QPointer<QScreen> screen, QPixmap picture);
    void onFailed(const QString &why, bool lasting);
    void connectRoute(ScreenCapture *route);

    ScreenGrabCapture m_grab;
    std::unique_ptr<ScreenCapture> m_route;
    QPixmap m_picture;
    QPointer<QScreen> m_screen;
    bool m_pending = false;
    bool m_available = true;
    QString m_why;
};
