#pragma once

#include "overlay/frameplanner.h"
#include "overlay/lenspicture.h"
#include "overlay/overlayframe.h"
#include "presenter/effectsettings.h"
#include "presenter/screenmode.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class LayerBackend;
class LayerOverlay;
class LiveSource;
class OverlayBackend;
class OverlaySurface;
class OverlayWindowSystem;
class QScreen;
class WindowBackend;

// Runs the effects: keeps what the overlay was told (mode, colours, sizes), the mode flash
// and the following of the pointer, has each frame planned (FramePlanner) and hands it to the
// backend that draws. The lens's picture is LensPicture's.
//
// Where the Wayland compositor offers layer-shell, its surfaces draw (LayerBackend) and Qt's
// windows are never shown; when that connection is lost, the windows take over.
class OverlayController final : public QObject
{
    Q_OBJECT

public:
    using PointerSource = std::function<QPoint()>;

    // `primary` is the window over the primary screen; the windows of the other screens are
    // the controller's. Where `layer` is given its surfaces draw, else the windows do, with
    // `windowSystem`; `live` is the lens's live picture. Starts the backend that draws.
    OverlayController(OverlaySurface *primary, std::unique_ptr<OverlayWindowSystem> windowSystem,
                      std::unique_ptr<LayerOverlay> layer, std::unique_ptr<LiveSource> live);
    ~OverlayController() override;

    const OverlayFrame *frame() const { return &m_frame; }
    void setPointerSource(PointerSource source);
    void setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem);
    LensPicture &lens() { return m_lens; }
    const LensPicture &lens() const { return m_lens; }
    // Null while Qt's windows draw.
    LayerOverlay *layerOverlay() const;

    void applySettings(const EffectSettings &settings);
    void setMagnifierAvailable(bool available, const QString &why);
    // The slots of the overlay's interface (ScreenWidget).
    void setMode(ScreenMode mode);
    void showMode(bool enable);
    void setForeColor(const QColor &color);
    void setBackColor(const QColor &color);
    void setForeOpacity(int opacity);
    void setBackOpacity(int opacity);
    void setCursorSize(int size);
    void recapture();
    void setScaleRate(double scale);
    void followPointer();

    const EffectSettings &settings() const { return m_settings; }
    ScreenMode paintMode() const { return m_paintMode; }
    bool isFlashing() const { return m_flash.isActive(); }
    bool isSamplingPointer() const { return m_followTimer.isActive(); }

signals:
    void magnifierUnavailable(const QString &why);

private:
    enum class Repaint { Whole, PointerMove, PictureRefreshed };

    void useBackend(OverlayBackend *backend);
    void fallBackToWindows();
    void endFlash();
    void clearDisplay();
    void takeClick();
    void setPaintMode(ScreenMode mode);
    void clearForCapture();
    void requestPicture();
    QRect lensArea(QPoint pointer, QScreen *screen) const;
    void planFrame(Repaint repaint, bool now = false);
    bool followLive(const FramePlanner::Plan &plan);
    void screensChanged(QScreen *leaving = nullptr);
    void screenMoved();
    QPoint sampledPointer() const;

    EffectSettings m_settings; // its mode is the selected one
    ScreenMode m_paintMode = ModeNormal;
    LensPicture m_lens;
    PointerSource m_pointerSource;

    std::unique_ptr<WindowBackend> m_windows;
    std::unique_ptr<LayerBackend> m_layer;
    OverlayBackend *m_backend = nullptr;

    // The frame the surfaces draw, the plan it came from and the screens planned over.
    OverlayFrame m_frame;
    FramePlanner::Plan m_plan;
    QList<QScreen *> m_planScreens;
    bool m_pickScreen = true;
    QTimer m_followTimer;
    // Looks at the pointer now and then where motion reports miss warps (see WarpWatchMs).
    QTimer m_warpWatch;
    QTimer m_motion;
    QTimer m_flash;
    // Where the window system last said the pointer is, for the rest of this turn of the
    // event loop: each question waits for a server that may be busy compositing.
    mutable std::optional<QPoint> m_pointerThisTurn;
};
