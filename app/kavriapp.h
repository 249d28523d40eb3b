#pragma once

#include "device/hidcontroller.h"
#include "presenter/presenterstate.h"
#include "settings/settingsstore.h"
#include "shortcuts/shortcutservice.h"
#include "ui/autostartentry.h"

#include <QLocale>
#include <QObject>
#include <QStringList>

#include <memory>

class MainDialog;
class ShortcutsDialog;
class ScreenWidget;
class Tray;

// The program's pieces and their one order. It owns, and builds in this order, the settings
// store, the presenter state over it, the device thread, the autostart entry, the settings
// window, the keyboard shortcuts and the tray; it tears them down in the reverse order, after it
// has stopped and joined the device thread. It wires them: the device's statuses into the state,
// the state's sleep time to the device, the tray's choices to the window and to the end of the
// event loop, and (attachOverlay) the state's commands to the overlay. The overlay itself belongs
// to main(), as does the event loop.
//
// The path of a presenter key: HidController::updateHidStatus (device thread, queued) ->
// PresenterState::onUpdateHidStatus -> PresenterState::overlay* -> ScreenWidget::onSet*.
class KavriApp final : public QObject
{
    Q_OBJECT

public:
    // `store`: the settings file to use. `uiLanguages`: the system's interface languages, from
    // which the window's first language is chosen. The device thread starts here.
    explicit KavriApp(std::unique_ptr<SettingsStore> store,
                      const QStringList &uiLanguages = QLocale::system().uiLanguages());
    // Stops the device thread and waits for it, then lets go of everything; the store writes
    // what still waits as it goes.
    ~KavriApp() override;

    KavriApp(const KavriApp &) = delete;
    KavriApp &operator=(const KavriApp &) = delete;

    // The state's nine commands go to the overlay's slots; the overlay's word that the
    // magnifier cannot work comes back to the window. The overlay then takes the restored
    // settings once, without a flash and without a write.
    void attachOverlay(ScreenWidget &overlay);

    SettingsStore &store() const { return *m_store; }
    PresenterState &state() { return m_state; }
    HidController &device() { return m_device; }
    MainDialog &dialog() const { return *m_dialog; }
    Tray &tray() const { return *m_tray; }
    ShortcutService &shortcuts() const { return *m_shortcuts; }

private:
    void onSettingsWriteFailed();
    void onSettingsWrittenAgain();
    void onExitRequested();
    void onShortcutsRequested();

    const std::unique_ptr<SettingsStore> m_store;
    PresenterState m_state;
    HidController m_device;
    const AutostartEntry m_autostart;
    std::unique_ptr<MainDialog> m_dialog;
    // Global keys: they drive the state and tell the window of a taken combination.
    std::unique_ptr<ShortcutService> m_shortcuts;
    Tray *m_tray = nullptr;                             // a child
    std::unique_ptr<ShortcutsDialog> m_shortcutsDialog; // made when first asked for
    // A write failed before the window was there to say so.
    bool m_settingsFailed = false;
};
