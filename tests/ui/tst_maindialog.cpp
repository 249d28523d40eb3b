#include "dialogtesthelpers.h"

#include "app/kavriapp.h"
#include "device/hidcontroller.h"
#include "ui/autostartentry.h"
#include "ui/languages.h"
#include "ui/maindialog.h"
#include "ui/shortcutsdialog.h"
#include "ui/tray.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace DialogTest;

namespace {

// Every overlay command, in the order emitted, as text: the presenter state's commands, which
// the program wires to the overlay.
class CommandLog final : public QObject
{
public:
    explicit CommandLog(KavriApp &app)
    {
        PresenterState *state = &app.state();
        connect(state, &PresenterState::overlayMode, this,
                [this](ScreenMode m) { add(QStringLiteral("setMode(%1)").arg(int(m))); });
        connect(state, &PresenterState::overlayShow, this, [this](bool on) {
            add(QStringLiteral("showMode(%1)").arg(on ? "true" : "false"));
        });
        connect(state, &PresenterState::overlayForeColor, this,
                [this](const QColor &c) { add(QStringLiteral("setForeColor(%1)").arg(c.name())); });
        connect(state, &PresenterState::overlayBackColor, this,
                [this](const QColor &c) { add(QStringLiteral("setBackColor(%1)").arg(c.name())); });
        connect(state, &PresenterState::overlayForeOpacity, this,
                [this](int v) { add(QStringLiteral("setForeOpacity(%1)").arg(v)); });
        connect(state, &PresenterState::overlayBackOpacity, this,
                [this](int v) { add(QStringLiteral("setBackOpacity(%1)").arg(v)); });
        connect(state, &PresenterState::overlayCursorSize, this,
                [this](int v) { add(QStringLiteral("setCursorSize(%1)").arg(v)); });
        connect(state, &PresenterState::overlayRecapture, this,
                [this] { add(QStringLiteral("SetRepaint()")); });
        connect(state, &PresenterState::overlayScaleRate, this,
                [this](double v) { add(QStringLiteral("setScaleRate(%1)").arg(v)); });
    }

    QStringList take()
    {
        QStringList taken;
        taken.swap(m_entries);
        return taken;
    }

private:
    void add(const QString &entry) { m_entries << entry; }
    QStringList m_entries;
};

// The presenter's keys as the device thread reports them, with the key debounce on a clock
// the test moves by hand.
struct KeyDriver
{
    explicit KeyDriver(KavriApp &app) : state(app.state())
    {
        state.setKeyClock([this] { return now; });
    }
    // A key event `afterMs` after the previous one.
    void press(int keys, qint64 afterMs = 1000)
    {
        now += afterMs;
        state.onUpdateHidStatus(HidKeyEvent, keyParam(keys));
    }
    PresenterState &state;
    qint64 now = 0;
};

int checkedMode(MainDialog &dialog)
{
    const char *const names[] = {"radioButton_normal", "radioButton_spotLight", "radioButton_laser",
                                 "radioButton_magnifier"};
    int checked = -1;
    for (int i = 0; i < 4; ++i) {
        auto *radio = child<QRadioButton>(&dialog, names[i]);
        if (radio && radio->isChecked()) {
            if (checked >= 0)
                return -2; // more than one
            checked = i;
        }
    }
    return checked;
}

// Enabled state of the back, fore, size and scale groups as four letters (E enabled, d not).
QString groupStates(MainDialog &dialog)
{
    QString states;
    for (const char *name : {"groupBox_back", "groupBox_fore", "groupBox_size", "groupBox_scale"}) {
        auto *box = child<QGroupBox>(&dialog, name);
        states += box && box->isEnabled() ? QLatin1Char('E') : QLatin1Char('d');
    }
    return states;
}

} // namespace

// The settings window's behaviour: restoring the settings, the presenter's key events, the
// user's controls, the languages, the tray and closing.
class TestMainDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initKavriResources(); }
    void init() { QVERIFY(m_settings.reset()); }

    void startsFromNoFile();
    void firstStartLanguage_data();
    void firstStartLanguage();
    void startsFromStoredFile_data();
    void startsFromStoredFile();
    void modeKeyStepsThroughModes();
    void magnifierThatCannotWork();
    void sizeKeys_data();
    void sizeKeys();
    void sizeKeyDebounce();
    void blackScreen();
    void sizeIsRememberedPerMode();
    void effectKeyShowsAndHides();
    void pageFollowsDeviceStatus();
    void modeButtons();
    void colourPicking();
    void sliderInput_data();
    void sliderInput();
    void slidersReactToDraggingOnly();
    void sleepTimer();
    void languageTables();
    void languageSwitching_data();
    void languageSwitching();
    void shortcutsPage();
    void languageExactTexts();
    void disabledCaptionsStayReadable();
    void closeHidesAndTrayShows();
    void keyboardReachesEveryControl();
    void failedWriteIsTold();
    void effectKeyLock();
    void startAtLogin();
    void exitEndsTheEventLoop();

private:
    SettingsFixture m_settings;
};

void TestMainDialog::startsFromNoFile()
{
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();

    QCOMPARE(checkedMode(dialog), 0);
    QCOMPARE(groupStates(dialog), QStringLiteral("dddd"));
    QCOMPARE(pageIndex(dialog), 1);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_foreOpacity")->value(), 200);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_backOpacity")->value(), 200);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(), 50);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_scaleRate")->value(), 20);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_timer")->value(), 5);
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_foreColor")->palette().color(QPalette::Button),
             QColor(255, 0, 0));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_backColor")->palette().color(QPalette::Button),
             QColor(0, 0, 0));
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_lang")->currentIndex(), 0);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Zuvu Direvod Einstellungen "));
    QCOMPARE(dialog.objectName(), QStringLiteral("MainDialog"));

    // The mouse-speed control is never shown.
    for (const char *hidden : {"groupBox_8", "label_3", "horizontalSlider_mouseSpeed"})
        QVERIFY2(child<QWidget>(&dialog, hidden)->isHidden(), hidden);

    // Only the language is written while the window is built.
    QCOMPARE(iniKeys(), QStringList{QStringLiteral("language")});
    QCOMPARE(iniValue("language").toInt(), 0);

    auto *controller = (&app.device());
    QVERIFY(controller);
    QVERIFY(controller->isRunning());

    // In the normal mode a size key moves from the spotlight's size, and nothing is stored.
    QSignalSpy sizes(&app.state(), &PresenterState::overlayCursorSize);
    KeyDriver keys(app);
    keys.press(KeySizeUp);
    QCOMPARE(sizes.count(), 1);
    QCOMPARE(sizes.at(0).at(0).toInt(), 60);
    QCOMPARE(iniKeys(), QStringList{QStringLiteral("language")});
}

void TestMainDialog::firstStartLanguage_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<int>("language");
    QTest::newRow("French system") << QByteArray() << QStringList{"fr-FR", "fr"} << 2;
    QTest::newRow("Brazilian, underscore") << QByteArray() << QStringList{"pt_BR"} << 4;
    QTest::newRow("first known one wins")
        << QByteArray() << QStringList{"ja-JP", "sk", "en-GB"} << 10;
    QTest::newRow("English") << QByteArray() << QStringList{"en-US"} << 1;
    QTest::newRow("none of the twelve") << QByteArray() << QStringList{"ja-JP", "zh"} << 0;
    QTest::newRow("C locale") << QByteArray() << QStringList{"C"} << 0;
    QTest::newRow("stored language wins")
        << QByteArray("[General]\nlanguage=9\n") << QStringList{"fr-FR"} << 9;
    QTest::newRow("stored German wins")
        << QByteArray("[General]\nlanguage=0\n") << QStringList{"hu-HU"} << 0;
    QTest::newRow("stored past the last: German")
        << QByteArray("[General]\nlanguage=40\n") << QStringList{"fr-FR"} << 0;
}

