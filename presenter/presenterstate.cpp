#include "presenter/presenterstate.h"

#include "device/presenterreport.h"
#include "presenter/presenterlog.h"

#include <algorithm>
#include <cmath>

namespace {

// The stored size of each mode that has an effect size; null for ModeNormal.
constexpr const SettingKey<int> *SizeKeys[] = {
    nullptr, &SettingsKeys::SpotSize, &SettingsKeys::LaserSize, &SettingsKeys::MagnifierSize};

bool isSelectableMode(int mode)
{
    return mode >= ModeNormal && mode <= ModeMagnifier;
}

const SettingKey<int> *sizeKeyOfMode(int mode)
{
    return isSelectableMode(mode) ? SizeKeys[mode] : nullptr;
}

int boundedSize(int size)
{
    return std::clamp(size, PresenterState::MinSize, PresenterState::MaxSize);
}

int boundedOpacity(int opacity)
{
    return std::clamp(opacity, 0, 255);
}

double boundedScaleRate(double scale)
{
    if (!std::isfinite(scale))
        return SettingsKeys::ScaleRate.defaultValue;
    return std::clamp(scale, PresenterState::MinScaleRate, PresenterState::MaxScaleRate);
}

QColor colorFromStored(StoredColor stored)
{
    return QColor::fromRgb(stored);
}

} // namespace

PresenterState::PresenterState(SettingsStore &store, QObject *parent)
    : QObject(parent), m_store(store)
{
    using namespace SettingsKeys;
    // The overlay may store the black screen as its mode; the selection only knows 0..3 and
    // starts in the normal mode for anything else.
    const int storedMode = store.value(CurMode);
    m_mode = isSelectableMode(storedMode) ? storedMode : int(ModeNormal);
    m_overlayMode = ScreenMode(m_mode);
    m_foreColor = colorFromStored(store.value(ForeColor));
    m_backColor = colorFromStored(store.value(BackColor));
    m_foreOpacity = boundedOpacity(store.value(ForeOpacity));
    m_backOpacity = boundedOpacity(store.value(BackOpacity));
    for (int mode = ModeSpotLight; mode <= ModeMagnifier; ++mode)
        m_sizes[mode] = boundedSize(store.value(*SizeKeys[mode]));
    // In the normal mode the size is the spotlight's, the mode that comes next.
    m_sizes[ModeNormal] = m_sizes[ModeSpotLight];
    m_cursorSize = m_sizes[m_mode];
    m_scaleRate = boundedScaleRate(store.value(ScaleRate));
    m_effectKeyLocks = store.value(EffectKeyLocks);
    setKeyClock(Clock());
}

EffectSettings PresenterState::effectSettings() const
{
    EffectSettings settings;
    settings.mode = ScreenMode(m_mode);
    settings.foreColor = m_foreColor;
    settings.backColor = m_backColor;
    settings.foreOpacity = m_foreOpacity;
    settings.backOpacity = m_backOpacity;
    settings.cursorSize = m_cursorSize;
    settings.scaleRate = m_scaleRate;
    return settings;
}

void PresenterState::setKeyClock(Clock clock)
{
    if (clock) {
        m_keyClock = std::move(clock);
    } else {
        m_keyTimer.start();
        m_keyClock = [this] { return m_keyTimer.elapsed(); };
    }
    m_lastSizeKeyMs = m_keyClock();
}

void PresenterState::selectMode(int mode)
{
    if (mode == ModeMagnifier && !m_magnifierAvailable)
        return;
    changeMode(isSelectableMode(mode) ? mode : int(ModeNormal));
    // A held key would repeat the show with its next event and end the flash; a shown effect
    // without one is shown in its new mode now.
    if (m_shown)
        showEffect(true);
}

void PresenterState::selectBlackScreen()
{
    commandMode(ModeBlackScreen);
    if (m_shown)
        showEffect(true);
}

void PresenterState::show()
{
    setShown(true, false);
    showEffect(true);
}

void PresenterState::hide()
{
    setShown(false, false);
    showEffect(false);
}

void PresenterState::toggle()
{
    if (m_shown)
        hide();
    else
        show();
}

bool PresenterState::changeSize(int delta)
{
    if (m_overlayMode == ModeNormal || m_overlayMode == ModeBlackScreen)
        return false;
    const int resized = int(std::clamp<qint64>(qint64(m_cursorSize) + delta, MinSize, MaxSize));
    if (resized != m_cursorSize) {
        m_cursorSize = resized;
        showCursorSize();
    }
    rememberCursorSize();
    return true;
}

void PresenterState::setEffectKeyLocks(bool locks)
{
    m_effectKeyLocks = locks;
    m_store.setValue(SettingsKeys::EffectKeyLocks, locks);
}

void PresenterState::setMagnifierAvailable(bool available)
{
    m_magnifierAvailable = available;
    if (available || m_mode != ModeMagnifier)
        return;
    // As the mode key would step on (the size stays), but the stored mode stays the
    // magnifier until the user chooses another one.
    m_mode = ModeNormal;
    emit modeChanged(m_mode);
    emit overlayMode(ModeNormal);
    if (m_overlayMode != ModeNormal) {
        m_overlayMode = ModeNormal;
        emit effectChanged(m_overlayMode);
    }
}

void PresenterState::setForeColor(const QColor &color)
{
    m_foreColor = color;
    commandForeColor();
}

void PresenterState::setBackColor(const QColor &color)
{
    m_backColor = color;
    emit overlayBackColor(m_backColor);
    m_store.setValue(SettingsKeys::BackColor, m_backColor.rgb());
}

void PresenterState::setForeOpacity(int opacity)
{
    m_foreOpacity = opacity;
    emit overlayForeOpacity(opacity);
    m_store.setValue(SettingsKeys::ForeOpacity, opacity);
}

