#include "overlay/wayland/layerbackend.h"

#include "overlay/wayland/layeroverlay.h"
#include "overlay/overlayframe.h"

LayerBackend::LayerBackend(std::unique_ptr<LayerOverlay> overlay) : m_overlay(std::move(overlay))
{
    connect(m_overlay.get(), &LayerOverlay::pointerMoved, this, &LayerBackend::pointerMoved);
    connect(m_overlay.get(), &LayerOverlay::pressed, this, &LayerBackend::clicked);
    connect(m_overlay.get(), &LayerOverlay::lost, this, &LayerBackend::lost);
}

LayerBackend::~LayerBackend() = default;

void LayerBackend::start()
{
    // The surfaces exist since the connection was made; they are mapped only while they draw.
    m_started = true;
}

void LayerBackend::followScreens(QScreen *)
{
    // The surfaces follow the compositor's outputs by themselves.
}

void LayerBackend::show(const Shown &shown)
{
    if (m_started)
        m_overlay->present(shown.frame, shown.onlyPointerMoved, shown.pictureRefreshed);
}

void LayerBackend::hide()
{
    m_overlay->present(OverlayFrame(), false);
    m_started = false;
}

std::optional<QPoint> LayerBackend::pointerPosition() const
{
    return m_overlay->pointerPosition();
}