// Without a stored language the window speaks the system's, on the insert page too, and
// stores it.
void TestMainDialog::firstStartLanguage()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, uiLanguages);
    QFETCH(int, language);
    if (!ini.isEmpty())
        writeIni(ini);
    KavriApp app(m_settings.store(), uiLanguages);
    MainDialog &dialog = app.dialog();
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_lang")->currentIndex(), language);
    QCOMPARE(dialog.windowTitle(), Languages::texts(language).at(Languages::WindowTitle));
    QCOMPARE(pageIndex(dialog), 1);
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(), Languages::insertText(language));
    QCOMPARE(iniValue("language").toInt(), language);
}

void TestMainDialog::startsFromStoredFile_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("groups");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("foreSlider");
    QTest::addColumn<int>("backSlider");
    QTest::addColumn<int>("sizeSlider");
    QTest::addColumn<int>("timer");
    QTest::addColumn<QColor>("foreColor");
    QTest::addColumn<QColor>("backColor");

    QTest::newRow("stored state")
        << QByteArray("[General]\nm_curMode=2\nm_foreColor=4278255360\nm_backColor=16711935\n"
                      "m_foreOpacity=100\nm_backOpacity=150\nm_spotSize=60\nm_laserSize=40\n"
                      "m_magnifierSize=80\nm_sleepTime=30\nlanguage=1\n")
        << 2 << "dEEd" << 1 << 100 << 150 << 40 << 30 << QColor(0, 255, 0) << QColor(255, 0, 255);
    QTest::newRow("magnifier, Hungarian")
        << QByteArray("[General]\nm_curMode=3\nm_magnifierSize=120\nlanguage=11\n") << 3 << "ddEE"
        << 11 << 200 << 200 << 120 << 5 << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("black screen stored by the overlay")
        << QByteArray("[General]\nm_curMode=4\nm_spotSize=70\n") << 0 << "dddd" << 0 << 200 << 200
        << 70 << 5 << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("negative mode") << QByteArray("[General]\nm_curMode=-1\n") << 0 << "dddd" << 0
                                   << 200 << 200 << 50 << 5 << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("mode text") << QByteArray("[General]\nm_curMode=spot\nlanguage=2\n") << 0
                               << "dddd" << 2 << 200 << 200 << 50 << 5 << QColor(255, 0, 0)
                               << QColor(0, 0, 0);
    QTest::newRow("language past the last")
        << QByteArray("[General]\nlanguage=12\n") << 0 << "dddd" << 0 << 200 << 200 << 50 << 5
        << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("negative language")
        << QByteArray("[General]\nlanguage=-1\n") << 0 << "dddd" << 0 << 200 << 200 << 50 << 5
        << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("language text") << QByteArray("[General]\nlanguage=abc\n") << 0 << "dddd" << 0
                                   << 200 << 200 << 50 << 5 << QColor(255, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("values out of range")
        << QByteArray("[General]\nm_curMode=1\nm_foreOpacity=300\nm_backOpacity=-20\n"
                      "m_spotSize=500\nm_laserSize=-5\nm_magnifierSize=0\nm_sleepTime=1000\n")
        << 1 << "EdEd" << 0 << 255 << 0 << 200 << 255 << QColor(255, 0, 0) << QColor(0, 0, 0);
}

void TestMainDialog::startsFromStoredFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, mode);
    QFETCH(QString, groups);
    QFETCH(int, language);
    QFETCH(int, foreSlider);
    QFETCH(int, backSlider);
    QFETCH(int, sizeSlider);
    QFETCH(int, timer);
    QFETCH(QColor, foreColor);
    QFETCH(QColor, backColor);

    writeIni(ini);
    QVariantMap storedBefore;
    for (const QString &key : iniKeys())
        storedBefore.insert(key, iniValue(key.toLatin1().constData()));

    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();

    QCOMPARE(checkedMode(dialog), mode);
    QCOMPARE(groupStates(dialog), groups);
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_lang")->currentIndex(), language);
    QCOMPARE(dialog.windowTitle(), Languages::texts(language).at(Languages::WindowTitle));
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(), Languages::insertText(language));
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_foreOpacity")->value(), foreSlider);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_backOpacity")->value(), backSlider);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(), sizeSlider);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_timer")->value(), timer);
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_foreColor")->palette().color(QPalette::Button),
             foreColor);
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_backColor")->palette().color(QPalette::Button),
             backColor);
    QCOMPARE(pageIndex(dialog), 1);

    // The window writes the language it applied and leaves every other key as it was.
    QCOMPARE(iniValue("language").toInt(), language);
    for (auto it = storedBefore.cbegin(); it != storedBefore.cend(); ++it)
        if (it.key() != QLatin1String("language"))
            QCOMPARE(iniValue(it.key().toLatin1().constData()), it.value());
}

void TestMainDialog::modeKeyStepsThroughModes()
{
    writeIni("[General]\nm_spotSize=60\nm_laserSize=20\nm_magnifierSize=80\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    CommandLog log(app);
    KeyDriver keys(app);

    const struct
    {
        int mode;
        int size;
        const char *groups;
    } steps[] = {
        {1, 60, "EdEd"}, {2, 20, "dEEd"}, {3, 80, "ddEE"}, {0, 80, "dddd"}, {1, 60, "EdEd"}};
    for (const auto &step : steps) {
        keys.press(KeyModeSwitch);
        QCOMPARE(log.take(), (QStringList{QStringLiteral("setCursorSize(%1)").arg(step.size),
                                          QStringLiteral("setForeColor(#ff0000)"),
                                          QStringLiteral("setMode(%1)").arg(step.mode),
                                          QStringLiteral("showMode(false)")}));
        QCOMPARE(checkedMode(dialog), step.mode);
        QCOMPARE(groupStates(dialog), QString::fromLatin1(step.groups));
        QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(),
                 qBound(10, step.size, 200));
    }

    // Mode key with the effect key held: the new mode is shown at once.
    keys.press(KeyModeSwitch | KeyEffectHeld);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(20)", "setForeColor(#ff0000)", "setMode(2)",
                                      "showMode(true)"}));
}

// Said once, in a line under the modes; the magnifier's button is disabled, the mode key
// leaves it out, and a stored magnifier gives way to the normal mode without a write.
void TestMainDialog::magnifierThatCannotWork()
{
    writeIni("[General]\nm_curMode=3\nlanguage=0\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    QCOMPARE(checkedMode(dialog), 3);
    CommandLog log(app);
    const QByteArray before = iniBytes();

    dialog.onMagnifierUnavailable(QStringLiteral("no screenshot portal"));
    dialog.onMagnifierUnavailable(QStringLiteral("no screenshot portal"));
    const QList<QLabel *> notices =
        dialog.findChildren<QLabel *>(QStringLiteral("label_magnifierNotice"));
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first()->text().contains(QStringLiteral("no screenshot portal")));
    QVERIFY(!notices.first()->isHidden());
    QVERIFY(!child<QRadioButton>(&dialog, "radioButton_magnifier")->isEnabled());
    QCOMPARE(checkedMode(dialog), 0);
    QCOMPARE(groupStates(dialog), QStringLiteral("dddd"));
    QCOMPARE(log.take(), QStringList{QStringLiteral("setMode(0)")});
    QCOMPARE(iniBytes(), before);

    KeyDriver keys(app);
    QList<int> modes;
    for (int i = 0; i < 4; ++i) {
        keys.press(KeyModeSwitch);
        modes << checkedMode(dialog);
    }
    QCOMPARE(modes, (QList<int>{1, 2, 0, 1}));
}

