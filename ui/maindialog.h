#pragma once

#include "device/hidstatus.h"
#include "presenter/screenmode.h"
#include "ui/xwindow.h"

#include <QColor>
#include <QElapsedTimer>
#include <QStringList>
#include <QSystemTrayIcon>

#include <array>
#include <functional>

class HidController;
class MainDialogUi;
class QAction;
class QCloseEvent;
class QMenu;
class QPushButton;
class QRadioButton;

// The settings window and the hub of the program: it restores the settings, owns the device
// thread and the tray icon, turns the presenter's key events and the user's changes into
// commands for the overlay (its signals; main() connects them), and keeps the effect sizes,
// the sleep time and the language in Kavri.ini. Closing it only hides it; the tray brings it
// back and the tray menu's "EXIT" ends the program.
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

    explicit MainDialog(QWidget *parent = nullptr);
    ~MainDialog() override;

    // Seams for tests and embedding: how colours are picked, how time is read for the size
    // key debounce (the clock counts as started when it is set), and how "EXIT" ends the
    // process.
    void setColorPicker(ColorPicker picker);
    void setKeyClock(Clock clock);
    void setExitFunction(ExitFunction exitFunction);

    // Size keys arriving closer together than this are dropped as key bounce.
    static constexpr qint64 SizeKeyDebounceMs = 50;
    // Range and step of the effect size reachable with the presenter's size keys.
    static constexpr int MinKeySize = 10;
    static constexpr int MaxKeySize = 200;
    static constexpr int KeySizeStep = 10;

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
    void onForeOpacitySliderMoved(int position);
    void onBackOpacitySliderMoved(int position);
    void onCursorSizeSliderMoved(int position);
    void onScaleRateSliderMoved(int position);
    void onMouseFeedingSliderMoved(int position);
    void onSetTimer();
    void onSelectLanguage(int index);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void handleKeyEvent(int keys);
    void enableModeGroups(int mode);
    void updatePreview();
    // The remembered size of a mode with an effect size (1..3); null for any other mode.
    int *sizeMemberOfMode(int mode);
    static const char *sizeKeyOfMode(int mode);
    void useReadableDisabledText();
    static void paintColorButton(QPushButton *button, const QColor &color);

    MainDialogUi *ui = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_exitAction = nullptr;
    std::array<QRadioButton *, 4> m_modeButtons{};
    HidController *m_hidController = nullptr;

    int m_curMode = ModeNormal;
    QColor m_foreColor;
    QColor m_backColor;
    int m_foreOpacity = 0;
    int m_backOpacity = 0;
    int m_cursorSize = 0;
    int m_spotSize = 0;
    int m_laserSize = 0;
    int m_magnifierSize = 0;
    bool m_repaintSent = false;
    int m_sleepTime = 0;

    static constexpr int LanguageSlots = 20;
    std::array<QStringList, LanguageSlots> m_langTexts;
    QStringList m_insertTexts;

    // Debounce of the size keys: the time of the previous size key (or of the clock's start).
    QElapsedTimer m_keyTimer;
    Clock m_keyClock;
    qint64 m_lastSizeKeyMs = 0;

    ColorPicker m_colorPicker;
    ExitFunction m_exitFunction;
};
