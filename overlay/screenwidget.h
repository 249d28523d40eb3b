#pragma once

#include "overlay/capture/screengrabcapture.h"
#include "overlay/overlaysurface.h"
#include "presenter/effectsettings.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QPixmap>
#include <QPoint>

#include <functional>
#include <memory>
#include <vector>

class LayerOverlay;
class OverlayController;
class OverlayPlatform;
class OverlayWindowSystem;
class QScreen;
class ScreenCapture;

// The presentation effects (spotlight, laser dot, magnifier, black screen) round the pointer,
// on every screen. It is the one overlay interface of the program: the settings window drives
// it only through the public slots, and it renders what it is told; it stores nothing.
//
// It is the overlay window over the primary screen and a front for what does the work:
// OverlayController keeps what the overlay was told, runs the mode flash and the following of
// the pointer and has each frame planned (FramePlanner); LensPicture gets the magnifier's
// picture of the screen; a backend draws, in Qt's windows (this one and one per other screen)
// or, where the Wayland compositor offers layer-shell, on layer surfaces of its own, the Qt
// windows then never shown.
class ScreenWidget final : public OverlaySurface
{
    Q_OBJECT

public:
    // Where the pointer is, in global (logical) screen coordinates.
    using PointerSource = std::function<QPoint()>;
    using ScreenGrabber = ScreenGrabCapture::Grabber;

    // Takes what it draws with from `platform` (see OverlayPlatform::detect()).
    ScreenWidget(QWidget *parent, OverlayPlatform &platform);
    ~ScreenWidget() override;

    // Replace how the overlay reads the pointer, reads the screen and talks to the window
    // system (the defaults use the real ones).
    void setPointerSource(PointerSource source);
    void setScreenGrabber(ScreenGrabber grabber);
    void setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem);
    // Takes the lens's pictures from `capture` instead of reading the screen itself; null
    // goes back to reading it.
    void setScreenCapture(std::unique_ptr<ScreenCapture> capture);

    // Whether the magnifier can show the screen at all. Set at start when the program knows
    // there is no way to capture it; a capture route that fails for good sets it as well.
    // Once unavailable the lens draws nothing and magnifierUnavailable() is emitted (once).
    void setMagnifierAvailable(bool available, const QString &why = QString());
    bool isMagnifierAvailable() const;
    QString magnifierUnavailableReason() const;
    // A picture was asked for and has not come yet.
    bool isCapturePending() const;

    // Takes the stored settings at once (start-up): mode, colours, opacities, the current
    // mode's size and the magnification. Shows nothing and captures nothing.
    void applySettings(const EffectSettings &settings);

    // Samples the pointer and, if it moved since the last frame, repaints the old and the new
    // place of a displayed effect. Runs by itself while an effect that follows the pointer is
    // displayed: on the window system's motion reports, or else at the display's refresh rate.
    void followPointer();
    bool isSamplingPointer() const;
    // A newly selected mode is being shown (for 600 ms).
    bool isFlashing() const;

    // The mode displayed, and what the windows draw of it now (nothing while the lens waits
    // for its picture).
    ScreenMode paintMode() const;
    ScreenMode drawnMode() const;
    ScreenMode curMode() const;
    QColor foreColor() const;
    QColor backColor() const;
    int foreOpacity() const;
    int backOpacity() const;
    int cursorSize() const;
    double scaleRate() const;
    QPixmap screenPixmap() const;
    // The pointer position of the last frame, in the coordinates of the screen it was on.
    QPoint mousePos() const;
    // The screen the effect is drawn on.
    QScreen *effectScreen() const;
    // The native Wayland overlay that draws the frames instead of the windows; null where
    // the windows do (no layer-shell, or its connection broke).
    LayerOverlay *layerOverlay() const;

    // While the native Wayland overlay draws, this window stays unmapped whoever shows it.
    void setVisible(bool visible) override;

signals:
    // The magnifier cannot work in this session; `why` is a line for the user.
    void magnifierUnavailable(const QString &why);

public slots:
    void onSetMode(ScreenMode mode);
    void onShowMode(bool enable);
    void onSetForeColor(QColor color);
    void onSetBackColor(QColor color);
    void onSetForeOpacity(int opacity);
    void onSetBackOpacity(int opacity);
    void onSetCursorSize(int size);
    void onSetRepaint();
    void onSetScaleRate(double scale);

private:
    std::unique_ptr<OverlayController> m_controller;
};
