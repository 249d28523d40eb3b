#pragma once

// What an overlay window has to be for the frame on the screen.
enum class WindowPresence {
    // Draws nothing: it may leave the screen altogether.
    Idle,
    // Draws an effect that stays put; pointer and keys pass to the windows beneath.
    Shown,
    // Draws (or waits to draw) an effect that follows the pointer: the window may hold
    // the pointer to learn where it is. Never the keyboard focus.
    FollowingPointer,
};
