#include "ui/maindialog.h"

#include "ui/languages.h"
#include "ui/maindialogui.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

MainDialog::MainDialog(PresenterState &state, QWidget *parent, const QStringList &uiLanguages)
    : XWindow(parent), m_state(state), m_colorPicker([](const QColor &initial) {
          return QColorDialog::getColor(initial, nullptr, QString(),
                                        QColorDialog::ColorDialogOptions());
      })
{
    ui = new MainDialogUi;
    ui->setupUi(this);
    useReadableDisabledText();

    for (int i = 0; i < Languages::Count; ++i)
        m_insertTexts << Languages::insertText(i);
    // A stored language always wins; the first start speaks the system's language.
    const int stored = m_state.storedLanguage();
    int language = stored >= 0 ? stored : Languages::fromUiLanguages(uiLanguages);
    if (!Languages::isValid(language))
        language = Languages::German;
    ui->label_10->setText(m_insertTexts.at(language));
    ui->label_10->setWordWrap(true);
    ui->label_10->setAlignment(Qt::AlignCenter);
    ui->comboBox_lang->setCurrentIndex(language);

    setObjectName(QStringLiteral("MainDialog"));
    setWindowTitle(QStringLiteral("Presenter setting"));
    setTitleButtons(1);

    ui->horizontalSlider_mouseSpeed->hide();
    ui->label_3->hide();
    ui->groupBox_8->hide();
    ui->groupBox_timer->setGeometry(1, 1, 268, 66);

    ui->stackedWidget->setAttribute(Qt::WA_ShowWithoutActivating);
    ui->widget_preview->setAttribute(Qt::WA_ShowWithoutActivating);
    // The effect key's lock, under the modes: it decides how the key shows them.
    m_lockBox = new QCheckBox(ui->groupBox_2);
    m_lockBox->setObjectName(QStringLiteral("checkBox_effectKeyLocks"));
    m_lockBox->setChecked(m_state.effectKeyLocks());
    ui->verticalLayout->addWidget(m_lockBox);
    useKeyboardFocus();

    m_modeButtons = {ui->radioButton_normal, ui->radioButton_spotLight, ui->radioButton_laser,
                     ui->radioButton_magnifier};

    // The insert page stays until the device thread reports the dongle.
    ui->stackedWidget->setCurrentIndex(1);

    for (QRadioButton *button : m_modeButtons)
        connect(button, &QRadioButton::clicked, this, &MainDialog::onModeBtnClicked);
    connect(ui->pushButton_foreColor, &QPushButton::clicked, this,
            &MainDialog::onForeColorBtnClicked);
    connect(ui->pushButton_backColor, &QPushButton::clicked, this,
            &MainDialog::onBackColorBtnClicked);
    connectSlider(ui->horizontalSlider_foreOpacity, &MainDialog::onForeOpacitySliderMoved);
    connectSlider(ui->horizontalSlider_backOpacity, &MainDialog::onBackOpacitySliderMoved);
    connectSlider(ui->horizontalSlider_cursorSize, &MainDialog::onCursorSizeSliderMoved);
    connectSlider(ui->horizontalSlider_scaleRate, &MainDialog::onScaleRateSliderMoved);
    connectSlider(ui->horizontalSlider_mouseSpeed, &MainDialog::onMouseFeedingSliderMoved);
    connect(ui->pushButton_setTimer, &QPushButton::clicked, this, &MainDialog::onSetTimer);
    connect(m_lockBox, &QCheckBox::toggled, &m_state, &PresenterState::setEffectKeyLocks);
    connect(ui->comboBox_lang, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainDialog::onSelectLanguage);

    for (int i = 0; i < Languages::Count; ++i)
        m_langTexts[i] = Languages::texts(i);
    onSelectLanguage(language);

    // The controls show the restored state. Nothing is sent to the overlay here: the
    // application hands the whole state over once the overlay is connected.
    paintColorButton(ui->pushButton_foreColor, m_state.foreColor());
    paintColorButton(ui->pushButton_backColor, m_state.backColor());
    showSliderValue(ui->horizontalSlider_foreOpacity, m_state.foreOpacity());
    showSliderValue(ui->horizontalSlider_backOpacity, m_state.backOpacity());
    showSliderValue(ui->horizontalSlider_scaleRate, int(std::lround(m_state.scaleRate() * 10)));
    showSliderValue(ui->horizontalSlider_cursorSize, m_state.cursorSize());
    showSelectedMode(m_state.mode());
    bindState();

    // Stored sleep times outside the spin box's range are shown brought into it; the stored
    // value stays until the user applies a time.
    ui->spinBox_timer->setValue(std::clamp(m_state.sleepTime(), ui->spinBox_timer->minimum(),
                                           ui->spinBox_timer->maximum()));
}

