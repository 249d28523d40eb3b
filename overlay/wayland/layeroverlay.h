#pragma once

#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>

struct OverlayFrame;
class ScreenCapture;
class WaylandClient;

// The overlay drawn natively on a Wayland compositor that offers layer-shell (wlroots
// compositors, KDE Plasma): one surface per output on the overlay layer, on a Wayland
// connection of its own, so it works the same whether Qt runs through XWayland or natively.
// It draws the frames it is handed and reports the pointer and button presses over its
// surfaces; it decides nothing about the effects.
//
// Its surfaces never take the keyboard. They take no pointer input either, except while an
// effect that follows the pointer is shown: then the compositor tells them where the pointer
// is, also over native windows, where the X server of XWayland would not know.
class LayerOverlay final : public QObject
{
    Q_OBJECT

public:
    // The overlay on `client`'s compositor, which it then owns, or null where the compositor
    // does not offer layer-shell (see OverlayPlatform, the one caller).
    static std::unique_ptr<LayerOverlay> connectIfOffered(std::unique_ptr<WaylandClient> client);

    ~LayerOverlay() override;

    // Shows `frame`: its effect on the output of frame.screen, nothing on the others. With
    // `onlyPointerMoved` only the effect's old and new place are drawn again, and with
    // `pictureRefreshed` (the lens's live picture changed) the effect's place too. Drawn at the
    // output's next frame (a surface being mapped: once the compositor has answered with its
    // size); a surface that shows nothing any more is unmapped at once.
    void present(const OverlayFrame &frame, bool onlyPointerMoved, bool pictureRefreshed = false);

    // Where the pointer was last seen over one of the surfaces, in global logical
    // coordinates of Qt's screens; none before it ever was.
    std::optional<QPoint> pointerPosition() const;

    // A screen capture through wlr-screencopy on this connection; null when the compositor
    // does not offer it.
    std::unique_ptr<ScreenCapture> makeCapture();

signals:
    // A mouse button went down over a surface (only possible while an effect is shown).
    void pressed();
    // The pointer moved over a surface; pointerPosition() tells where.
    void pointerMoved();
    // The connection to the compositor broke. Sent once, later than the failure itself.
    void lost();

private:
    struct Private;
    explicit LayerOverlay(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
