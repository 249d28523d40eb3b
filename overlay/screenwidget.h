#pragma once

#include "overlay/overlayframe.h"
#include "overlay/overlaysurface.h"
#include "presenter/effectsettings.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class LayerOverlay;
class OverlayWindowSystem;
class QScreen;
class ScreenCapture;

// The presentation effects (spotlight, laser dot, magnifier, black screen) round the pointer,
// on every screen. It is the one overlay interface of the program: the settings window drives
// it only through the public slots, and it renders what it is told; it stores nothing.
//
// One overlay window covers each screen, since a window has one pixel ratio and screens may
// differ. This widget is the window on the primary screen (the one that was primary when it
// started, as long as that screen is there) and owns the others. They are
// created once, show themselves and stay shown; an effect is off when they paint nothing.
// (Under XWayland the window system takes them off the screen while they paint nothing, and
// lets them hold the pointer while an effect follows it: see OverlayWindowSystem::Presence.)
// The effect is drawn on the screen under the pointer, the others stay untouched.
//
// Each frame (mode, pointer, target screen, what the window system shows) is worked out
// before the windows repaint. While an effect that follows the pointer is displayed, the
// pointer is sampled at the display's refresh rate and only the effect's old and new place
// are repainted; while nothing is displayed nothing runs.
//
// Where the Wayland compositor offers layer-shell, the frames go to the native overlay
// (LayerOverlay) instead, and the Qt windows are never shown.
//
// The magnifier's picture of the screen comes either at once from a ScreenGrabber (X11, where
// the root window can be read) or later from a ScreenCapture (a Wayland compositor's route).
// With the latter the lens draws nothing until the picture of the screen under the pointer
// has come: a lens without a picture would show a black or empty disc.
class ScreenWidget final : public OverlaySurface
{
    Q_OBJECT

public:
    // Where the pointer is, in global (logical) screen coordinates.
    using PointerSource = std::function<QPoint()>;
    // A picture of `screen` in its device pixels, its pixel ratio set; a null pixmap when it
    // cannot be taken.
    using ScreenGrabber = std::function<QPixmap(QScreen *screen)>;
    // Blocks the calling thread for the given milliseconds without running the event loop.
    using BlockingWait = std::function<void(int milliseconds)>;

    explicit ScreenWidget(QWidget *parent);
    ~ScreenWidget() override;

    // Replace how the overlay reads the pointer, captures the screen, waits during the mode
    // flash and talks to the window system (the defaults use the real ones).
    void setPointerSource(PointerSource source);
    void setScreenGrabber(ScreenGrabber grabber);
    void setFlashWait(BlockingWait wait);
    void setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem);
    // Takes the lens's pictures from `capture` instead of the ScreenGrabber; null goes back to
    // the grabber.
    void setScreenCapture(std::unique_ptr<ScreenCapture> capture);

    // Whether the magnifier can show the screen at all. Set at start when the program knows
    // there is no way to capture it; a capture route that fails for good sets it as well.
    // Once unavailable the lens draws nothing and magnifierUnavailable() is emitted (once).
    void setMagnifierAvailable(bool available, const QString &why = QString());
    bool isMagnifierAvailable() const { return m_magnifierAvailable; }
    QString magnifierUnavailableReason() const { return m_magnifierWhy; }
    // A picture was asked for and has not come yet.
    bool isCapturePending() const { return m_capturePending; }

    // Takes the stored settings at once (start-up): mode, colours, opacities, the current
    // mode's size and the magnification. Shows nothing and captures nothing.
    void applySettings(const EffectSettings &settings);

    // Samples the pointer and, if it moved since the last frame, repaints the old and the new
    // place of a displayed effect. Runs by itself at the display's refresh rate while an
    // effect that follows the pointer is displayed.
    void followPointer();
    bool isSamplingPointer() const { return m_followTimer.isActive(); }

    ScreenMode paintMode() const { return m_paintMode; }
    ScreenMode curMode() const { return m_curMode; }
    QColor foreColor() const { return m_foreColor; }
    QColor backColor() const { return m_backColor; }
    int foreOpacity() const { return m_foreOpacity; }
    int backOpacity() const { return m_backOpacity; }
    int cursorSize() const { return m_cursorSize; }
    double scaleRate() const { return m_scaleRate; }
    QPixmap screenPixmap() const { return m_capture; }
    // The pointer position of the last frame, in the coordinates of the screen it was on.
    QPoint mousePos() const { return m_frame.pointer; }
    // The screen the effect is drawn on, and the windows over each screen.
    QScreen *effectScreen() const { return m_frame.screen; }
    std::vector<OverlaySurface *> surfaces() const;
    // The native Wayland overlay that draws the frames instead of the windows; null where
    // the windows do (no layer-shell, or its connection broke).
    LayerOverlay *layerOverlay() const { return m_layerOverlay.get(); }

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
    void onSetMouseSpeed(double speed);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    enum class Repaint { Whole, PointerMove };

    void showWindows();
    void useLayerOverlay();
    void clearDisplay();
    void takeInput(const QEvent *event);
    void onCaptured(QPointer<QScreen> screen, QPixmap picture);
    void onCaptureFailed(const QString &why, bool lasting);
    void requestCapture();
    void cancelCapture();
    bool lensWaitsForPicture() const;
    void applyPresence(bool followingPointer);
    void setPaintMode(ScreenMode mode);
    void clearForCapture();
    void captureScreen();
    void planFrame(Repaint repaint, bool now = false);
    void followScreens();
    void forgetScreen(QScreen *screen);
    void redrawEverything();
    OverlaySurface *surfaceOn(QScreen *screen) const;
    QScreen *screenUnder(QPoint global) const;
    QPoint sampledPointer() const;
    void applyShownRegions();
    void applyPointerShape();
    void syncWindowSystem();

    ScreenMode m_paintMode = ModeNormal;
    ScreenMode m_curMode = ModeNormal;
    QColor m_foreColor = EffectSettings().foreColor;
    QColor m_backColor = EffectSettings().backColor;
    int m_foreOpacity = EffectSettings().foreOpacity;
    int m_backOpacity = EffectSettings().backOpacity;
    int m_cursorSize = EffectSettings().cursorSize;
    double m_scaleRate = EffectSettings().scaleRate;
    // The last capture and the screen it shows.
    QPixmap m_capture;
    QPointer<QScreen> m_captureScreen;

    PointerSource m_pointerSource;
    ScreenGrabber m_screenGrabber;
    std::unique_ptr<ScreenCapture> m_screenCapture;
    // One request at a time: a capture moment while one is under way replaces it, and a
    // request nobody waits for any more (the lens gone, the key let go) is cancelled, so the
    // route closes what it holds open at once.
    bool m_capturePending = false;
    bool m_magnifierAvailable = true;
    QString m_magnifierWhy;
    BlockingWait m_flashWait;
    std::unique_ptr<OverlayWindowSystem> m_windowSystem;
    std::unique_ptr<LayerOverlay> m_layerOverlay;

    // The frame the windows draw, and whether the next one picks its screen again.
    OverlayFrame m_frame;
    bool m_pickScreen = true;
    // The windows over the screens other than the primary one.
    std::vector<std::unique_ptr<OverlaySurface>> m_others;
    QTimer m_followTimer;
    bool m_windowsReady = false;
};