MainDialog::~MainDialog()
{
    delete ui;
}

void MainDialog::bindState()
{
    // The controls follow what the presenter's keys change, and the page the dongle.
    connect(&m_state, &PresenterState::modeChanged, this, &MainDialog::showSelectedMode);
    connect(&m_state, &PresenterState::cursorSizeChanged, this,
            [this](int size) { showSliderValue(ui->horizontalSlider_cursorSize, size); });
    connect(&m_state, &PresenterState::dongleStatusChanged, this, &MainDialog::showDongleStatus);
}

void MainDialog::connectSlider(QSlider *slider, void (MainDialog::*slot)(int))
{
    // Every input of the user changes the value: keys, the wheel, a click on the groove and a
    // drag (the sliders track). Changes follow each other quickly, so they share writes of the
    // file; the value a drag ends on is written when the handle is let go.
    connect(slider, &QSlider::valueChanged, this, [this, slot](int value) {
        const PresenterState::Coalescing coalescing(m_state);
        (this->*slot)(value);
    });
    connect(slider, &QSlider::sliderReleased, this, [this] { m_state.flushSettings(); });
}

void MainDialog::showSliderValue(QSlider *slider, int value)
{
    // The window shows a value it already has: that is no change by the user.
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
}

void MainDialog::useKeyboardFocus()
{
    // Everything the user can change takes the keyboard focus, in reading order: the
    // language, the modes, the groups from top to bottom, then the frame's close button.
    const std::initializer_list<QWidget *> chain = {ui->comboBox_lang,
                                                    ui->radioButton_normal,
                                                    ui->radioButton_spotLight,
                                                    ui->radioButton_laser,
                                                    ui->radioButton_magnifier,
                                                    m_lockBox,
                                                    ui->pushButton_backColor,
                                                    ui->horizontalSlider_backOpacity,
                                                    ui->pushButton_foreColor,
                                                    ui->horizontalSlider_foreOpacity,
                                                    ui->horizontalSlider_cursorSize,
                                                    ui->horizontalSlider_scaleRate,
                                                    ui->spinBox_timer,
                                                    ui->pushButton_setTimer,
                                                    closeButton};
    QWidget *previous = nullptr;
    for (QWidget *w : chain) {
        w->setFocusPolicy(Qt::StrongFocus);
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
    for (QWidget *w :
         {static_cast<QWidget *>(ui->widget_preview), static_cast<QWidget *>(ui->stackedWidget),
          static_cast<QWidget *>(ui->horizontalSlider_mouseSpeed)})
        w->setFocusPolicy(Qt::NoFocus);
    ui->comboBox_lang->setFocus();

    // The focus mark: a dark ring around the focused control, in the blue of the window's
    // own buttons, clear on the beige background and on the blue buttons alike. A colour
    // button may be that dark itself: its ring has a white line as well.
    const QString ring = QStringLiteral("2px solid #0B3D66");
    ui->page->setStyleSheet(
        QStringLiteral("QRadioButton:focus, QCheckBox:focus, QPushButton:focus, QSlider:focus,"
                       " QSpinBox:focus, QComboBox:focus { border: %1; border-radius: 4px; }"
                       " QRadioButton, QCheckBox, QSlider { border: 2px solid transparent; }"
                       " QPushButton#pushButton_backColor:focus,"
                       " QPushButton#pushButton_foreColor:focus"
                       " { border: 2px solid white; border-radius: 0px; outline: %1; }")
            .arg(ring));
    closeButton->setStyleSheet(QStringLiteral("QPushButton:focus { border: %1; }").arg(ring));
    // The labels name the controls beside them.
    ui->label_5->setBuddy(ui->pushButton_backColor);
    ui->label_6->setBuddy(ui->horizontalSlider_backOpacity);
    ui->label_2->setBuddy(ui->pushButton_foreColor);
    ui->label->setBuddy(ui->horizontalSlider_foreOpacity);
    ui->label_7->setBuddy(ui->horizontalSlider_cursorSize);
    ui->label_9->setBuddy(ui->horizontalSlider_scaleRate);
    ui->label_4->setBuddy(ui->spinBox_timer);
}

void MainDialog::nameControls(int language)
{
    // What a screen reader says, made of the captions the window shows: a slider is named by
    // its group's caption and its own, so the two transparencies say whose they are.
    const auto caption = [](const QLabel *label) { return label->text().trimmed(); };
    const auto pair = [](const QString &group, const QString &own) {
        return QStringLiteral("%1, %2").arg(group, own);
    };
    ui->pushButton_backColor->setAccessibleName(caption(ui->label_5));
    ui->horizontalSlider_backOpacity->setAccessibleName(
        pair(caption(ui->label_5), caption(ui->label_6)));
    ui->pushButton_foreColor->setAccessibleName(caption(ui->label_2));
    ui->horizontalSlider_foreOpacity->setAccessibleName(
        pair(caption(ui->label_2), caption(ui->label)));
    ui->horizontalSlider_cursorSize->setAccessibleName(caption(ui->label_7));
    ui->horizontalSlider_scaleRate->setAccessibleName(caption(ui->label_9));
    ui->spinBox_timer->setAccessibleName(pair(caption(ui->label_4), caption(ui->label_8)));
    ui->pushButton_setTimer->setAccessibleName(
        pair(caption(ui->label_4), ui->pushButton_setTimer->text().trimmed()));
    closeButton->setAccessibleName(Languages::closeButtonName(language));
}

void MainDialog::setColorPicker(ColorPicker picker)
{
    m_colorPicker = std::move(picker);
}

void MainDialog::showDongleStatus(bool connected)
{
    // The settings page while the dongle answers, the page that asks for it otherwise.
    ui->stackedWidget->setCurrentIndex(connected ? 0 : 1);
}

void MainDialog::onShowRequested()
{
    if (!isHidden())
        return;
    show();
    setWindowState(Qt::WindowActive);
    activateWindow();
}

void MainDialog::onModeBtnClicked()
{
    const auto *button = qobject_cast<QRadioButton *>(sender());
    const auto found = std::find(m_modeButtons.begin(), m_modeButtons.end(), button);
    m_state.selectMode(found == m_modeButtons.end() ? int(ModeNormal)
                                                     : int(found - m_modeButtons.begin()));
}

void MainDialog::onForeColorBtnClicked()
{
    const QColor picked = m_colorPicker ? m_colorPicker(m_state.foreColor()) : QColor();
    // A cancelled dialog gives an invalid colour: keep the one the user had.
    if (!picked.isValid())
        return;
    paintColorButton(ui->pushButton_foreColor, picked);
    m_state.setForeColor(picked);
    updatePreview();
}

void MainDialog::onBackColorBtnClicked()
{
    const QColor picked = m_colorPicker ? m_colorPicker(m_state.backColor()) : QColor();
    if (!picked.isValid())
        return;
    paintColorButton(ui->pushButton_backColor, picked);
    m_state.setBackColor(picked);
    updatePreview();
}

void MainDialog::onForeOpacitySliderMoved(int position)
{
    m_state.setForeOpacity(position);
    updatePreview();
}

void MainDialog::onBackOpacitySliderMoved(int position)
{
    m_state.setBackOpacity(position);
    updatePreview();
}

void MainDialog::onCursorSizeSliderMoved(int position)
{
    m_state.setCursorSize(position);
}

void MainDialog::onScaleRateSliderMoved(int position)
{
    m_state.setScaleRate(position / 10.0);
}

void MainDialog::onMouseFeedingSliderMoved(int position)
{
    m_state.setMouseSpeed(position / 100.0 + 0.5);
}

void MainDialog::onSetTimer()
{
    m_state.applySleepTime(ui->spinBox_timer->value());
}

void MainDialog::onSelectLanguage(int index)
{
    if (!Languages::isValid(index) || m_langTexts[index].size() < Languages::TextCount)
        return;
    const QStringList &texts = m_langTexts[index];
    using namespace Languages;

    setWindowTitle(texts[WindowTitle]);
    ui->groupBox_2->setTitle(texts[ModeGroupTitle]);
    ui->groupBox_4->setTitle(texts[PreviewGroupTitle]);
    ui->radioButton_normal->setText(texts[NormalMode]);
    ui->radioButton_spotLight->setText(texts[SpotLightMode]);
    ui->radioButton_laser->setText(texts[LaserMode]);
    ui->radioButton_magnifier->setText(texts[MagnifierMode]);
    ui->label_5->setText(texts[BackColorCaption]);
    ui->label_6->setText(texts[BackOpacityCaption]);
    ui->label_2->setText(texts[ForeColorCaption]);
    ui->label->setText(texts[ForeOpacityCaption]);
    ui->label_7->setText(texts[SizeCaption]);
    ui->label_9->setText(texts[ScaleCaption]);
    ui->label_4->setText(texts[TimerCaption]);
    ui->label_8->setText(texts[TimerUnit]);
    ui->label_3->setText(texts[MouseSpeedCaption]);
    ui->pushButton_setTimer->setText(texts[SetTimerButton]);
    ui->pushButton_setTimer->setStyleSheet(QStringLiteral("text-align: left;"));

    m_state.setLanguage(index);
    ui->label_10->setText(m_insertTexts.at(index));
    m_language = index;
    translateAdditions();
    nameControls(index);
    emit languageChanged(index);
}

void MainDialog::translateAdditions()
{
    using namespace Languages;
    m_lockBox->setText(extraText(EffectKeyLockCaption, m_language));
    m_lockBox->setToolTip(extraText(EffectKeyLockTip, m_language));
    if (m_settingsNotice)
        m_settingsNotice->setText(
            extraText(SettingsNotSavedNotice, m_language).arg(m_settingsPath));
    if (m_magnifierNotice) {
        m_magnifierNotice->setText(magnifierNotice());
        ui->radioButton_magnifier->setToolTip(magnifierNotice());
    }
    if (m_unguardedNotice)
        m_unguardedNotice->setText(extraText(UnguardedNotice, m_language).arg(m_unguardedWhere));
    if (m_shortcutNotice)
        m_shortcutNotice->setText(extraText(ShortcutTakenNotice, m_language)
                                      .arg(m_takenShortcuts.join(QLatin1String(", "))));
}

QString MainDialog::magnifierNotice() const
{
    using namespace Languages;
    return extraText(MagnifierUnavailableNotice, m_language)
        .arg(m_magnifierWhy.isEmpty() ? extraText(MagnifierNoCaptureReason, m_language)
                                      : m_magnifierWhy);
}

void MainDialog::onSettingsWriteFailed(const QString &path)
{
    m_settingsPath = path;
    if (!m_settingsNotice) {
        // Under the modes, as the magnifier's notice: the window keeps saying it.
        m_settingsNotice = new QLabel(ui->groupBox_2);
        m_settingsNotice->setObjectName(QStringLiteral("label_settingsNotice"));
        m_settingsNotice->setWordWrap(true);
        m_settingsNotice->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0);"));
        ui->verticalLayout->addWidget(m_settingsNotice);
    }
    translateAdditions();
    m_settingsNotice->show();
    emit noticeShown(m_settingsNotice->text());
}

