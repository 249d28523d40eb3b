#include "shortcuts/shortcutdriver.h"

#include "presenter/presenterstate.h"

void ShortcutDriver::press(Shortcuts::Action action)
{
    switch (action) {
    case Shortcuts::ShowWhileHeld:
        if (m_state.effectKeyLocks())
            m_state.toggle();
        else
            m_state.show();
        break;
    case Shortcuts::Toggle:
        m_state.toggle();
        break;
    case Shortcuts::NextEffect:
        m_state.selectNextMode();
        break;
    case Shortcuts::BlackScreen:
        m_state.selectBlackScreen();
        break;
    case Shortcuts::SizeUp:
        m_state.changeSize(PresenterState::SizeStep);
        break;
    case Shortcuts::SizeDown:
        m_state.changeSize(-PresenterState::SizeStep);
        break;
    case Shortcuts::ActionCount:
        break;
    }
}

void ShortcutDriver::release(Shortcuts::Action action)
{
    if (action == Shortcuts::ShowWhileHeld && !m_state.effectKeyLocks())
        m_state.hide();
}
