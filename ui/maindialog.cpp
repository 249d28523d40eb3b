#include "ui/maindialog.h"

#include "device/hidcontroller.h"
#include "settings/settingsfile.h"
#include "settings/settingskeys.h"
#include "ui/autostartentry.h"
#include "ui/languages.h"
#include "ui/maindialogui.h"

#include <QAction>
#include <QCloseEvent>
#include <QColorDialog>
#include <QIcon>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cstdlib>

namespace {

bool isDialogMode(int mode)
{
    return mode >= ModeNormal && mode <= ModeMagnifier;
}

} // namespace

MainDialog::MainDialog(QWidget *parent)
    : XWindow(parent), m_colorPicker([](const QColor &initial) {
          return QColorDialog::getColor(initial, nullptr, QString(),
                                        QColorDialog::ColorDialogOptions());
      }),
      m_exitFunction([](int status) { std::exit(status); })
{
    ui = new MainDialogUi;
    ui->setupUi(this);
    useReadableDisabledText();

    m_repaintSent = false;
    setKeyClock(Clock());

    m_hidController = new HidController(this);
    connect(m_hidController, &HidController::updateHidStatus, this, &MainDialog::onUpdateHidStatus);

    const StoredSettings stored = SettingsFile::load();
    // The overlay also stores the black screen (4) as its mode; the window only knows 0..3
    // and starts in the normal mode for anything else.
    m_curMode = isDialogMode(stored.curMode) ? stored.curMode : int(ModeNormal);
    m_foreColor = stored.foreColor;
    m_backColor = stored.backColor;
    m_foreOpacity = stored.foreOpacity;
    m_backOpacity = stored.backOpacity;
    m_spotSize = stored.spotSize;
    m_laserSize = stored.laserSize;
    m_magnifierSize = stored.magnifierSize;
    m_sleepTime = stored.sleepTime;
    // The normal mode has no size of its own; until a size key or the slider changes it, it
    // carries the spotlight's, the mode that comes next.
    m_cursorSize = m_spotSize;

    for (int i = 0; i < Languages::Count; ++i)
        m_insertTexts << Languages::insertText(i);
    int language = SettingsFile::readLanguage();
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

    paintColorButton(ui->pushButton_foreColor, m_foreColor);

    ui->stackedWidget->setAttribute(Qt::WA_ShowWithoutActivating);
    ui->widget_preview->setAttribute(Qt::WA_ShowWithoutActivating);

    const std::initializer_list<QWidget *> keyboardless = {ui->widget_preview,
                                                           ui->stackedWidget,
                                                           ui->pushButton_foreColor,
                                                           ui->horizontalSlider_foreOpacity,
                                                           ui->pushButton_backColor,
                                                           ui->radioButton_normal,
                                                           ui->radioButton_spotLight,
                                                           ui->radioButton_laser,
                                                           ui->radioButton_magnifier,
                                                           ui->stackedWidget,
                                                           ui->horizontalSlider_backOpacity,
                                                           ui->horizontalSlider_mouseSpeed,
                                                           ui->pushButton_setTimer};
    for (QWidget *w : keyboardless)
        w->setFocusPolicy(Qt::NoFocus);

    ui->horizontalSlider_foreOpacity->setValue(m_foreOpacity);
    paintColorButton(ui->pushButton_backColor, m_backColor);

    m_modeButtons = {ui->radioButton_normal, ui->radioButton_spotLight, ui->radioButton_laser,
                     ui->radioButton_magnifier};
    m_modeButtons[m_curMode]->setChecked(true);

    // The insert page stays until the device thread reports the dongle.
    ui->stackedWidget->setCurrentIndex(1);
    ui->horizontalSlider_backOpacity->setValue(m_backOpacity);

    m_trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/Resource/logo_min.png")), this);
    m_trayIcon->setVisible(true);
    m_trayMenu = new QMenu(this);
    AutostartEntry::addToMenu(m_trayMenu);
    m_exitAction = new QAction(QStringLiteral("EXIT"), this);
    m_trayMenu->addAction(m_exitAction);
    m_trayIcon->setContextMenu(m_trayMenu);

    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainDialog::onTaryClicked);
    connect(m_exitAction, &QAction::triggered, this, &MainDialog::onTrayExitClicked);
    for (QRadioButton *button : m_modeButtons)
        connect(button, &QRadioButton::clicked, this, &MainDialog::onModeBtnClicked);
    connect(ui->pushButton_foreColor, &QPushButton::clicked, this,
            &MainDialog::onForeColorBtnClicked);
    connect(ui->pushButton_backColor, &QPushButton::clicked, this,
            &MainDialog::onBackColorBtnClicked);
    // sliderMoved only: the window's own setValue calls must not echo back as user changes.
    connect(ui->horizontalSlider_foreOpacity, &QSlider::sliderMoved, this,
            &MainDialog::onForeOpacitySliderMoved);
    connect(ui->horizontalSlider_backOpacity, &QSlider::sliderMoved, this,
            &MainDialog::onBackOpacitySliderMoved);
    connect(ui->horizontalSlider_cursorSize, &QSlider::sliderMoved, this,
            &MainDialog::onCursorSizeSliderMoved);
    connect(ui->horizontalSlider_scaleRate, &QSlider::sliderMoved, this,
            &MainDialog::onScaleRateSliderMoved);
    connect(ui->horizontalSlider_mouseSpeed, &QSlider::sliderMoved, this,
            &MainDialog::onMouseFeedingSliderMoved);
    connect(ui->pushButton_setTimer, &QPushButton::clicked, this, &MainDialog::onSetTimer);
    connect(ui->comboBox_lang, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainDialog::onSelectLanguage);

    for (int i = 0; i < Languages::Count; ++i)
        m_langTexts[i] = Languages::texts(i);
    onSelectLanguage(language);

    // Restoring the mode goes through the button's own signal so that the slot sees the
    // button as its sender, exactly as for a click.
    emit m_modeButtons[m_curMode]->clicked(false);

    emit ui->horizontalSlider_foreOpacity->sliderMoved(m_foreOpacity);
    emit ui->horizontalSlider_backOpacity->sliderMoved(m_backOpacity);

    ui->spinBox_timer->setValue(m_sleepTime);
    // The dongle is not open yet, so this sends nothing; the stored time reaches the dongle
    // when the user applies the timer.
    m_hidController->writeSleepTime(m_sleepTime);

    m_hidController->start();
}

