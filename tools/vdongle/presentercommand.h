#pragma once

#include <string>

// One line of the virtual presenter's control file, parsed. The words name the presenter's
// keys ("mode", "up", "down", "black", "effect") or a raw key byte ("0x10").
struct PresenterCommand final
{
    enum class Kind {
        Invalid,
        Plug,        // the dongle is plugged in
        Unplug,      // the dongle is pulled out
        Refuse,      // the dongle is present but cannot be opened (no access rights)
        Allow,       // ... and can be opened again
        Tap,         // the keys go down for one poll, then all keys are up again
        Hold,        // the keys go down and stay down (every poll reports them)
        Release,     // the keys come up (all keys when none are named)
        Raw,         // one poll answers with exactly this key byte
        WriteResult, // the next sleep-time write returns `value`
    };

    Kind kind = Kind::Invalid;
    int keys = 0;  // key bits for Tap, Hold, Release, Raw
    int value = 0; // WriteResult
    std::string error;

    static PresenterCommand parse(const std::string &line);
};
