#pragma once

#include "device/hidstatus.h"
#include "presenter/effectsettings.h"
#include "presenter/screenmode.h"
#include "settings/settingsstore.h"

#include <QColor>
#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <functional>

// What the presenter and the user have chosen: the selected mode, the effect size of each
// mode, colours, opacities and magnification, the sleep time and the language, and the rules
// by which the presenter's keys change them. It restores its values from the settings store,
// writes every change the user makes back to it, and turns each change and each key into the
// overlay's commands (the overlay* signals, to be connected to the overlay's slots of the same
// meaning). The device thread's statuses come in through onUpdateHidStatus. The settings
// window shows this state and calls it; nothing here knows about widgets. The store must
// outlive the state.
class PresenterState final : public QObject
{
    Q_OBJECT

public:
    // A monotonic clock in milliseconds, used to debounce the presenter's size keys.
    using Clock = std::function<qint64()>;

    // Size keys arriving closer together than this are dropped as key bounce.
    static constexpr qint64 SizeKeyDebounceMs = 50;
    // Range and step of the effect size; stored sizes are brought into this range.
    static constexpr int MinSize = 10;
    static constexpr int MaxSize = 200;
    static constexpr int SizeStep = 10;
    // Range of the magnification.
    static constexpr double MinScaleRate = 1.5;
    static constexpr double MaxScaleRate = 4.0;

    // While one lives, the changes made are one of many in quick succession (a slider
    // moving): they share writes of the file (see SettingsStore::Coalescing).
    class Coalescing final
    {
    public:
        explicit Coalescing(PresenterState &state) : m_store(state.m_store) {}

    private:
        SettingsStore::Coalescing m_store;
    };

    explicit PresenterState(SettingsStore &store, QObject *parent = nullptr);

    // The selected mode, one of ModeNormal..ModeMagnifier (never the black screen).
    int mode() const { return m_mode; }
    // The size of the selected mode's effect.
    int cursorSize() const { return m_cursorSize; }
    QColor foreColor() const { return m_foreColor; }
    QColor backColor() const { return m_backColor; }
    int foreOpacity() const { return m_foreOpacity; }
    int backOpacity() const { return m_backOpacity; }
    double scaleRate() const { return m_scaleRate; }
    // Everything the overlay draws with, as it stands now.
    EffectSettings effectSettings() const;

    // Replaces the debounce clock (the clock counts as started when it is set); an empty
    // clock means the real monotonic one.
    void setKeyClock(Clock clock);

    // The user's choices in the settings window.
    void selectMode(int mode);
    void setForeColor(const QColor &color);
    void setBackColor(const QColor &color);
    void setForeOpacity(int opacity);
    void setBackOpacity(int opacity);
    void setCursorSize(int size);
    void setScaleRate(double scale);
    // The hidden mouse-speed control: only kept in the file, which old versions read.
    void setMouseSpeed(double speed);

    // The language chosen last, or -1 while none was ever stored.
    int storedLanguage() const;
    void setLanguage(int index);

    // The sleep time as stored; not brought into any range.
    int sleepTime() const;
    // The user applies a sleep time: stored, and asked of the dongle (sleepTimeApplied).
    void applySleepTime(int minutes);

    // Writes the changes that wait (a slider was let go).
    void flushSettings();

    // What the device thread reports: the dongle's arrival and loss, and its key events.
    void onUpdateHidStatus(HidStatus status, int param);
    // One key event of the presenter: the bits of its key byte (see KeyBit).
    void handleKeys(int keys);
    // The dongle went away (pulled out, flat battery): whatever its effect key was showing
    // goes; an effect shown by show() stays.
    void releaseKeys();

    // The effect the overlay was last told to draw: the selected mode, or the black screen.
    ScreenMode effect() const { return m_overlayMode; }
    // Whether the effect is shown: the one state that the effect key and show(), hide() and
    // toggle() set and clear, the last of them winning. In the normal mode nothing is drawn
    // while it is set, as while the key is held there.
    bool isShown() const { return m_shown; }
    // As the effect key pressed and let go, without the dongle (the magnifier's fresh
    // capture included); the effect stays until hidden by either.
    void show();
    void hide();
    void toggle();
    // The mode key: the next of normal, spotlight, laser, magnifier (when it works), normal.
    void selectNextMode();
    // The black-screen key: the overlay goes black, the selected mode stays.
    void selectBlackScreen();
    // Adds `delta` to the selected effect's size, kept within MinSize..MaxSize and stored as
    // the size keys store it. False, changing nothing, while the normal mode or the black
    // screen is the effect: they have no size.
    bool changeSize(int delta);

    // With the lock the effect key switches the effect on at one press and off at the next;
    // without it (the default) the effect shows while the key is held. Stored.
    bool effectKeyLocks() const { return m_effectKeyLocks; }
    void setEffectKeyLocks(bool locks);

    // Whether the magnifier can be chosen. Without it the mode key steps from the laser dot
    // to the normal mode and the magnifier cannot be selected. A selected magnifier gives way
    // to the next mode (the normal one) without a write: the file keeps the user's choice
    // for a session where the magnifier works.
    void setMagnifierAvailable(bool available);
    bool isMagnifierAvailable() const { return m_magnifierAvailable; }

signals:
    // The selected mode changed; the size shown for the selected mode changed.
    void modeChanged(int mode);
    void cursorSizeChanged(int size);
    // The device thread found the dongle (true) or lost it or is still looking (false).
    void dongleStatusChanged(bool connected);
    // The sleep time the dongle is to be given.
    void sleepTimeApplied(int minutes);
    // isShown() changed.
    void shownChanged(bool shown);
    // effect() changed.
    void effectChanged(ScreenMode effect);

    // Commands for the overlay.
    void overlayMode(ScreenMode mode);
    void overlayShow(bool enable);
    void overlayForeColor(QColor color);
    void overlayBackColor(QColor color);
    void overlayForeOpacity(int opacity);
    void overlayBackOpacity(int opacity);
    void overlayCursorSize(int size);
    void overlayRecapture();
    void overlayScaleRate(double scale);

private:
    void changeMode(int mode);
    void commandMode(ScreenMode mode);
    void commandForeColor();
    void showCursorSize();
    void rememberCursorSize();
    void showEffect(bool held);
    void setShown(bool shown, bool byKey);
    void onEffectKey(bool down);

    SettingsStore &m_store;
    int m_mode = ModeNormal;
    // What the overlay was last told to show when an effect is displayed.
    ScreenMode m_overlayMode = ModeNormal;
    // Remembered effect size per mode; ModeNormal has none of its own and keeps the size the
    // window last showed.
    std::array<int, 4> m_sizes{};
    int m_cursorSize = 0;
    QColor m_foreColor;
    QColor m_backColor;
    int m_foreOpacity = 0;
    int m_backOpacity = 0;
    double m_scaleRate = 2.0;
    // The overlay was asked for a fresh capture during the current hold of the effect key.
    bool m_recaptureSent = false;
    bool m_magnifierAvailable = true;
    bool m_shown = false;
    // The effect key showed the effect last (held or locked on): the dongle's loss hides it.
    bool m_shownByKey = false;
    // The effect key was down in the last key event.
    bool m_effectKeyDown = false;
    bool m_effectKeyLocks = false;

    QElapsedTimer m_keyTimer;
    Clock m_keyClock;
    qint64 m_lastSizeKeyMs = 0;
};