void TestMainDialog::sizeKeys_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("startSize");
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("endSize");
    QTest::addColumn<bool>("changed");

    QTest::newRow("spot up") << 1 << 50 << int(KeySizeUp) << 60 << true;
    QTest::newRow("spot up to the top") << 1 << 195 << int(KeySizeUp) << 200 << true;
    QTest::newRow("spot up at the top") << 1 << 200 << int(KeySizeUp) << 200 << false;
    QTest::newRow("laser down") << 2 << 50 << int(KeySizeDown) << 40 << true;
    QTest::newRow("laser down to the bottom") << 2 << 15 << int(KeySizeDown) << 10 << true;
    QTest::newRow("laser down at the bottom") << 2 << 10 << int(KeySizeDown) << 10 << false;
    QTest::newRow("magnifier up and down is up")
        << 3 << 100 << int(KeySizeUp | KeySizeDown) << 110 << true;
    QTest::newRow("up with black screen")
        << 3 << 100 << int(KeySizeUp | KeyBlackScreen) << 110 << true;
    // Stored sizes outside 10..200 are brought into it when read; the next key writes the
    // size in range back.
    QTest::newRow("stored above the range, up") << 1 << 500 << int(KeySizeUp) << 200 << false;
    QTest::newRow("stored above the range, down") << 1 << 500 << int(KeySizeDown) << 190 << true;
    QTest::newRow("stored below the range, up") << 2 << -5 << int(KeySizeUp) << 20 << true;
    QTest::newRow("stored far below the range, down")
        << 2 << -2147483647 << int(KeySizeDown) << 10 << false;
    QTest::newRow("normal mode up") << 0 << 50 << int(KeySizeUp) << 60 << true;
}

void TestMainDialog::sizeKeys()
{
    QFETCH(int, mode);
    QFETCH(int, startSize);
    QFETCH(int, keys);
    QFETCH(int, endSize);
    QFETCH(bool, changed);

    const char *const sizeKeys[] = {"m_spotSize", "m_spotSize", "m_laserSize", "m_magnifierSize"};
    writeIni(QStringLiteral("[General]\nm_curMode=%1\n%2=%3\n")
                 .arg(mode)
                 .arg(QLatin1String(sizeKeys[mode]))
                 .arg(startSize)
                 .toLatin1());
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    const QByteArray fileBefore = iniBytes();
    QSignalSpy sizes(&app.state(), &PresenterState::overlayCursorSize);
    QSignalSpy modes(&app.state(), &PresenterState::overlayMode);
    QSignalSpy shows(&app.state(), &PresenterState::overlayShow);
    KeyDriver driver(app);

    driver.press(keys);

    if (changed) {
        QCOMPARE(sizes.count(), 1);
        QCOMPARE(sizes.at(0).at(0).toInt(), endSize);
        QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(), endSize);
    } else {
        QCOMPARE(sizes.count(), 0);
    }
    QCOMPARE(modes.count(), 0); // a size bit keeps the black screen away
    QCOMPARE(shows.count(), 1);
    QCOMPARE(shows.at(0).at(0).toBool(), false);

    if (mode == 0)
        QCOMPARE(iniBytes(), fileBefore); // the normal mode has no size to remember
    else
        QCOMPARE(iniValue(sizeKeys[mode]).toInt(), endSize);
}

void TestMainDialog::sizeKeyDebounce()
{
    writeIni("[General]\nm_curMode=1\nm_spotSize=50\n");
    KavriApp app(m_settings.store());
    CommandLog log(app);
    KeyDriver keys(app);

    // A size key right after the clock started is bounce too.
    keys.press(KeySizeUp, 10);
    QCOMPARE(log.take(), QStringList());

    keys.press(KeySizeUp, 1000);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(60)", "showMode(false)"}));
    QCOMPARE(iniValue("m_spotSize").toInt(), 60);

    // 40 ms later: dropped as a whole, show/hide and the settings write included.
    keys.press(KeySizeUp | KeyEffectHeld, 40);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(iniValue("m_spotSize").toInt(), 60);

    // 60 ms after the dropped one: handled, as the dropped key restarted the clock.
    keys.press(KeySizeDown | KeyEffectHeld, 60);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(50)", "showMode(true)"}));

    // 49 ms: dropped; exactly 50 ms after that: handled.
    keys.press(KeySizeUp, 49);
    QCOMPARE(log.take(), QStringList());
    keys.press(KeySizeUp, 50);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(60)", "showMode(false)"}));

    // Keys without a size bit are never debounced.
    keys.press(KeyEffectHeld, 1);
    keys.press(KeyModeSwitch, 1);
    QCOMPARE(log.take(), (QStringList{"showMode(true)", "setCursorSize(10)",
                                      "setForeColor(#ff0000)", "setMode(2)", "showMode(false)"}));
}

void TestMainDialog::blackScreen()
{
    writeIni("[General]\nm_curMode=2\nm_laserSize=30\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    CommandLog log(app);
    KeyDriver keys(app);

    keys.press(KeyBlackScreen);
    QCOMPARE(log.take(), (QStringList{"setMode(4)", "showMode(false)"}));
    // Only the overlay goes black: the window keeps its mode.
    QCOMPARE(checkedMode(dialog), 2);
    QCOMPARE(groupStates(dialog), QStringLiteral("dEEd"));

    keys.press(KeyBlackScreen | KeyEffectHeld);
    QCOMPARE(log.take(), (QStringList{"setMode(4)", "showMode(true)"}));

    // With a size bit the black screen is not asked for.
    keys.press(KeyBlackScreen | KeySizeDown);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(20)", "showMode(false)"}));

    // Mode key first, then the black screen.
    keys.press(KeyModeSwitch | KeyBlackScreen);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(50)", "setForeColor(#ff0000)", "setMode(3)",
                                      "setMode(4)", "showMode(false)"}));
    QCOMPARE(checkedMode(dialog), 3);

    // The next mode key steps on from the window's mode, not from the black screen.
    keys.press(KeyModeSwitch);
    QCOMPARE(log.take(), (QStringList{"setCursorSize(50)", "setForeColor(#ff0000)", "setMode(0)",
                                      "showMode(false)"}));
}

