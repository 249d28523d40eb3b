#pragma once

#include "overlay/overlaybackend.h"

#include <memory>

class LayerOverlay;

// The overlay drawn on a Wayland compositor's layer surfaces (LayerOverlay). Its surfaces
// follow the outputs by themselves, and while an effect follows the pointer the compositor
// reports every move over them: the pointer is never sampled.
class LayerBackend final : public OverlayBackend
{
    Q_OBJECT

public:
    explicit LayerBackend(std::unique_ptr<LayerOverlay> overlay);
    ~LayerBackend() override;

    LayerOverlay *overlay() const { return m_overlay.get(); }

    void start() override;
    void followScreens(QScreen *leaving = nullptr) override;
    void show(const Shown &shown) override;
    void hide() override;
    std::optional<QPoint> pointerPosition() const override;
    bool reportsPointerMotion() const override { return true; }

private:
    std::unique_ptr<LayerOverlay> m_overlay;
    bool m_started = false;
};
