#pragma once

#include "shortcuts/shortcuttable.h"

class PresenterState;

// What a shortcut's press and release do to the presenter state: the same calls as the
// presenter's keys and the control interface make, so the effect shown by a shortcut is the
// one shown state that both of them see and change. Show-while-held follows the effect key's
// lock: with the lock, a press shows or hides and the release does nothing. The routes that
// deliver keys give one press and one release per hold (no auto-repeat).
class ShortcutDriver final
{
public:
    // `state` must outlive the driver.
    explicit ShortcutDriver(PresenterState &state) : m_state(state) {}

    void press(Shortcuts::Action action);
    void release(Shortcuts::Action action);

private:
    PresenterState &m_state;
};