void TestMainDialog::sizeIsRememberedPerMode()
{
    writeIni("[General]\nm_curMode=1\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    QSignalSpy sizes(&app.state(), &PresenterState::overlayCursorSize);
    KeyDriver keys(app);

    keys.press(KeySizeUp);
    keys.press(KeySizeUp);
    QCOMPARE(iniValue("m_spotSize").toInt(), 70);

    keys.press(KeyModeSwitch); // laser, default 10
    QCOMPARE(sizes.last().at(0).toInt(), 10);
    QCOMPARE(iniValue("m_laserSize").toInt(), 10);
    keys.press(KeySizeUp);
    QCOMPARE(iniValue("m_laserSize").toInt(), 20);

    keys.press(KeyModeSwitch); // magnifier, default 50
    QCOMPARE(sizes.last().at(0).toInt(), 50);
    keys.press(KeySizeDown);
    QCOMPARE(iniValue("m_magnifierSize").toInt(), 40);

    keys.press(KeyModeSwitch); // normal: keeps the magnifier's size, stores nothing
    QCOMPARE(sizes.last().at(0).toInt(), 40);
    keys.press(KeySizeUp);
    QCOMPARE(sizes.last().at(0).toInt(), 50);
    QCOMPARE(iniValue("m_magnifierSize").toInt(), 40);

    keys.press(KeyModeSwitch); // back to the spotlight's remembered size
    QCOMPARE(sizes.last().at(0).toInt(), 70);
    keys.press(KeyModeSwitch);
    QCOMPARE(sizes.last().at(0).toInt(), 20);
    keys.press(KeyModeSwitch);
    QCOMPARE(sizes.last().at(0).toInt(), 40);

    QCOMPARE(iniValue("m_spotSize").toInt(), 70);
    QCOMPARE(iniValue("m_laserSize").toInt(), 20);
    QCOMPARE(iniValue("m_magnifierSize").toInt(), 40);

    // The slider in the normal mode resizes the overlay's effect but stores nothing.
    keys.press(KeyModeSwitch);
    const QByteArray before = iniBytes();
    child<QSlider>(&dialog, "horizontalSlider_cursorSize")->setValue(150);
    QCOMPARE(sizes.last().at(0).toInt(), 150);
    QCOMPARE(iniBytes(), before);
    // ... while in the laser mode it becomes the laser's size.
    keys.press(KeyModeSwitch);
    keys.press(KeyModeSwitch);
    child<QSlider>(&dialog, "horizontalSlider_cursorSize")->setValue(90);
    QCOMPARE(sizes.last().at(0).toInt(), 90);
    QTRY_COMPARE(iniValue("m_laserSize").toInt(), 90);
    keys.press(KeySizeUp);
    QCOMPARE(sizes.last().at(0).toInt(), 100);
}

void TestMainDialog::effectKeyShowsAndHides()
{
    writeIni("[General]\nm_curMode=3\n");
    KavriApp app(m_settings.store());
    QSignalSpy repaints(&app.state(), &PresenterState::overlayRecapture);
    QSignalSpy shows(&app.state(), &PresenterState::overlayShow);
    KeyDriver keys(app);

    auto showValues = [&shows] {
        QList<bool> values;
        for (const QList<QVariant> &args : qAsConst(shows))
            values << args.at(0).toBool();
        shows.clear();
        return values;
    };

    // One press of the effect key in the magnifier: one fresh capture, shown on every poll.
    for (int i = 0; i < 3; ++i)
        keys.press(KeyEffectHeld, 50);
    QCOMPARE(repaints.count(), 1);
    QCOMPARE(showValues(), (QList<bool>{true, true, true}));

    keys.press(0, 50);
    QCOMPARE(showValues(), QList<bool>{false});
    QCOMPARE(repaints.count(), 1);

    // The next press captures again.
    keys.press(KeyEffectHeld, 50);
    keys.press(KeyEffectHeld | KeySizeUp, 50);
    QCOMPARE(repaints.count(), 2);
    QCOMPARE(showValues(), (QList<bool>{true, true}));

    // Released, then held in another mode: no capture.
    keys.press(KeyModeSwitch, 50);                 // normal
    keys.press(KeyModeSwitch | KeyEffectHeld, 50); // spotlight
    keys.press(KeyEffectHeld, 50);
    QCOMPARE(repaints.count(), 2);
    QCOMPARE(showValues(), (QList<bool>{false, true, true}));

    // Stepping into the magnifier while the key is held asks for a capture.
    keys.press(KeyModeSwitch | KeyEffectHeld, 50); // laser
    keys.press(KeyModeSwitch | KeyEffectHeld, 50); // magnifier
    QCOMPARE(repaints.count(), 3);
    keys.press(KeyEffectHeld, 50);
    QCOMPARE(repaints.count(), 3);
}

void TestMainDialog::pageFollowsDeviceStatus()
{
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    QCOMPARE(pageIndex(dialog), 1);
    app.state().onUpdateHidStatus(HidConnected, 0);
    QCOMPARE(pageIndex(dialog), 0);
    app.state().onUpdateHidStatus(HidKeyEvent, keyParam(KeyEffectHeld));
    QCOMPARE(pageIndex(dialog), 0);
    app.state().onUpdateHidStatus(HidStatus(7), 0);
    QCOMPARE(pageIndex(dialog), 0);
    app.state().onUpdateHidStatus(HidDisconnected, 0);
    QCOMPARE(pageIndex(dialog), 1);
    // Switching the language while the insert page shows changes its message at once.
    child<QComboBox>(&dialog, "comboBox_lang")->setCurrentIndex(6);
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(), QStringLiteral("Steek Dongle in"));
    app.state().onUpdateHidStatus(HidConnected, 0);
    QCOMPARE(pageIndex(dialog), 0);

    // Other key bits and status values change nothing.
    CommandLog log(app);
    app.state().onUpdateHidStatus(HidStatus(3), keyParam(KeyModeSwitch));
    QCOMPARE(log.take(), QStringList());
    app.state().onUpdateHidStatus(HidKeyEvent, keyParam(0xE0));
    QCOMPARE(log.take(), QStringList{"showMode(false)"});
}

