#pragma once

#include <QObject>

class MainDialog;
class ScreenWidget;

// The only path from the settings window to the overlay: ten typed connections from the
// dialog's signals to the overlay's slots of the same meaning, made once both windows exist.
// The dialog's SetLanguage signal stays unconnected.
namespace OverlayWiring {

// Written once for any pair of classes with these members, so that tests can check each
// signal against a recording receiver.
template <class Dialog, class Overlay> void connectSignals(Dialog *dialog, Overlay *overlay)
{
    QObject::connect(dialog, &Dialog::setMode, overlay, &Overlay::onSetMode);
    QObject::connect(dialog, &Dialog::showMode, overlay, &Overlay::onShowMode);
    QObject::connect(dialog, &Dialog::setForeColor, overlay, &Overlay::onSetForeColor);
    QObject::connect(dialog, &Dialog::setBackColor, overlay, &Overlay::onSetBackColor);
    QObject::connect(dialog, &Dialog::setForeOpacity, overlay, &Overlay::onSetForeOpacity);
    QObject::connect(dialog, &Dialog::setBackOpacity, overlay, &Overlay::onSetBackOpacity);
    QObject::connect(dialog, &Dialog::setCursorSize, overlay, &Overlay::onSetCursorSize);
    QObject::connect(dialog, &Dialog::SetRepaint, overlay, &Overlay::onSetRepaint);
    QObject::connect(dialog, &Dialog::setScaleRate, overlay, &Overlay::onSetScaleRate);
    QObject::connect(dialog, &Dialog::setMouseSpeed, overlay, &Overlay::onSetMouseSpeed);
}

// The program's own wiring: the settings window to the overlay, and the overlay's word that
// the magnifier cannot work back to the window. The overlay then takes what the window
// restored (mode, colours, opacities, size, magnification) once, without a flash and
// without a write, so the settings shown are the settings in effect.
void connectDialogToOverlay(MainDialog *dialog, ScreenWidget *overlay);

} // namespace OverlayWiring
