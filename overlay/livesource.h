#pragma once

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QRect>

#include <vector>

class QScreen;
class QWidget;

// A live picture of the part of the screen the lens magnifies, remade whenever what lies
// beneath the overlay changes there, where the platform can make one (see OverlayPlatform).
// The lens shows it on top of the picture taken at the key press.
class LiveSource : public QObject
{
    Q_OBJECT

public:
    ~LiveSource() override = default;

    // The lens is shown over `screen` at `pointer` (its logical coordinates), with `radius`
    // and magnification `scale`: the picture follows the part it magnifies. `screenWindow`
    // is the overlay window covering `screen` exactly, `ownWindows` all of the overlay's
    // windows, which the picture leaves out. The picture is ready when this returns. False
    // where there is no live picture (and for a null `screen`): the picture of the key press
    // is the one to show then.
    virtual bool follow(QScreen *screen, const QWidget *screenWindow,
                        const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                        double scale) = 0;
    // The lens is no longer shown: nothing is read any more. The next follow() starts anew,
    // and asks again where the picture could not be live (no compositing manager).
    virtual void stop() = 0;
    // The picture, and where its top left corner lies in the device pixels of its screen;
    // null while there is none.
    virtual QImage picture() const = 0;
    virtual QPoint origin() const = 0;
    // Whether follow() would make a live picture now (a compositing manager runs); asks the
    // window system.
    virtual bool willDraw() = 0;
    // The picture taken at the key press, of `screen`, its top left corner at `origin` in the
    // screen's device pixels: what shows where the desktop publishes no picture of its
    // background.
    virtual void setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin) = 0;
    // Reads `part` (logical, relative to `screen`) of the screen as it shows now, without
    // waiting for the window system: partRead() or partFailed() follow. `screenWindow` is the
    // overlay window covering `screen` exactly. False where this source reads no parts: the
    // capture route reads it then.
    virtual bool readPart(QScreen *screen, const QWidget *screenWindow, const QRect &part)
    {
        Q_UNUSED(screen)
        Q_UNUSED(screenWindow)
        Q_UNUSED(part)
        return false;
    }
    // The part asked for is no longer wanted.
    virtual void cancelPart() {}

signals:
    // The picture changed between two calls of follow() (what lies beneath changed).
    void refreshed();
    // The picture can no longer be live (the compositing manager went away).
    void ended();
    // The part asked for by readPart(), in the device pixels of `screen` (their ratio set).
    void partRead(QScreen *screen, const QPixmap &picture);
    void partFailed();
};

// Where the platform makes no live picture.
class NoLiveSource final : public LiveSource
{
    Q_OBJECT

public:
    bool follow(QScreen *, const QWidget *, const std::vector<const QWidget *> &, QPoint, int,
                double) override;
    void stop() override {}
    QImage picture() const override { return QImage(); }
    QPoint origin() const override { return QPoint(); }
    bool willDraw() override;
    void setPressPicture(QScreen *, const QPixmap &, QPoint) override {}

private:
    void tell();

    bool m_told = false;
};
