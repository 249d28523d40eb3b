#include "overlay/wayland/layeroverlay.h"

#include "overlay/screencapture.h"

// Built without wayland-client: there is never a native Wayland overlay.
struct LayerOverlay::Private
{
};

LayerOverlay::LayerOverlay(std::unique_ptr<Private> p) : d(std::move(p)) {}

LayerOverlay::~LayerOverlay() = default;

void LayerOverlay::present(const OverlayFrame &, bool, bool) {}

std::optional<QPoint> LayerOverlay::pointerPosition() const
{
    return std::nullopt;
}

std::unique_ptr<ScreenCapture> LayerOverlay::makeCapture()
{
    return nullptr;
}
