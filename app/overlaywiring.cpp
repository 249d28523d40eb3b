#include "app/overlaywiring.h"

#include "overlay/screenwidget.h"
#include "ui/maindialog.h"

namespace OverlayWiring {

void connectDialogToOverlay(MainDialog *dialog, ScreenWidget *overlay)
{
    connectSignals(dialog, overlay);
    // The one way back: a magnifier that cannot work is taken out of the window's choices.
    // Known before the wiring (no capture route at all), it is passed on here.
    QObject::connect(overlay, &ScreenWidget::magnifierUnavailable, dialog,
                     &MainDialog::onMagnifierUnavailable);
    if (!overlay->isMagnifierAvailable())
        dialog->onMagnifierUnavailable(overlay->magnifierUnavailableReason());
    overlay->applySettings(dialog->presenterState()->effectSettings());
}

} // namespace OverlayWiring