void TestMainDialog::modeButtons()
{
    writeIni("[General]\nm_spotSize=60\nm_laserSize=20\nm_magnifierSize=80\n"
             "m_foreColor=4278190335\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    CommandLog log(app);

    child<QRadioButton>(&dialog, "radioButton_laser")->click();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(20)", "setForeColor(#0000ff)", "setMode(2)"}));
    QCOMPARE(checkedMode(dialog), 2);
    QCOMPARE(groupStates(dialog), QStringLiteral("dEEd"));
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(), 20);

    child<QRadioButton>(&dialog, "radioButton_magnifier")->click();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(80)", "setForeColor(#0000ff)", "setMode(3)"}));
    QCOMPARE(groupStates(dialog), QStringLiteral("ddEE"));

    child<QRadioButton>(&dialog, "radioButton_normal")->click();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(80)", "setForeColor(#0000ff)", "setMode(0)"}));
    QCOMPARE(groupStates(dialog), QStringLiteral("dddd"));

    child<QRadioButton>(&dialog, "radioButton_spotLight")->click();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(60)", "setForeColor(#0000ff)", "setMode(1)"}));
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->value(), 60);

    // Called without a mode button as sender: the normal mode.
    dialog.onModeBtnClicked();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(60)", "setForeColor(#0000ff)", "setMode(0)"}));
    QCOMPARE(checkedMode(dialog), 0);
}

void TestMainDialog::colourPicking()
{
    // Each colour button can only be used in the mode that shows its colour.
    writeIni("[General]\nm_curMode=2\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    auto *foreButton = child<QPushButton>(&dialog, "pushButton_foreColor");
    auto *backButton = child<QPushButton>(&dialog, "pushButton_backColor");
    auto *laser = child<QRadioButton>(&dialog, "radioButton_laser");
    auto *spotLight = child<QRadioButton>(&dialog, "radioButton_spotLight");

    QList<QColor> offered;
    QColor answer(0, 0, 255);
    dialog.setColorPicker([&](const QColor &initial) {
        offered << initial;
        return answer;
    });
    CommandLog log(app);

    foreButton->click();
    QCOMPARE(offered, QList<QColor>{QColor(255, 0, 0)});
    QCOMPARE(log.take(), QStringList{"setForeColor(#0000ff)"});
    QCOMPARE(foreButton->palette().color(QPalette::Button), QColor(0, 0, 255));

    spotLight->click();
    log.take();
    answer = QColor(0, 128, 0);
    backButton->click();
    QCOMPARE(offered.last(), QColor(0, 0, 0));
    QCOMPARE(log.take(), QStringList{"setBackColor(#008000)"});
    QCOMPARE(backButton->palette().color(QPalette::Button), QColor(0, 128, 0));

    // Cancelling gives an invalid colour: the user's colours stay and nothing is sent.
    answer = QColor();
    backButton->click();
    QCOMPARE(offered.last(), QColor(0, 128, 0));
    laser->click();
    QCOMPARE(log.take(), (QStringList{"setCursorSize(10)", "setForeColor(#0000ff)", "setMode(2)"}));
    foreButton->click();
    QCOMPARE(offered.last(), QColor(0, 0, 255));
    QCOMPARE(offered.size(), 4);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(foreButton->palette().color(QPalette::Button), QColor(0, 0, 255));
    QCOMPARE(backButton->palette().color(QPalette::Button), QColor(0, 128, 0));

    // The kept colour is still the one the next mode change sends.
    spotLight->click();
    QVERIFY(log.take().contains(QStringLiteral("setForeColor(#0000ff)")));

    // The picked colours are stored as opaque 0xAARRGGBB numbers; a cancel stores nothing.
    QCOMPARE(iniValue("m_foreColor").toLongLong(), 4278190335LL);
    QCOMPARE(iniValue("m_backColor").toLongLong(), 4278222848LL);
}

void TestMainDialog::sliderInput_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("arrow keys") << "keys";
    QTest::newRow("Page Up") << "page";
    QTest::newRow("wheel") << "wheel";
    QTest::newRow("click on the groove") << "groove";
    QTest::newRow("drag") << "drag";
}

// Every input that moves a slider reaches the overlay and the file alike; a drag stores the
// value it ends on when the handle is let go. The window's own setValue calls (the
// presenter's size keys) are no user change.
void TestMainDialog::sliderInput()
{
    QFETCH(QString, input);
    writeIni("[General]\nm_curMode=1\nm_spotSize=50\nm_backOpacity=100\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    app.state().onUpdateHidStatus(HidConnected, 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CommandLog log(app);
    auto *back = child<QSlider>(&dialog, "horizontalSlider_backOpacity");
    auto *size = child<QSlider>(&dialog, "horizontalSlider_cursorSize");
    back->setFocus();

    // One input on the opacity slider, then the same on the size slider; the values go up.
    const auto give = [&](QSlider *slider) {
        const QPoint centre = slider->rect().center();
        if (input == "keys") {
            QTest::keyClick(slider, Qt::Key_Right);
        } else if (input == "page") {
            QTest::keyClick(slider, Qt::Key_PageUp);
        } else if (input == "wheel") {
            QWheelEvent wheel(QPointF(centre), QPointF(slider->mapToGlobal(centre)), QPoint(),
                              QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(slider, &wheel);
        } else if (input == "groove") {
            QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier,
                              QPoint(slider->width() - 8, centre.y()));
        }
    };
    if (input == "drag") {
        // Press on the handle, move to the right end in small steps, let go. How often the
        // file is written meanwhile is the store's (tst_settingsstore, count_drag_writes.sh).
        const int y = back->height() / 2;
        const int from = QStyle::sliderPositionFromValue(0, 255, 100, back->width() - 13) + 6;
        QTest::mousePress(back, Qt::LeftButton, Qt::NoModifier, QPoint(from, y));
        for (int x = from; x <= back->width() - 2; x += 2) {
            QMouseEvent move(QEvent::MouseMove, QPointF(x, y),
                             QPointF(back->mapToGlobal(QPoint(x, y))), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(back, &move);
        }
        QTest::mouseRelease(back, Qt::LeftButton, Qt::NoModifier, QPoint(back->width() - 2, y));
        QCOMPARE(back->value(), 255);
        const QStringList sent = log.take();
        QVERIFY(sent.size() > 10);
        QCOMPARE(sent.last(), QStringLiteral("setBackOpacity(255)"));
        QCOMPARE(iniValue("m_backOpacity").toInt(), 255); // at once on release
        return;
    }

    give(back);
    QVERIFY(back->value() > 100);
    QCOMPARE(log.take(), QStringList{QStringLiteral("setBackOpacity(%1)").arg(back->value())});
    QTRY_COMPARE(iniValue("m_backOpacity").toInt(), back->value());
    QCOMPARE(app.state().backOpacity(), back->value());

    size->setFocus();
    give(size);
    QVERIFY(size->value() > 50);
    QCOMPARE(log.take(), QStringList{QStringLiteral("setCursorSize(%1)").arg(size->value())});
    QTRY_COMPARE(iniValue("m_spotSize").toInt(), size->value());

    // The presenter's size key moves the slider: one command, no echo of the slider's own.
    KeyDriver keys(app);
    keys.press(KeySizeDown);
    QCOMPARE(log.take(), (QStringList{QStringLiteral("setCursorSize(%1)").arg(size->value()),
                                      QStringLiteral("showMode(false)")}));
}

void TestMainDialog::slidersReactToDraggingOnly()
{
    writeIni("[General]\nm_curMode=1\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    CommandLog log(app);
    auto *fore = child<QSlider>(&dialog, "horizontalSlider_foreOpacity");
    auto *back = child<QSlider>(&dialog, "horizontalSlider_backOpacity");
    auto *size = child<QSlider>(&dialog, "horizontalSlider_cursorSize");
    auto *scale = child<QSlider>(&dialog, "horizontalSlider_scaleRate");
    auto *speed = child<QSlider>(&dialog, "horizontalSlider_mouseSpeed");

    // Values set on a slider from outside the window are the user's, like keys and clicks.
    fore->setValue(120);
    back->setValue(0);
    size->setValue(180);
    scale->setValue(25);
    speed->setValue(30);
    QCOMPARE(log.take(), (QStringList{"setForeOpacity(120)", "setBackOpacity(0)",
                                      "setCursorSize(180)", "setScaleRate(2.5)"}));
    QTRY_COMPARE(iniValue("m_spotSize").toInt(), 180);
    QCOMPARE(iniValue("m_foreOpacity").toInt(), 120);
    QCOMPARE(iniValue("m_backOpacity").toInt(), 0);
    QCOMPARE(iniValue("m_scaleRate").toDouble(), 2.5);
    QCOMPARE(iniValue("m_speed").toDouble(), 0.8);

    scale->setValue(15);
    scale->setValue(40);
    QCOMPARE(log.take(), (QStringList{"setScaleRate(1.5)", "setScaleRate(4)"}));
    // Only a real change is one: the drag signal alone reaches nothing.
    emit scale->sliderMoved(30);
    QCOMPARE(log.take(), QStringList());

    // Every slider takes the keyboard focus.
    for (QSlider *slider : {fore, back, size, scale})
        QCOMPARE(slider->focusPolicy(), Qt::StrongFocus);
}

void TestMainDialog::sleepTimer()
{
    writeIni("[General]\nm_sleepTime=1000\n");
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    auto *spin = child<QSpinBox>(&dialog, "spinBox_timer");
    QCOMPARE(spin->value(), 255);
    // Shown clamped, but the stored value is only replaced when the user applies a time.
    QCOMPARE(iniValue("m_sleepTime").toInt(), 1000);

    spin->setValue(9);
    QCOMPARE(iniValue("m_sleepTime").toInt(), 1000);
    child<QPushButton>(&dialog, "pushButton_setTimer")->click();
    QCOMPARE(iniValue("m_sleepTime").toInt(), 9);
    QCOMPARE(iniBytes().count("m_sleepTime"), 1);

    // No dongle: the write fails silently and the device thread keeps running.
    QVERIFY((&app.device())->isRunning());
}

void TestMainDialog::languageTables()
{
    QStringList withTrailingSpace;
    for (int i = 0; i < Languages::Count; ++i) {
        const QStringList texts = Languages::texts(i);
        QCOMPARE(texts.size(), Languages::TextCount);
        for (const QString &text : texts) {
            QVERIFY2(!text.trimmed().isEmpty(), qPrintable(QString::number(i)));
            if (text.endsWith(QLatin1Char(' ')))
                withTrailingSpace << text;
            QVERIFY(!text.startsWith(QLatin1Char(' ')));
        }
        QVERIFY(!Languages::insertText(i).isEmpty());
        QCOMPARE(texts.at(Languages::TimerUnit), QStringLiteral("min"));
        // Every later text in every language, the notices with a place for their detail.
        for (int t = 0; t < Languages::ExtraTextCount; ++t) {
            const QString extra = Languages::extraText(Languages::ExtraText(t), i);
            QVERIFY2(!extra.trimmed().isEmpty(), qPrintable(QString::number(t)));
            const bool detailed = t == Languages::SettingsNotSavedNotice ||
                                  t == Languages::MagnifierUnavailableNotice ||
                                  t == Languages::UnguardedNotice ||
                                  t == Languages::ShortcutTakenNotice;
            QCOMPARE(extra.count(QStringLiteral("%1")), detailed ? 1 : 0);
            // Translated, not the English text again.
            QVERIFY2(i == 1 || extra != Languages::extraText(Languages::ExtraText(t), 1),
                     qPrintable(extra));
        }
    }
    QCOMPARE(withTrailingSpace, (QStringList{"Zuvu Direvod Einstellungen ", "Standard ", "Timer ",
                                             "Aktivieren ", QStringLiteral("Előnézet ")}));
    QVERIFY(Languages::texts(-1).isEmpty());
    QVERIFY(Languages::texts(12).isEmpty());
    QVERIFY(Languages::insertText(12).isEmpty());

    // Borrowed texts are kept as they are.
    QCOMPARE(Languages::texts(1).at(Languages::ModeGroupTitle), QStringLiteral("Modus"));
    QCOMPARE(Languages::texts(3).at(Languages::SetTimerButton), QStringLiteral("Activer"));
    QCOMPARE(Languages::texts(7).at(Languages::WindowTitle), QStringLiteral("Presenter setting"));
    QCOMPARE(Languages::texts(11).at(Languages::WindowTitle), QStringLiteral("Presenter setting"));
}

// The tray menu's shortcuts page: a recorded combination is bound and stored as one
// combination; the clear button unbinds it. The first binding says which way keys reach Kavri
// (none in this offscreen session).
void TestMainDialog::shortcutsPage()
{
    writeIni("[General]\nlanguage=1\n");
    KavriApp app(m_settings.store());
    emit app.tray().shortcutsRequested();
    ShortcutsDialog *page = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<ShortcutsDialog *>(w))
            page = found;
    QVERIFY(page && page->isVisible());
    auto *field = child<QKeySequenceEdit>(page, "keys_showWhileHeld");
    QTest::ignoreMessage(QtInfoMsg, "Kavri: shortcuts: not available on this session (bind "
                                    "kavri --toggle in the desktop's settings)");
    field->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Shift+B, X")));
    emit field->editingFinished();
    QCOMPARE(field->keySequence(), QKeySequence(QStringLiteral("Ctrl+Shift+B")));
    QVERIFY2(iniBytes().contains("[Shortcuts]\nshowWhileHeld=Ctrl+Shift+B\n"), iniBytes());
    QCOMPARE(app.shortcuts().table()[Shortcuts::ShowWhileHeld],
             QKeySequence(QStringLiteral("Ctrl+Shift+B")));
    QTest::mouseClick(child<QPushButton>(page, "clear_showWhileHeld"), Qt::LeftButton);
    QVERIFY(field->keySequence().isEmpty());
    QVERIFY2(iniBytes().contains("[Shortcuts]\nshowWhileHeld=\n"), iniBytes());
    QVERIFY(app.shortcuts().table()[Shortcuts::ShowWhileHeld].isEmpty());
}

void TestMainDialog::languageSwitching_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < Languages::Count; ++i)
        QTest::addRow("%d", i) << i;
}

void TestMainDialog::languageSwitching()
{
    QFETCH(int, index);
    // Start in another language so that every row is a real change.
    const int startLanguage = index == 5 ? 4 : 5;
    writeIni(QStringLiteral("[General]\nlanguage=%1\n").arg(startLanguage).toLatin1());
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    app.state().onUpdateHidStatus(HidConnected, 0);
    // Notices put up in the language before follow the switch.
    dialog.onSettingsWriteFailed(QStringLiteral("/nowhere/Kavri.ini"));
    dialog.onMagnifierUnavailable(QString());
    dialog.onRunningUnguarded(QStringLiteral("/run/kavri.lock"));
    dialog.onShortcutTaken(QStringLiteral("Meta+F8"));
    emit app.tray().shortcutsRequested();
    ShortcutsDialog *page = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<ShortcutsDialog *>(w))
            page = found;
    QVERIFY(page);

    child<QComboBox>(&dialog, "comboBox_lang")->setCurrentIndex(index);

    const QStringList texts = Languages::texts(index);
    using namespace Languages;
    auto *lock = child<QCheckBox>(&dialog, "checkBox_effectKeyLocks");
    QCOMPARE(lock->text(), extraText(EffectKeyLockCaption, index));
    QCOMPARE(lock->toolTip(), extraText(EffectKeyLockTip, index));
    QCOMPARE(child<QLabel>(&dialog, "label_settingsNotice")->text(),
             extraText(SettingsNotSavedNotice, index).arg("/nowhere/Kavri.ini"));
    QCOMPARE(child<QLabel>(&dialog, "label_magnifierNotice")->text(),
             extraText(MagnifierUnavailableNotice, index)
                 .arg(extraText(MagnifierNoCaptureReason, index)));
    QCOMPARE(child<QLabel>(&dialog, "label_unguardedNotice")->text(),
             extraText(UnguardedNotice, index).arg("/run/kavri.lock"));
    QCOMPARE(child<QLabel>(&dialog, "label_shortcutNotice")->text(),
             extraText(ShortcutTakenNotice, index).arg("Meta+F8"));
    // The tray's entry and the shortcuts page follow too.
    QStringList entries;
    for (const QAction *action : app.tray().icon()->contextMenu()->actions())
        entries << action->text();
    QVERIFY2(entries.contains(extraText(ShortcutsTitle, index)), qPrintable(entries.join('|')));
    QCOMPARE(page->windowTitle(), extraText(ShortcutsTitle, index));
    QCOMPARE(child<QPushButton>(page, "clear_sizeDown")->text(),
             extraText(ClearShortcutButton, index));
    auto *titleLabel = child<QLabel>(&dialog, "titleTextLabel");
    QVERIFY(titleLabel);
    QCOMPARE(titleLabel->text(), texts.at(WindowTitle));
    QCOMPARE(dialog.windowTitle(), texts.at(WindowTitle));
    QCOMPARE(child<QGroupBox>(&dialog, "groupBox_2")->title(), texts.at(ModeGroupTitle));
    QCOMPARE(child<QGroupBox>(&dialog, "groupBox_4")->title(), texts.at(PreviewGroupTitle));
    const char *const buttons[] = {"radioButton_normal", "radioButton_spotLight",
                                   "radioButton_laser", "radioButton_magnifier"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(child<QRadioButton>(&dialog, buttons[i])->text(), texts.at(NormalMode + i));
    const struct
    {
        const char *name;
        int role;
    } labelRoles[] = {{"label_5", BackColorCaption}, {"label_6", BackOpacityCaption},
                      {"label_2", ForeColorCaption}, {"label", ForeOpacityCaption},
                      {"label_7", SizeCaption},      {"label_9", ScaleCaption},
                      {"label_4", TimerCaption},     {"label_8", TimerUnit},
                      {"label_3", MouseSpeedCaption}};
    for (const auto &lr : labelRoles)
        QCOMPARE(child<QLabel>(&dialog, lr.name)->text(), texts.at(lr.role));
    auto *setTimer = child<QPushButton>(&dialog, "pushButton_setTimer");
    QCOMPARE(setTimer->text(), texts.at(SetTimerButton));
    QCOMPARE(setTimer->styleSheet(), QStringLiteral("text-align: left;"));
    // The sleep time's largest value shows in full, and the row still fits its box.
    dialog.show();
    auto *timer = child<QSpinBox>(&dialog, "spinBox_timer");
    timer->setValue(255);
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QLineEdit *digits = timer->findChild<QLineEdit *>();
    const int lineEditTextMargins = 2 * 2;
    QVERIFY2(digits->contentsRect().width() - lineEditTextMargins >=
                 digits->fontMetrics().horizontalAdvance(digits->text()),
             qPrintable(QStringLiteral("%1 px for \"%2\"")
                            .arg(digits->contentsRect().width())
                            .arg(digits->text())));
    QVERIFY(setTimer->geometry().left() > timer->geometry().right());
    // The lock's caption shows in full.
    QVERIFY2(lock->width() >= lock->sizeHint().width(),
             qPrintable(QStringLiteral("%1 < %2").arg(lock->width()).arg(lock->sizeHint().width())));
    QVERIFY(setTimer->geometry().right() < child<QGroupBox>(&dialog, "groupBox_timer")->width());
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(), Languages::insertText(index));
    QCOMPARE(iniValue("language").toInt(), index);

    // What is not translated stays.
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_lang")->itemText(0), QStringLiteral("Deutsch "));
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_lang")->itemText(11), QStringLiteral("HU"));
    auto *tray = app.tray().icon();
    QVERIFY(tray && tray->contextMenu());
    QCOMPARE(tray->contextMenu()->actions().last()->text(), QStringLiteral("EXIT"));
    QCOMPARE(tray->contextMenu()->actions().first()->text(), QStringLiteral("Start at login"));
    auto *closeButton = child<QPushButton>(&dialog, "closeButton");
    QCOMPARE(closeButton->text(), QStringLiteral("X"));
    QCOMPARE(pageIndex(dialog), 0);

    // What a screen reader says follows the language, built from the captions shown.
    QCOMPARE(closeButton->accessibleName(), Languages::closeButtonName(index));
    const QString back = texts.at(BackColorCaption).trimmed();
    const QString fore = texts.at(ForeColorCaption).trimmed();
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_backColor")->accessibleName(), back);
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_foreColor")->accessibleName(), fore);
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_backOpacity")->accessibleName(),
             back + ", " + texts.at(BackOpacityCaption).trimmed());
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_foreOpacity")->accessibleName(),
             fore + ", " + texts.at(ForeOpacityCaption).trimmed());
    QCOMPARE(child<QSlider>(&dialog, "horizontalSlider_cursorSize")->accessibleName(),
             texts.at(SizeCaption).trimmed());
    QVERIFY(child<QSpinBox>(&dialog, "spinBox_timer")
                ->accessibleName()
                .startsWith(texts.at(TimerCaption).trimmed()));
}

void TestMainDialog::languageExactTexts()
{
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    auto *combo = child<QComboBox>(&dialog, "comboBox_lang");

    // German, from no file.
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Zuvu Direvod Einstellungen "));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_normal")->text(),
             QStringLiteral("Standard "));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_spotLight")->text(), QStringLiteral("Spot"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_laser")->text(),
             QStringLiteral("Digital Pointer"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_magnifier")->text(), QStringLiteral("Lupe"));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_setTimer")->text(),
             QStringLiteral("Aktivieren "));
    QCOMPARE(child<QLabel>(&dialog, "label_7")->text(), QStringLiteral("Spot Größe"));
    QCOMPARE(combo->currentText(), QStringLiteral("Deutsch "));

    combo->setCurrentIndex(1);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Presenter setting"));
    QCOMPARE(child<QGroupBox>(&dialog, "groupBox_2")->title(), QStringLiteral("Modus"));
    QCOMPARE(child<QGroupBox>(&dialog, "groupBox_4")->title(), QStringLiteral("Preview effect"));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_setTimer")->text(), QStringLiteral("Set"));
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(),
             QStringLiteral("Please insert the dongle"));
    QCOMPARE(iniValue("language").toInt(), 1);

    combo->setCurrentIndex(11);
    QCOMPARE(child<QGroupBox>(&dialog, "groupBox_4")->title(), QStringLiteral("Előnézet "));
    QCOMPARE(child<QLabel>(&dialog, "label_4")->text(), QStringLiteral("Időzítés_perc"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Presenter setting"));

    combo->setCurrentIndex(9);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Nastavení"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_spotLight")->text(),
             QStringLiteral("Bodové světlo"));
    QCOMPARE(child<QLabel>(&dialog, "label_10")->text(),
             QStringLiteral("Před použitím připojte přijímač do USB zásuvky počítače a zapněte "
                            "prezentér."));
    QCOMPARE(iniValue("language").toInt(), 9);

    // An index the tables do not have changes nothing and stores nothing.
    dialog.onSelectLanguage(12);
    dialog.onSelectLanguage(-1);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Nastavení"));
    QCOMPARE(iniValue("language").toInt(), 9);

    // Applied again at the next start.
    KavriApp app2(m_settings.store());
    MainDialog &second = app2.dialog();
    QCOMPARE(second.windowTitle(), QStringLiteral("Nastavení"));
    QCOMPARE(child<QComboBox>(&second, "comboBox_lang")->currentIndex(), 9);
}