void MainDialog::onSettingsWrittenAgain()
{
    if (m_settingsNotice)
        m_settingsNotice->hide();
}

void MainDialog::onMagnifierUnavailable(const QString &why)
{
    if (m_magnifierNotice)
        return;
    m_magnifierWhy = why;
    // The tray reaches the user with the window hidden; the line stays for whoever opens the
    // window later (GNOME shows no tray without an extension).
    m_magnifierNotice = new QLabel(ui->groupBox_2);
    m_magnifierNotice->setObjectName(QStringLiteral("label_magnifierNotice"));
    m_magnifierNotice->setWordWrap(true);
    m_magnifierNotice->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0);"));
    // Under the magnifier's button, in the modes' own column.
    ui->verticalLayout->addWidget(m_magnifierNotice);
    translateAdditions();
    emit noticeShown(m_magnifierNotice->text());
    ui->radioButton_magnifier->setEnabled(false);
    // The style's disabled text all but vanishes on the window's background.
    ui->radioButton_magnifier->setStyleSheet(
        QStringLiteral("QRadioButton:disabled { color: #787868; }"));
    m_state.setMagnifierAvailable(false);
}

void MainDialog::onRunningUnguarded(const QString &where)
{
    m_unguardedWhere = where;
    if (!m_unguardedNotice) {
        m_unguardedNotice = new QLabel(this);
        m_unguardedNotice->setObjectName(QStringLiteral("label_unguardedNotice"));
        m_unguardedNotice->setWordWrap(true);
        m_unguardedNotice->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0);"));
        ui->verticalLayout_4->addWidget(m_unguardedNotice);
    }
    translateAdditions();
}

