#pragma once

#include "presenter/effectsettings.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QMetaObject>
#include <QPixmap>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class OverlayWindowSystem;
class QScreen;

// The full-screen overlay over the primary screen that draws the presentation effects
// (spotlight, laser dot, magnifier, black screen) round the pointer. It is created once,
// shows itself and stays shown; an effect is off when the overlay paints nothing. The
// settings window drives it only through the public slots, most of which also store the new
// value in "./Kavri.ini".
//
// The window never takes input or focus: clicks and keys go to the presentation beneath.
// While an effect that follows the pointer is displayed, the pointer is sampled at the
// display's refresh rate and only the effect's old and new place are repainted; while
// nothing is displayed nothing runs.
class ScreenWidget final : public QWidget
{
    Q_OBJECT

public:
    // Where the pointer is, in global screen coordinates.
    using PointerSource = std::function<QPoint()>;
    // A picture of the whole primary screen; a null pixmap when it cannot be taken.
    using ScreenGrabber = std::function<QPixmap()>;
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

    // Takes mode, colours, opacities, size and magnification at once, as the settings window
    // has them at start: no flash, nothing stored, nothing displayed.
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
    QPixmap screenPixmap() const { return m_screenPixmap; }
    // The pointer position the last frame was drawn at, in overlay coordinates.
    QPoint mousePos() const { return QPoint(m_mouseX, m_mouseY); }

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
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void clearDisplay();
    void setPaintMode(ScreenMode mode);
    void captureScreen();
    void fitToPrimaryScreen();
    QPoint sampledPointer() const;
    QPoint framePosition(const QRegion &paintRegion);
    void applyShownRegion();
    void syncWindowSystem();
    void setCursorShape(Qt::CursorShape shape);

    void paintNormal(QPainter &painter);
    void paintSpotLight(QPainter &painter);
    void paintLaser(QPainter &painter);
    void paintMagnifier(QPainter &painter);
    void paintBlackScreen(QPainter &painter);

    ScreenMode m_paintMode = ModeNormal;
    ScreenMode m_curMode = ModeNormal;
    QColor m_foreColor{255, 255, 0};
    QColor m_backColor{10, 10, 10};
    int m_foreOpacity = 200;
    int m_backOpacity = 200;
    QPixmap m_screenPixmap;
    int m_mouseX = 0;
    int m_mouseY = 0;
    int m_cursorSize = 20;
    double m_scaleRate = 2.0;

    PointerSource m_pointerSource;
    ScreenGrabber m_screenGrabber;
    BlockingWait m_flashWait;
    std::unique_ptr<OverlayWindowSystem> m_windowSystem;

    // Pointer position the pending repaints were planned for (overlay coordinates), and the
    // mode and radius of the last frame drawn (-1: none yet).
    QPoint m_plannedPointer;
    int m_drawnMode = -1;
    int m_drawnRadius = -1;
    QTimer m_followTimer;
    // What the window is currently limited to on the screen; null until first set.
    QRegion m_shownRegion;
    bool m_shownRegionSet = false;
    // The overlay's origin in global coordinates: the primary screen's top-left corner.
    QPoint m_origin;
    QMetaObject::Connection m_screenGeometryConnection;
};