void TestMainDialog::disabledCaptionsStayReadable()
{
    // In the normal mode every settings group is disabled; its captions must still be legible
    // against the window's light background.
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    app.state().onUpdateHidStatus(HidConnected, 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const char *name : {"label_5", "label_2", "label_7", "label_9"}) {
        auto *label = child<QLabel>(&dialog, name);
        QVERIFY(!label->isEnabled());
        const QImage image = label->grab().toImage();
        int darkest = 255;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
        QVERIFY2(darkest < 150, qPrintable(QStringLiteral("%1: %2").arg(name).arg(darkest)));
    }
}

void TestMainDialog::closeHidesAndTrayShows()
{
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QVERIFY(!dialog.close());
    QVERIFY(dialog.isHidden());

    dialog.show();
    child<QPushButton>(&dialog, "closeButton")->click();
    QVERIFY(dialog.isHidden());
    QVERIFY((&app.device())->isRunning());
    auto *tray = app.tray().icon();
    QVERIFY(tray);
    QVERIFY(tray->contextMenu());
    QCOMPARE(tray->contextMenu()->actions().size(), 3); // start at login, shortcuts, exit
    QCOMPARE(tray->contextMenu()->actions().last()->text(), QStringLiteral("EXIT"));

    emit tray->activated(QSystemTrayIcon::Context);
    emit tray->activated(QSystemTrayIcon::MiddleClick);
    QVERIFY(dialog.isHidden());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(!dialog.isHidden());

    dialog.close();
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!dialog.isHidden());
    // A click while shown leaves the window as it is.
    dialog.setWindowState(Qt::WindowMinimized);
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(dialog.windowState() & Qt::WindowMinimized);
}

