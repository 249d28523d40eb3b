#pragma once

#include "overlay/frameplanner.h"

#include <QList>
#include <QObject>
#include <QPoint>

#include <optional>

struct OverlayFrame;
class QScreen;

// What puts the overlay's frames on the screens: Qt's windows (WindowBackend) or the layer
// surfaces of a Wayland compositor (LayerBackend). The controller drives it through its life:
// start() creates what draws on each screen, show() puts a planned frame there, hide() takes
// everything off the screens; lost() says it can draw no more, and another takes over.
//
// It decides nothing about the effects; it only draws what it is handed and reports the
// pointer and the input that reach it.
class OverlayBackend : public QObject
{
    Q_OBJECT

public:
    // One frame to show: what the planner chose before and now, for the screens it planned
    // over (in the order of the plan), and the picture the surfaces paint.
    struct Shown
    {
        const OverlayFrame &frame;
        const FramePlanner::Plan &before;
        const FramePlanner::Plan &plan;
        const QList<QScreen *> &screens;
        // Only the pointer moved since `before`: only the effect's old and new place change.
        bool onlyPointerMoved = false;
        // The lens's picture changed beneath it: the effect at the pointer is drawn again.
        bool pictureRefreshed = false;
        // Drawn before show() returns, not at the next turn of the event loop (the screen is
        // about to be read).
        bool now = false;
    };

    ~OverlayBackend() override = default;

    // Creates a surface per screen; nothing is shown yet.
    virtual void start() = 0;
    // Screens came, went or moved; `leaving` is one about to go.
    virtual void followScreens(QScreen *leaving = nullptr) = 0;
    virtual void show(const Shown &shown) = 0;
    // Takes everything off the screens (the backend can be started again).
    virtual void hide() = 0;

    // Returns once what show() drew with `now` is on the screen; with `redrawBeneath` also
    // once what lay beneath an effect that was just cleared has been drawn again.
    virtual void settle(bool redrawBeneath) { Q_UNUSED(redrawBeneath) }

    // Whether translucent pixels blend with the desktop, and whether the pointer position
    // read now is a current one: both feed the planner.
    virtual bool isCompositing() const { return true; }
    virtual bool knowsPointer() const { return true; }
    // Where the pointer is, where only this backend knows it (native Wayland windows).
    virtual std::optional<QPoint> pointerPosition() const { return std::nullopt; }
    // pointerMoved() comes for every move of the pointer while an effect follows it, so the
    // pointer need not be sampled.
    virtual bool reportsPointerMotion() const = 0;

signals:
    void pointerMoved();
    // Input reached a surface: a click, or a key.
    void clicked();
    void keyed();
    // What the window system shows changed under the frame (compositing started or
    // stopped, the pointer position became current): the frame has to be shown again.
    void frameStale();
    // The backend can draw no more (its connection broke).
    void lost();
};
