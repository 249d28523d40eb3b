#include "app/alreadyrunningbox.h"
#include "app/commandline.h"
#include "app/controlservice.h"
#include "app/displaycheck.h"
#include "app/instanceguard.h"
#include "app/kavriapp.h"
#include "app/logoutput.h"
#include "app/overlayroute.h"
#include "app/platformchoice.h"
#include "app/terminationwatcher.h"
#include "overlay/overlayplatform.h"
#include "overlay/screenwidget.h"
#include "ui/maindialog.h"
#include "ui/windowplacement.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const int status = CommandLine::answer(argc, argv); status >= 0)
        return status;
    LogOutput::install();
    // Qt picks its window-system backend when the application object is built.
    PlatformChoice::preferXWayland(argc, argv);
    if (!DisplayCheck::canOpen(argc, argv))
        return 1;
    // Kavri paints with QPainter only. Without this Qt gives every window a surface that could
    // host OpenGL and, on X11, loads the GL driver stack (tens of megabytes, tens of
    // milliseconds) when the first window is created, for nothing.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);

    QApplication app(argc, argv);
    DisplayCheck::release();
    Q_INIT_RESOURCE(kavri_logo);
    Q_INIT_RESOURCE(kavri_res);
    // A kill, Ctrl+C or the tray's "EXIT" ends the event loop, so the teardown below runs.
    TerminationWatcher terminationWatcher;

    InstanceGuard guard;
    if (!guard.acquire(&AlreadyRunningBox::show))
        return 0;

    KavriApp kavri(std::make_unique<SettingsStore>(SettingsStore::defaultPath()));
    MainDialog &dialog = kavri.dialog();
    if (!guard.isHeld())
        dialog.onRunningUnguarded(guard.unguardedWhere());
    ControlService control(kavri.state());
    control.publishOnSessionBus();
    // The one answer to which session this is: the overlay and its routes are built from it.
    OverlayPlatform platform = OverlayPlatform::detect();
    ScreenWidget overlay(&dialog, platform);
    OverlayRoute::setUp(&overlay, platform);
    WindowPlacement::centreOnPointerScreen(&dialog);
    dialog.show();
    overlay.show();
    kavri.attachOverlay(overlay);

    // Leaving this scope destroys the overlay, then Kavri's pieces (the device thread is
    // joined first, the settings written last), then the guard (which removes its lock file),
    // then the application object.
    return app.exec();
}
