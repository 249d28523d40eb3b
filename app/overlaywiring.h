#pragma once

#include <QObject>

// The only path from the presenter's state to the overlay: nine typed connections from the
// state's commands to the overlay's slots of the same meaning, made once both exist. The
// state's other signals (the selected mode and size for the window, the dongle's status, the
// sleep time) stay away from the overlay.
namespace OverlayWiring {

// Written once for any pair of classes with these members, so that tests can check each
// signal against a recording receiver.
template <class State, class Overlay> void connectStateToOverlay(State *state, Overlay *overlay)
{
    QObject::connect(state, &State::overlayMode, overlay, &Overlay::onSetMode);
    QObject::connect(state, &State::overlayShow, overlay, &Overlay::onShowMode);
    QObject::connect(state, &State::overlayForeColor, overlay, &Overlay::onSetForeColor);
    QObject::connect(state, &State::overlayBackColor, overlay, &Overlay::onSetBackColor);
    QObject::connect(state, &State::overlayForeOpacity, overlay, &Overlay::onSetForeOpacity);
    QObject::connect(state, &State::overlayBackOpacity, overlay, &Overlay::onSetBackOpacity);
    QObject::connect(state, &State::overlayCursorSize, overlay, &Overlay::onSetCursorSize);
    QObject::connect(state, &State::overlayRecapture, overlay, &Overlay::onSetRepaint);
    QObject::connect(state, &State::overlayScaleRate, overlay, &Overlay::onSetScaleRate);
}

} // namespace OverlayWiring
