#include "app/kavriapp.h"

#include "app/overlaywiring.h"
#include "overlay/screenwidget.h"
#include "ui/maindialog.h"
#include "ui/shortcutsdialog.h"
#include "ui/tray.h"

#include <QGuiApplication>

KavriApp::KavriApp(std::unique_ptr<SettingsStore> store, const QStringList &uiLanguages)
    : m_store(std::move(store)), m_state(*m_store), m_device(nullptr),
      m_autostart(QCoreApplication::applicationFilePath())
{
    // The window is built after the store, and its own construction may write (the first
    // language): a failure then is told once the window exists.
    m_store->setFailureHandler([this](const QString &) { onSettingsWriteFailed(); });
    m_store->setRecoveryHandler([this] { onSettingsWrittenAgain(); });
    m_dialog = std::make_unique<MainDialog>(m_state, nullptr, uiLanguages);
    if (m_settingsFailed)
        m_dialog->onSettingsWriteFailed(m_store->path());

    m_shortcuts =
        std::make_unique<ShortcutService>(*m_store, m_state, QGuiApplication::platformName());
    connect(m_shortcuts.get(), &ShortcutService::shortcutTaken, m_dialog.get(),
            &MainDialog::onShortcutTaken);

    m_tray = new Tray(m_autostart, this);
    connect(m_tray, &Tray::showWindowRequested, m_dialog.get(), &MainDialog::onShowRequested);
    connect(m_tray, &Tray::exitRequested, this, &KavriApp::onExitRequested);
    connect(m_tray, &Tray::shortcutsRequested, this, &KavriApp::onShortcutsRequested);
    const auto translate = [this](int language) {
        m_tray->setShortcutsCaption(Languages::extraText(Languages::ShortcutsTitle, language));
        if (m_shortcutsDialog)
            m_shortcutsDialog->setLanguage(language);
    };
    connect(m_dialog.get(), &MainDialog::languageChanged, this, translate);
    translate(m_dialog->language());
    connect(m_dialog.get(), &MainDialog::noticeShown, m_tray, &Tray::showWarning);
    m_shortcuts->start();

    connect(&m_device, &HidController::updateHidStatus, &m_state,
            &PresenterState::onUpdateHidStatus);
    connect(&m_state, &PresenterState::sleepTimeApplied, &m_device, &HidController::writeSleepTime);
    // A failed write changes nothing the user sees, as the stored time stays the one applied;
    // the device layer's debug line tells the result (kavri.device.debug).
    m_device.start();
}

KavriApp::~KavriApp()
{
    // Nothing polls the dongle while the rest goes; the members then go in reverse order:
    // the tray, the window, the device (which closes the dongle), the state, the store.
    m_device.stop();
    m_device.wait();
    m_shortcutsDialog.reset();
    delete m_tray;
    m_tray = nullptr;
    m_shortcuts.reset(); // the keys are given back
}

void KavriApp::attachOverlay(ScreenWidget &overlay)
{
    OverlayWiring::connectStateToOverlay(&m_state, &overlay);
    // The one way back: a magnifier that cannot work is taken out of the window's choices.
    // Known before the wiring (no capture route at all), it is passed on here.
    connect(&overlay, &ScreenWidget::magnifierUnavailable, m_dialog.get(),
            &MainDialog::onMagnifierUnavailable);
    if (!overlay.isMagnifierAvailable())
        m_dialog->onMagnifierUnavailable(overlay.magnifierUnavailableReason());
    overlay.applySettings(m_state.effectSettings());
}

void KavriApp::onSettingsWriteFailed()
{
    m_settingsFailed = true;
    if (m_dialog)
        m_dialog->onSettingsWriteFailed(m_store->path());
}

void KavriApp::onSettingsWrittenAgain()
{
    m_settingsFailed = false;
    if (m_dialog)
        m_dialog->onSettingsWrittenAgain();
}

void KavriApp::onShortcutsRequested()
{
    if (!m_shortcutsDialog) {
        m_shortcutsDialog = std::make_unique<ShortcutsDialog>(*m_shortcuts);
        m_shortcutsDialog->setLanguage(m_dialog->language());
    }
    m_shortcutsDialog->showBindings();
    m_shortcutsDialog->show();
    m_shortcutsDialog->raise();
    m_shortcutsDialog->activateWindow();
}

void KavriApp::onExitRequested()
{
    // exit(), not quit(): from Qt 6 on, quit() first asks every window to close, and the
    // settings window refuses (it goes to the tray). main()'s teardown then runs: the device
    // thread is joined, the store writes what waits, the lock file goes.
    QCoreApplication::exit(0);
}