void PresenterState::setBackOpacity(int opacity)
{
    m_backOpacity = opacity;
    emit overlayBackOpacity(opacity);
    m_store.setValue(SettingsKeys::BackOpacity, opacity);
}

void PresenterState::setCursorSize(int size)
{
    m_cursorSize = size;
    rememberCursorSize();
    emit overlayCursorSize(m_cursorSize);
}

void PresenterState::setScaleRate(double scale)
{
    m_scaleRate = scale;
    emit overlayScaleRate(scale);
    m_store.setValue(SettingsKeys::ScaleRate, scale);
}

void PresenterState::setMouseSpeed(double speed)
{
    m_store.setValue(SettingsKeys::Speed, speed);
}

int PresenterState::storedLanguage() const
{
    return m_store.contains(SettingsKeys::Language.name) ? m_store.value(SettingsKeys::Language)
                                                         : -1;
}

void PresenterState::setLanguage(int index)
{
    m_store.setValue(SettingsKeys::Language, index);
}

int PresenterState::sleepTime() const
{
    return m_store.value(SettingsKeys::SleepTime);
}

void PresenterState::applySleepTime(int minutes)
{
    emit sleepTimeApplied(minutes);
    m_store.setValue(SettingsKeys::SleepTime, minutes);
}

void PresenterState::flushSettings()
{
    m_store.flush();
}

void PresenterState::onUpdateHidStatus(HidStatus status, int param)
{
    switch (status) {
    case HidConnected:
        emit dongleStatusChanged(true);
        break;
    case HidDisconnected:
        emit dongleStatusChanged(false);
        // Whatever the presenter held up goes away with it.
        releaseKeys();
        break;
    case HidKeyEvent:
        handleKeys(PresenterReport::keyByte(param));
        break;
    }
}

void PresenterState::handleKeys(int keys)
{
    qCDebug(lcPresenter, "keys 0x%02x", unsigned(keys));
    if (keys & KeyModeSwitch)
        selectNextMode();

    if (keys & (KeySizeUp | KeySizeDown)) {
        const qint64 now = m_keyClock();
        const qint64 sinceLast = now - m_lastSizeKeyMs;
        m_lastSizeKeyMs = now;
        // A bounced key is dropped whole: no size change, no show or hide.
        if (sinceLast < SizeKeyDebounceMs)
            return;
        const int step = (keys & KeySizeUp) ? SizeStep : -SizeStep;
        const int resized = boundedSize(m_cursorSize + step);
        if (resized != m_cursorSize) {
            m_cursorSize = resized;
            showCursorSize();
        }
    } else if (keys & KeyBlackScreen) {
        // Only the overlay goes black; the selected mode stays as it is.
        commandMode(ModeBlackScreen);
    }

    rememberCursorSize();
    onEffectKey(keys & KeyEffectHeld);
}

void PresenterState::selectNextMode()
{
    // normal -> spotlight -> laser -> magnifier -> normal (the magnifier left out when it
    // cannot work); the normal mode keeps the size.
    const int last = m_magnifierAvailable ? int(ModeMagnifier) : int(ModeLaser);
    const int next = m_mode >= last ? int(ModeNormal) : m_mode + 1;
    changeMode(next);
}

void PresenterState::releaseKeys()
{
    m_effectKeyDown = false;
    if (m_shownByKey)
        setShown(false, true);
    showEffect(m_shown);
}

void PresenterState::onEffectKey(bool down)
{
    // Only a press or a release changes what is shown: a key held through show() or hide()
    // leaves their word standing.
    if (down && !m_effectKeyDown)
        setShown(m_effectKeyLocks ? !m_shown : true, true);
    else if (!down && m_effectKeyDown && !m_effectKeyLocks)
        setShown(false, true);
    m_effectKeyDown = down;
    // Every key event repeats it, as the held key repeats itself: the overlay follows the
    // pointer with it where it has no motion reports.
    showEffect(m_shown);
}

void PresenterState::setShown(bool shown, bool byKey)
{
    m_shownByKey = shown && byKey;
    if (shown == m_shown)
        return;
    m_shown = shown;
    emit shownChanged(m_shown);
}

void PresenterState::changeMode(int mode)
{
    m_mode = mode;
    if (mode != ModeNormal)
        m_cursorSize = m_sizes[mode];
    showCursorSize();
    commandForeColor();
    emit modeChanged(m_mode);
    commandMode(ScreenMode(m_mode));
}

void PresenterState::commandMode(ScreenMode mode)
{
    emit overlayMode(mode);
    // The stored mode is the overlay's: it changes when the overlay's mode does.
    if (mode == m_overlayMode)
        return;
    m_overlayMode = mode;
    m_store.setValue(SettingsKeys::CurMode, int(mode));
    emit effectChanged(mode);
}

void PresenterState::commandForeColor()
{
    emit overlayForeColor(m_foreColor);
    m_store.setValue(SettingsKeys::ForeColor, m_foreColor.rgb());
}

void PresenterState::showCursorSize()
{
    emit cursorSizeChanged(m_cursorSize);
    emit overlayCursorSize(m_cursorSize);
}

void PresenterState::rememberCursorSize()
{
    if (const SettingKey<int> *key = sizeKeyOfMode(m_mode)) {
        m_sizes[m_mode] = m_cursorSize;
        m_store.setValue(*key, m_cursorSize);
    }
}

void PresenterState::showEffect(bool held)
{
    if (held) {
        // The lens shows a capture of the screen: one fresh capture per press of the key.
        if (m_mode == ModeMagnifier && !m_recaptureSent) {
            emit overlayRecapture();
            m_recaptureSent = true;
        }
        emit overlayShow(true);
    } else {
        emit overlayShow(false);
        m_recaptureSent = false;
    }
}
