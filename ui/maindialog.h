#pragma once

#include "presenter/presenterstate.h"
#include "presenter/screenmode.h"
#include "ui/languages.h"
#include "ui/xwindow.h"

#include <QColor>
#include <QLocale>
#include <QStringList>

#include <array>
#include <functional>

class MainDialogUi;
class QCheckBox;
class QLabel;
class QCloseEvent;
class QPushButton;
class QRadioButton;
class QSlider;

// The settings window. Its controls show the presenter's state and change it; the state turns
// the user's changes and the presenter's key events into commands for the overlay. The window
// owns nothing but its widgets: the store, the state, the device thread and the tray belong
// to the application, which also wires the state to the overlay. Closing the window only
// hides it; the tray brings it back (onShowRequested).
class MainDialog final : public XWindow
{
    Q_OBJECT

public:
    // Asks the user for a colour, starting from `initial`; an invalid colour means cancelled.
    using ColorPicker = std::function<QColor(const QColor &initial)>;
    // `state` must outlive the window. `uiLanguages`: the system's interface languages, most
    // wanted first, from which the window picks its language while none is stored.
    explicit MainDialog(PresenterState &state, QWidget *parent = nullptr,
                        const QStringList &uiLanguages = QLocale::system().uiLanguages());
    ~MainDialog() override;

    // What the window shows.
    PresenterState &presenterState() const { return m_state; }
    // The window's language (Languages index).
    int language() const { return m_language; }

    // A seam for tests: how colours are picked.
    void setColorPicker(ColorPicker picker);

signals:
    // The window put up a notice (the magnifier cannot work, the settings cannot be saved):
    // worth a word from the tray, which reaches the user with the window hidden.
    void noticeShown(const QString &text);
    // The window's language is now the one of this index (Languages).
    void languageChanged(int index);

public slots:
    // The tray asks for the window: shown and activated when hidden, left alone otherwise.
    void onShowRequested();
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
    // Kavri runs without its single-instance lock, which could not be made in `where`: the
    // window says so in a line of its own at the bottom, for as long as it runs.
    void onRunningUnguarded(const QString &where);
    // Changes cannot be written to the settings file at `path`: the window says so in a line
    // under the modes, once, and keeps saying it until onSettingsWrittenAgain().
    void onSettingsWriteFailed(const QString &path);
    // A write succeeded after a failure: the line of onSettingsWriteFailed goes.
    void onSettingsWrittenAgain();
    // Another program holds the shortcut `keys`: the window says so in a line at the bottom,
    // which names every combination so told, and in the tray.
    void onShortcutTaken(const QString &keys);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectSlider(QSlider *slider, void (MainDialog::*slot)(int));
    static void showSliderValue(QSlider *slider, int value);
    void useKeyboardFocus();
    void nameControls(int language);
    // The lock's caption and the notices in the window's language.
    void translateAdditions();
    QString magnifierNotice() const;
    void bindState();
    void showDongleStatus(bool connected);
    void showSelectedMode(int mode);
    void enableModeGroups(int mode);
    void updatePreview();
    void useReadableDisabledText();
    static void paintColorButton(QPushButton *button, const QColor &color);

    MainDialogUi *ui = nullptr;
    std::array<QRadioButton *, 4> m_modeButtons{};
    QCheckBox *m_lockBox = nullptr;
    QLabel *m_magnifierNotice = nullptr;
    QLabel *m_settingsNotice = nullptr;
    QLabel *m_unguardedNotice = nullptr;
    QLabel *m_shortcutNotice = nullptr;
    int m_language = Languages::German;
    // The details the notices were given, kept to say them again in another language.
    QString m_settingsPath;
    QString m_magnifierWhy;
    QString m_unguardedWhere;
    QStringList m_takenShortcuts;
    PresenterState &m_state;

    static constexpr int LanguageSlots = 20;
    std::array<QStringList, LanguageSlots> m_langTexts;
    QStringList m_insertTexts;

    ColorPicker m_colorPicker;
};