MainDialog::~MainDialog()
{
    m_hidController->stop();
    m_hidController->wait();
    delete ui;
}

void MainDialog::setColorPicker(ColorPicker picker)
{
    m_colorPicker = std::move(picker);
}

void MainDialog::setKeyClock(Clock clock)
{
    if (clock) {
        m_keyClock = std::move(clock);
    } else {
        m_keyTimer.start();
        m_keyClock = [this] { return m_keyTimer.elapsed(); };
    }
    m_lastSizeKeyMs = m_keyClock();
}

void MainDialog::setExitFunction(ExitFunction exitFunction)
{
    m_exitFunction = std::move(exitFunction);
}

void MainDialog::onUpdateHidStatus(HidStatus status, int param)
{
    switch (status) {
    case HidConnected:
        ui->stackedWidget->setCurrentIndex(0);
        break;
    case HidDisconnected:
        ui->stackedWidget->setCurrentIndex(1);
        break;
    case HidKeyEvent:
        handleKeyEvent((param >> 8) & 0xFF);
        break;
    }
}

void MainDialog::handleKeyEvent(int keys)
{
    if (keys & KeyModeSwitch) {
        if (m_curMode == ModeMagnifier) {
            m_curMode = ModeNormal;
        } else {
            m_curMode += 1;
            m_cursorSize = *sizeMemberOfMode(m_curMode);
        }
        ui->horizontalSlider_cursorSize->setValue(m_cursorSize);
        emit setCursorSize(m_cursorSize);
        emit setForeColor(m_foreColor);
        m_modeButtons[m_curMode]->setChecked(true);
        emit setMode(ScreenMode(m_curMode));
        updatePreview();
        enableModeGroups(m_curMode);
    }

    if (keys & (KeySizeUp | KeySizeDown)) {
        const qint64 now = m_keyClock();
        const qint64 sinceLast = now - m_lastSizeKeyMs;
        m_lastSizeKeyMs = now;
        if (sinceLast < SizeKeyDebounceMs)
            return;

        const int before = m_cursorSize;
        if (keys & KeySizeUp) {
            if (m_cursorSize < MaxKeySize)
                m_cursorSize = std::min(m_cursorSize + KeySizeStep, MaxKeySize);
        } else if (m_cursorSize > MinKeySize) {
            m_cursorSize = std::max(m_cursorSize - KeySizeStep, MinKeySize);
        }
        if (m_cursorSize != before) {
            ui->horizontalSlider_cursorSize->setValue(m_cursorSize);
            emit setCursorSize(m_cursorSize);
        }
    } else if (keys & KeyBlackScreen) {
        // Only the overlay goes black; the window's own mode stays as it is.
        emit setMode(ModeBlackScreen);
    }

    if (int *size = sizeMemberOfMode(m_curMode)) {
        *size = m_cursorSize;
        SettingsFile::writeInt(sizeKeyOfMode(m_curMode), m_cursorSize);
    }

    if (keys & KeyEffectHeld) {
        // The magnifier shows a capture of the screen: ask for a fresh one once per press.
        if (m_curMode == ModeMagnifier && !m_repaintSent) {
            emit SetRepaint();
            m_repaintSent = true;
        }
        emit showMode(true);
    } else {
        emit showMode(false);
        m_repaintSent = false;
    }
}