// Tab and Shift+Tab go through every enabled control in reading order, each shows a focus
// mark, Space and the arrow keys work, and Esc hides the window as its close button does.
void TestMainDialog::keyboardReachesEveryControl()
{
    writeIni("[General]\nm_curMode=1\n"); // spotlight: back colour and size groups enabled
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    app.state().onUpdateHidStatus(HidConnected, 0);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    CommandLog log(app);

    // The modes are one stop, on the chosen mode; the arrow keys move between them.
    const QStringList expected = {"comboBox_lang",
                                  "radioButton_spotLight",
                                  "checkBox_effectKeyLocks",
                                  "pushButton_backColor",
                                  "horizontalSlider_backOpacity",
                                  "horizontalSlider_cursorSize",
                                  "spinBox_timer",
                                  "pushButton_setTimer",
                                  "closeButton"};
    QStringList forward;
    for (int i = 0; i < expected.size(); ++i) {
        QWidget *focused = QApplication::focusWidget();
        QVERIFY(focused);
        forward << focused->objectName();
        // The mark: the focused control looks different from itself without the focus.
        const QImage withFocus = focused->grab().toImage();
        QTest::keyClick(focused, Qt::Key_Tab);
        if (i < expected.size() - 1 && focused->objectName() != "comboBox_lang")
            QVERIFY2(focused->grab().toImage() != withFocus, qPrintable(focused->objectName()));
    }
    QCOMPARE(forward, expected);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("comboBox_lang"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("closeButton"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("pushButton_setTimer"));

    // Space chooses a mode, an arrow key moves on to the next one.
    log.take();
    auto *laser = child<QRadioButton>(&dialog, "radioButton_laser");
    laser->setFocus();
    QTest::keyClick(laser, Qt::Key_Space);
    QCOMPARE(checkedMode(dialog), 2);
    QTest::keyClick(laser, Qt::Key_Down);
    QCOMPARE(checkedMode(dialog), 3);
    QCOMPARE(log.take().filter("setMode"), (QStringList{"setMode(2)", "setMode(3)"}));

    // Space on a colour button opens the picker.
    int picked = 0;
    dialog.setColorPicker([&](const QColor &) {
        ++picked;
        return QColor();
    });
    child<QRadioButton>(&dialog, "radioButton_spotLight")->click();
    auto *backColor = child<QPushButton>(&dialog, "pushButton_backColor");
    backColor->setFocus();
    QTest::keyClick(backColor, Qt::Key_Space);
    QCOMPARE(picked, 1);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isHidden());
    QVERIFY((&app.device())->isRunning());
}

