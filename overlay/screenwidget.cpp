#include "overlay/screenwidget.h"

#include "overlay/livesource.h"
#include "overlay/overlaycontroller.h"
#include "overlay/overlayplatform.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/screencapture.h"
#include "overlay/wayland/layeroverlay.h"

ScreenWidget::ScreenWidget(QWidget *parent, OverlayPlatform &platform)
    : OverlaySurface(parent, nullptr, platform.windowFlags())
{
    auto controller = std::make_unique<OverlayController>(
        this, platform.makeWindowSystem(), platform.takeLayerOverlay(), platform.makeLiveSource());
    setFrame(controller->frame());
    connect(controller.get(), &OverlayController::magnifierUnavailable, this,
            &ScreenWidget::magnifierUnavailable);
    m_controller = std::move(controller);
}

ScreenWidget::~ScreenWidget()
{
    // The frame goes with the controller, before this window.
    setFrame(nullptr);
}

void ScreenWidget::setVisible(bool visible)
{
    OverlaySurface::setVisible(visible && !layerOverlay());
}

void ScreenWidget::setPointerSource(PointerSource source)
{
    m_controller->setPointerSource(std::move(source));
}

void ScreenWidget::setScreenGrabber(ScreenGrabber grabber)
{
    m_controller->lens().setGrabber(std::move(grabber));
}

void ScreenWidget::setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem)
{
    m_controller->setWindowSystem(std::move(windowSystem));
}

void ScreenWidget::setScreenCapture(std::unique_ptr<ScreenCapture> capture)
{
    m_controller->lens().setRoute(std::move(capture));
}

void ScreenWidget::setMagnifierAvailable(bool available, const QString &why)
{
    m_controller->setMagnifierAvailable(available, why);
}

bool ScreenWidget::isMagnifierAvailable() const
{
    return m_controller->lens().isAvailable();
}

QString ScreenWidget::magnifierUnavailableReason() const
{
    return m_controller->lens().unavailableReason();
}

bool ScreenWidget::isCapturePending() const
{
    return m_controller->lens().isPending();
}

void ScreenWidget::applySettings(const EffectSettings &settings)
{
    m_controller->applySettings(settings);
}

void ScreenWidget::followPointer()
{
    m_controller->followPointer();
}

bool ScreenWidget::isSamplingPointer() const
{
    return m_controller->isSamplingPointer();
}

bool ScreenWidget::isFlashing() const
{
    return m_controller->isFlashing();
}

ScreenMode ScreenWidget::paintMode() const
{
    return m_controller->paintMode();
}

ScreenMode ScreenWidget::drawnMode() const
{
    return m_controller->frame()->mode;
}

ScreenMode ScreenWidget::curMode() const
{
    return m_controller->settings().mode;
}

QColor ScreenWidget::foreColor() const
{
    return m_controller->settings().foreColor;
}

QColor ScreenWidget::backColor() const
{
    return m_controller->settings().backColor;
}

int ScreenWidget::foreOpacity() const
{
    return m_controller->settings().foreOpacity;
}

int ScreenWidget::backOpacity() const
{
    return m_controller->settings().backOpacity;
}

int ScreenWidget::cursorSize() const
{
    return m_controller->settings().cursorSize;
}

double ScreenWidget::scaleRate() const
{
    return m_controller->settings().scaleRate;
}

QPixmap ScreenWidget::screenPixmap() const
{
    return m_controller->lens().picture();
}

QPoint ScreenWidget::mousePos() const
{
    return m_controller->frame()->pointer;
}

QScreen *ScreenWidget::effectScreen() const
{
    return m_controller->frame()->screen;
}

LayerOverlay *ScreenWidget::layerOverlay() const
{
    return m_controller ? m_controller->layerOverlay() : nullptr;
}

void ScreenWidget::onSetMode(ScreenMode mode)
{
    m_controller->setMode(mode);
}

void ScreenWidget::onShowMode(bool enable)
{
    m_controller->showMode(enable);
}

void ScreenWidget::onSetForeColor(QColor color)
{
    m_controller->setForeColor(color);
}

void ScreenWidget::onSetBackColor(QColor color)
{
    m_controller->setBackColor(color);
}

void ScreenWidget::onSetForeOpacity(int opacity)
{
    m_controller->setForeOpacity(opacity);
}

void ScreenWidget::onSetBackOpacity(int opacity)
{
    m_controller->setBackOpacity(opacity);
}

void ScreenWidget::onSetCursorSize(int size)
{
    m_controller->setCursorSize(size);
}

void ScreenWidget::onSetRepaint()
{
    m_controller->recapture();
}

void ScreenWidget::onSetScaleRate(double scale)
{
    m_controller->setScaleRate(scale);
}