void MainDialog::onShortcutTaken(const QString &keys)
{
    if (!m_takenShortcuts.contains(keys))
        m_takenShortcuts << keys;
    if (!m_shortcutNotice) {
        m_shortcutNotice = new QLabel(this);
        m_shortcutNotice->setObjectName(QStringLiteral("label_shortcutNotice"));
        m_shortcutNotice->setWordWrap(true);
        m_shortcutNotice->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0);"));
        ui->verticalLayout_4->addWidget(m_shortcutNotice);
    }
    translateAdditions();
    emit noticeShown(m_shortcutNotice->text());
}

void MainDialog::closeEvent(QCloseEvent *event)
{
    // The window lives in the tray: closing only hides it.
    hide();
    event->ignore();
}

void MainDialog::showSelectedMode(int mode)
{
    m_modeButtons[mode]->setChecked(true);
    // The modes are one stop of Tab, as a group of radio buttons is in any Qt dialog: the
    // first of them in the focus chain. That is the chosen one, and the arrow keys move on.
    setTabOrder(ui->comboBox_lang, m_modeButtons[mode]);
    QWidget *previous = m_modeButtons[mode];
    for (QRadioButton *button : m_modeButtons) {
        if (button == m_modeButtons[mode])
            continue;
        setTabOrder(previous, button);
        previous = button;
    }
    setTabOrder(previous, m_lockBox);
    setTabOrder(m_lockBox, ui->pushButton_backColor);
    enableModeGroups(mode);
    updatePreview();
}