// A settings file that cannot be written is said in the window, once, until a write succeeds.
void TestMainDialog::failedWriteIsTold()
{
    // A folder that cannot be made, whoever runs the test.
    const QString path = QStringLiteral("/proc/kavri-no-such-folder/Kavri.ini");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Kavri: cannot create the folder of "
                                                          "the settings file " +
                                                          QRegularExpression::escape(path)));
    KavriApp app(std::make_unique<SettingsStore>(path));
    MainDialog &dialog = app.dialog();
    app.state().onUpdateHidStatus(HidConnected, 0);
    const QList<QLabel *> notices =
        dialog.findChildren<QLabel *>(QStringLiteral("label_settingsNotice"));
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first()->text().contains(path));
    child<QComboBox>(&dialog, "comboBox_lang")->setCurrentIndex(1); // no second line
    QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("label_settingsNotice")).size(), 1);
    // A write that succeeds takes the line away; the next failure brings it back.
    dialog.onSettingsWrittenAgain();
    QVERIFY(notices.first()->isHidden());
    dialog.onSettingsWriteFailed(path);
    QVERIFY(!notices.first()->isHidden());
}

// The effect key's lock: off at first, stored when chosen, restored.
void TestMainDialog::effectKeyLock()
{
    writeIni("[General]\nlanguage=1\n");
    {
        KavriApp app(m_settings.store());
        auto *lock = child<QCheckBox>(&app.dialog(), "checkBox_effectKeyLocks");
        QVERIFY(!lock->isChecked());
        lock->click();
        QCOMPARE(iniValue("effectKeyLocks").toString(), QStringLiteral("true"));
    }
    KavriApp app(m_settings.store());
    QVERIFY(child<QCheckBox>(&app.dialog(), "checkBox_effectKeyLocks")->isChecked());
    QVERIFY(app.state().effectKeyLocks());
}

// "EXIT" ends the event loop with status 0; the teardown that follows stops the device thread
// and writes the change that was still waiting in the store.
void TestMainDialog::exitEndsTheEventLoop()
{
    writeIni("[General]\nlanguage=0\n"); // nothing to write while the window is built
    auto app = std::make_unique<KavriApp>(m_settings.store());
    QVERIFY(app->device().isRunning());
    {
        // A slider moving: the second change waits for the store's next write.
        const PresenterState::Coalescing coalescing(app->state());
        app->state().setForeOpacity(100);
        app->state().setForeOpacity(101);
    }
    QCOMPARE(iniValue("m_foreOpacity").toInt(), 100);

    QObject safetyNet; // ends the loop anyway if "EXIT" did not, and the status tells
    QTimer::singleShot(5000, &safetyNet, [] { QCoreApplication::exit(99); });
    QTimer::singleShot(0, app.get(),
                       [&app] { app->tray().icon()->contextMenu()->actions().last()->trigger(); });
    QCOMPARE(QCoreApplication::exec(), 0);
    // Nothing was torn down inside the loop: that is the teardown's.
    QVERIFY(app->device().isRunning());
    app.reset();
    QCOMPARE(iniValue("m_foreOpacity").toInt(), 101);
}

// The tray's "Start at login" writes and removes the autostart entry, and shows whether it is
// there each time the menu opens.
void TestMainDialog::startAtLogin()
{
    const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (m_settings.dirPath() + "/config").toLocal8Bit());
    const QString entry = m_settings.dirPath() + "/config/autostart/kavri.desktop";
    {
        KavriApp app(m_settings.store());
        QMenu *menu = app.tray().icon()->contextMenu();
        QAction *startAtLogin = menu->actions().first();
        QVERIFY(startAtLogin->isCheckable());
        QVERIFY(!startAtLogin->isChecked());

        startAtLogin->trigger();
        QVERIFY(startAtLogin->isChecked());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.startsWith("[Desktop Entry]\nType=Application\nName=Kavri\n"),
                 qPrintable(text));
        // This program's path, quoted when it holds a space (a checkout may).
        QString program = QCoreApplication::applicationFilePath();
        if (program.contains(' '))
            program = '"' + program + '"';
        QVERIFY2(text.contains("\nExec=" + program + "\n"), qPrintable(text));
        QVERIFY2(text.contains("\nX-GNOME-Autostart-Delay=5\n"), qPrintable(text));

        startAtLogin->trigger();
        QVERIFY(!startAtLogin->isChecked());
        QVERIFY(!QFile::exists(entry));

        // Made or removed elsewhere (the desktop's own settings): the menu shows it.
        QVERIFY(AutostartEntry(QStringLiteral("/usr/bin/kavri")).setEnabled(true));
        emit menu->aboutToShow();
        QVERIFY(startAtLogin->isChecked());
    }
    // A path with spaces and quotes stays one program for the desktop.
    const AutostartEntry odd(QStringLiteral("/opt/my \"apps\"/kavri"));
    QVERIFY(odd.entryText().contains("\nExec=\"/opt/my \\\\\"apps\\\\\"/kavri\"\n"));
    // A "%2" in the path is the path's own text, not the start delay.
    const AutostartEntry percent(QStringLiteral("/opt/v%2/kavri"));
    QVERIFY2(percent.entryText().contains("\nExec=/opt/v%%2/kavri\n"), percent.entryText());
    QVERIFY(percent.entryText().contains("\nX-GNOME-Autostart-Delay=5\n"));
    if (oldConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfigHome);
}

QTEST_MAIN(TestMainDialog)
#include "tst_maindialog.moc"