void MainDialog::onTaryClicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    if (!isHidden())
        return;
    show();
    setWindowState(Qt::WindowActive);
    activateWindow();
}

void MainDialog::onTrayExitClicked()
{
    // The process ends at once, without returning to the event loop. The device thread must
    // not be polling the dongle while the process tears itself down.
    m_hidController->stop();
    m_hidController->wait();
    m_exitFunction(0);
}

void MainDialog::onModeBtnClicked()
{
    const auto *button = qobject_cast<QRadioButton *>(sender());
    const QString name = button ? button->objectName() : QString();
    int mode = ModeNormal;
    if (name == QLatin1String("radioButton_spotLight")) {
        mode = ModeSpotLight;
        m_cursorSize = m_spotSize;
    } else if (name == QLatin1String("radioButton_laser")) {
        mode = ModeLaser;
        m_cursorSize = m_laserSize;
    } else if (name == QLatin1String("radioButton_magnifier")) {
        mode = ModeMagnifier;
        m_cursorSize = m_magnifierSize;
    }
    m_curMode = mode;

    ui->horizontalSlider_cursorSize->setValue(m_cursorSize);
    emit setCursorSize(m_cursorSize);
    emit setForeColor(m_foreColor);

    enableModeGroups(m_curMode);
    updatePreview();

    m_modeButtons[m_curMode]->setChecked(true);
    emit setMode(ScreenMode(m_curMode));
}

void MainDialog::onForeColorBtnClicked()
{
    const QColor picked = m_colorPicker ? m_colorPicker(m_foreColor) : QColor();
    // A cancelled dialog gives an invalid colour: keep the one the user had.
    if (!picked.isValid())
        return;
    m_foreColor = picked;
    paintColorButton(ui->pushButton_foreColor, m_foreColor);
    emit setForeColor(m_foreColor);
    updatePreview();
}

void MainDialog::onBackColorBtnClicked()
{
    const QColor picked = m_colorPicker ? m_colorPicker(m_backColor) : QColor();
    if (!picked.isValid())
        return;
    m_backColor = picked;
    paintColorButton(ui->pushButton_backColor, m_backColor);
    emit setBackColor(m_backColor);
    updatePreview();
}

void MainDialog::onForeOpacitySliderMoved(int position)
{
    m_foreOpacity = position;
    emit setForeOpacity(position);
    updatePreview();
}

void MainDialog::onBackOpacitySliderMoved(int position)
{
    m_backOpacity = position;
    emit setBackOpacity(position);
    updatePreview();
}

void MainDialog::onCursorSizeSliderMoved(int position)
{
    if (int *size = sizeMemberOfMode(m_curMode)) {
        *size = position;
        SettingsFile::writeInt(sizeKeyOfMode(m_curMode), position);
    }
    m_cursorSize = position;
    emit setCursorSize(m_cursorSize);
}

void MainDialog::onScaleRateSliderMoved(int position)
{
    emit setScaleRate(position / 10.0);
}

void MainDialog::onMouseFeedingSliderMoved(int position)
{
    emit setMouseSpeed(position / 100.0 + 0.5);
}

void MainDialog::onSetTimer()
{
    m_sleepTime = ui->spinBox_timer->value();
    m_hidController->writeSleepTime(m_sleepTime);
    SettingsFile::writeInt(SettingsKeys::SleepTime, m_sleepTime);
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

    SettingsFile::writeInt(SettingsKeys::Language, index);
    ui->label_10->setText(m_insertTexts.at(index));
}

void MainDialog::closeEvent(QCloseEvent *event)
{
    // The window lives in the tray: closing only hides it.
    hide();
    event->ignore();
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
    ui->widget_preview->setEffect(ScreenMode(m_curMode), m_backColor, m_backOpacity, m_foreColor,
                                  m_foreOpacity);
}

int *MainDialog::sizeMemberOfMode(int mode)
{
    switch (mode) {
    case ModeSpotLight:
        return &m_spotSize;
    case ModeLaser:
        return &m_laserSize;
    case ModeMagnifier:
        return &m_magnifierSize;
    default:
        return nullptr;
    }
}

const char *MainDialog::sizeKeyOfMode(int mode)
{
    switch (mode) {
    case ModeSpotLight:
        return SettingsKeys::SpotSize;
    case ModeLaser:
        return SettingsKeys::LaserSize;
    case ModeMagnifier:
        return SettingsKeys::MagnifierSize;
    default:
        return nullptr;
    }
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