void MainDialog::enableModeGroups(int mode)
{
    bool back = false;
    bool fore = false;
    bool size = false;
    bool scale = false;
    switch (mode) {
    case ModeNormal:
        break;
    case ModeSpotLight:
        back = size = true;
        break;
    case ModeLaser:
        fore = size = true;
        break;
    case ModeMagnifier:
        size = scale = true;
        break;
    default:
        return;
    }
    ui->groupBox_back->setEnabled(back);
    ui->groupBox_fore->setEnabled(fore);
    ui->groupBox_size->setEnabled(size);
    ui->groupBox_scale->setEnabled(scale);
}

void MainDialog::updatePreview()
{
    ui->widget_preview->setEffect(ScreenMode(m_state.mode()), m_state.backColor(),
                                  m_state.backOpacity(), m_state.foreColor(),
                                  m_state.foreOpacity());
}

void MainDialog::useReadableDisabledText()
{
    // The groups of the other modes are disabled. On the window's light beige background the
    // style's pale disabled text all but vanishes; a mid grey keeps those captions readable
    // while they still look inactive. (Under a style sheet a palette does not reach the
    // children, so this is a rule on the container of the groups.)
    ui->layoutWidget->setStyleSheet(QStringLiteral("QLabel:disabled { color: #787868; }"));
}

void MainDialog::paintColorButton(QPushButton *button, const QColor &color)
{
    // The button carries no text; its face is the colour.
    QPalette palette = button->palette();
    palette.setBrush(QPalette::All, QPalette::Button, QBrush(color));
    button->setPalette(palette);
    button->setAutoFillBackground(true);
    button->setFlat(true);
}
