#pragma once

#include "fakedongle.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

struct PresenterCommand;

// The presenter and its dongle, simulated for a Kavri process that runs without the hardware.
// It lives in a library preloaded in front of the real hidapi, so the program's hidapi calls
// reach a fake dongle, and it is steered from outside through a control file: other programs
// append one command per line (see presentercommand.h), a reader thread applies them. What
// the dongle sees is written, one line per event, to the control file's name plus ".log":
// "ready <pid>", "opened <path>", "closed", "write <hex bytes> -> <result>", each command
// applied, and when the process ends "exit: handles open N, polls during exit N" (a device
// thread still polling while the process tears itself down shows as polls during exit).
// Both files are made anew at start, mode 0600, and never opened through a symlink.
class VirtualPresenter final
{
public:
    // controlPath: the control file, emptied at start. startPlugged: whether the dongle is
    // in when the program starts looking for it.
    VirtualPresenter(std::string controlPath, bool startPlugged);
    ~VirtualPresenter();
    VirtualPresenter(const VirtualPresenter &) = delete;
    VirtualPresenter &operator=(const VirtualPresenter &) = delete;

    // Applies one command line; false (and a log line) when it is not understood.
    bool apply(const std::string &line);

    // The control file used when KAVRI_VDONGLE is not set: "control" in the folder
    // $XDG_RUNTIME_DIR/kavri-vdongle, or, without a runtime directory, in a new folder made
    // with mkdtemp in /tmp (its name is printed on stderr).
    static std::string defaultControlPath();

private:
    void readLoop();
    void readNewLines();
    void reportDongleActivity();
    void logLine(const std::string &text);
    void answerKeys(int keys);

    std::string m_controlPath;
    std::FILE *m_log = nullptr;
    // Never destroyed: hidapi calls may still arrive from static destructors at exit.
    fakehid::FakeDongle *m_dongle = nullptr;
    int m_heldKeys = 0;
    long m_readOffset = 0;
    std::string m_partialLine;
    std::size_t m_reportedOpens = 0;
    int m_reportedCloses = 0;
    std::size_t m_reportedWrites = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
