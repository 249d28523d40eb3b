#include "app/overlaywiring.h"

#include "overlay/screenwidget.h"
#include "ui/maindialog.h"

namespace OverlayWiring {

void connectDialogToOverlay(MainDialog *dialog, ScreenWidget *overlay)
{
    connectSignals(dialog, overlay);
    overlay->applySettings(dialog->presenterState()->effectSettings());
}

} // namespace OverlayWiring
