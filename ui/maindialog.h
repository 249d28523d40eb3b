#pragma once

#include "device/hidstatus.h"
#include "presenter/presenterstate.h"
#include "presenter/screenmode.h"
#include "ui/xwindow.h"

#include <QColor>
#include <QLocale>
#include <QStringList>
#include <QSystemTrayIcon>

#include <array>
#include <functional>
#include <memory>

class HidController;
class SettingsStore;
class MainDialogUi;
class QAction;
class QLabel;
class QCloseEvent;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;

// The settings window. It owns the settings store, the presenter's state, the device thread
// and the tray icon. Its controls show the presenter's state and change it; the state turns
// the user's changes and the presenter's key events into commands for the overlay, which
// leave the window as its signals (main() connects them). The window keeps the sleep time and
// the language itself. Closing it only hides it; the tray brings it back and the tray menu's
// "EXIT" ends the program.
class MainDialog final : public XWindow
{
    Q_OBJECT

public:
    // Asks the user for a colour, starting from `initial`; an invalid colour means cancelled.
    using ColorPicker = std::function<QColor(const QColor &initial)>;
    // A monotonic clock in milliseconds, used to debounce the presenter's size keys.
    using Clock = std::function<qint64()>;
    // Ends the process with the given status.
    using ExitFunction = std::function<void(int status)>;

    // Uses the settings file at SettingsStore::defaultPath().
    explicit MainDialog(QWidget *parent = nullptr);
    // `uiLanguages`: the system's interface languages, most wanted first, from which the
    // window picks its language while none is stored.
    explicit MainDialog(std::unique_ptr<SettingsStore> store, QWidget *parent = nullptr,
                        const QStringList &uiLanguages = QLocale::system().uiLanguages());
    ~MainDialog() override;

    // What the window shows; its effect settings are handed to the overlay at start.
    PresenterState *presenterState() const { return m_state; }

    // Seams for tests and embedding: how colours are picked, how time is read for the size
    // key debounce (the clock counts as started when it is set), and how "EXIT" ends the
    // process.
    void setColorPicker(ColorPicker picker);
    void setKeyClock(Clock clock);
    void setExitFunction(ExitFunction exitFunction);

signals:
    void setMode(ScreenMode mode);
    void showMode(bool enable);
    void setForeColor(QColor color);
    void setBackColor(QColor color);
    void setForeOpacity(int opacity);
    void setBackOpacity(int opacity);
    void setCursorSize(int size);
    void SetRepaint();
    void setScaleRate(double scale);
    void setMouseSpeed(double speed);
    // Declared for completeness of the window's vocabulary; the window never emits it.
    void SetLanguage(int index);

public slots:
    void onUpdateHidStatus(HidStatus status, int param);
    void onTaryClicked(QSystemTrayIcon::ActivationReason reason);
    void onTrayExitClicked();
    void onModeBtnClicked();
    void onForeColorBtnClicked();
    void onBackColorBtnClicked();
    // The sliders' slots run for every change of a slider's value made by the user (keys,
    // wheel, a click on the groove, a drag); the window's own setValue calls do not reach them.
    void onForeOpacitySliderMoved(int position);
    void onBackOpacitySliderMoved(int position);
    void onCursorSizeSliderMoved(int position);
    void onScaleRateSliderMoved(int position);
    void onMouseFeedingSliderMoved(int position);
    void onSetTimer();
    void onSelectLanguage(int index);
    // The magnifier cannot show the screen in this session (`why` says what failed): the
    // window says so once, in the tray and in a line under the modes, takes the magnifier out
    // of the modes and leaves it if it was selected.
    void onMagnifierUnavailable(const QString &why);
    // Kavri runs without its single-instance lock: the window says so in a line of its own
    // (`line`) at the bottom, for as long as it runs.
    void onRunningUnguarded(const QString &line);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectSlider(QSlider *slider, void (MainDialog::*slot)(int));
    static void showSliderValue(QSlider *slider, int value);
    void useKeyboardFocus();
    void nameControls(int language);
    void onSettingsWriteFailed();
    void bindState();
    void showSelectedMode(int mode);
    void enableModeGroups(int mode);
    void updatePreview();
    void useReadableDisabledText();
    static void paintColorButton(QPushButton *button, const QColor &color);

    MainDialogUi *ui = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_exitAction = nullptr;
    std::array<QRadioButton *, 4> m_modeButtons{};
    HidController *m_hidController = nullptr;
    QLabel *m_magnifierNotice = nullptr;
    QLabel *m_settingsNotice = nullptr;
    std::unique_ptr<SettingsStore> m_store;
    PresenterState *m_state = nullptr;
    int m_sleepTime = 0;

    static constexpr int LanguageSlots = 20;
    std::array<QStringList, LanguageSlots> m_langTexts;
    QStringList m_insertTexts;

    ColorPicker m_colorPicker;
    ExitFunction m_exitFunction;
};
