#include "virtualpresenter.h"

#include "presentercommand.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

using fakehid::ReadAnswer;

namespace {
constexpr auto ReadPeriod = std::chrono::milliseconds(20);
// Longer than three poll periods of the device thread.
constexpr auto ExitWatch = std::chrono::milliseconds(200);
} // namespace

VirtualPresenter::VirtualPresenter(std::string controlPath, bool startPlugged)
    : m_controlPath(std::move(controlPath))
{
    // An empty control file: commands left from an earlier run must not replay.
    if (std::FILE *control = std::fopen(m_controlPath.c_str(), "w"))
        std::fclose(control);
    m_log = std::fopen((m_controlPath + ".log").c_str(), "w");

    m_dongle = new fakehid::FakeDongle(fakehid::linuxDongle(), startPlugged);
    m_dongle->setLogLimit(256);
    logLine("ready " + std::to_string(::getpid()) + (startPlugged ? " plugged" : " unplugged"));
    m_reader = std::thread([this] { readLoop(); });
}

VirtualPresenter::~VirtualPresenter()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    reportDongleActivity();

    // This runs while the process ends. A device thread that still polls now would be
    // tearing down together with the rest of the process: count its polls for a moment.
    using fakehid::Call;
    const int pollsBefore = m_dongle->calls(Call::GetFeatureReport);
    std::this_thread::sleep_for(ExitWatch);
    const int pollsDuringExit = m_dongle->calls(Call::GetFeatureReport) - pollsBefore;
    logLine("exit: handles open " + std::to_string(m_dongle->handlesOpen()) +
            ", polls during exit " + std::to_string(pollsDuringExit));
    if (m_log)
        std::fclose(m_log);
}

std::string VirtualPresenter::defaultControlPath()
{
    const char *runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtimeDir && *runtimeDir ? runtimeDir : "/tmp";
    return dir + "/kavri-vdongle-" + std::to_string(::getuid());
}

void VirtualPresenter::logLine(const std::string &text)
{
    if (!m_log)
        return;
    std::fputs(text.c_str(), m_log);
    std::fputc('\n', m_log);
    std::fflush(m_log);
}

void VirtualPresenter::answerKeys(int keys)
{
    m_dongle->queueRead(ReadAnswer::keyEvent(static_cast<unsigned char>(keys)));
}

bool VirtualPresenter::apply(const std::string &line)
{
    const PresenterCommand c = PresenterCommand::parse(line);
    using Kind = PresenterCommand::Kind;
    switch (c.kind) {
    case Kind::Invalid:
        logLine("error: " + c.error);
        return false;
    case Kind::Plug:
        m_dongle->plug();
        break;
    case Kind::Unplug:
        m_dongle->unplug();
        break;
    case Kind::Refuse:
        m_dongle->setOpenRefused(true);
        break;
    case Kind::Allow:
        m_dongle->setOpenRefused(false);
        break;
    case Kind::Tap:
        // Down for one poll, then the keys held before.
        answerKeys(m_heldKeys | c.keys);
        answerKeys(m_heldKeys);
        break;
    case Kind::Hold:
        m_heldKeys |= c.keys;
        answerKeys(m_heldKeys);
        m_dongle->setIdleRead(ReadAnswer::keyEvent(static_cast<unsigned char>(m_heldKeys)));
        break;
    case Kind::Release:
        m_heldKeys &= ~c.keys;
        answerKeys(m_heldKeys);
        m_dongle->setIdleRead(m_heldKeys
                                  ? ReadAnswer::keyEvent(static_cast<unsigned char>(m_heldKeys))
                                  : ReadAnswer::noEvent());
        break;
    case Kind::Raw:
        answerKeys(c.keys);
        break;
    case Kind::WriteResult:
        m_dongle->queueWriteResult(c.value);
        break;
    }
    logLine("applied " + line);
    return true;
}

void VirtualPresenter::readLoop()
{
    while (!m_stop) {
        readNewLines();
        reportDongleActivity();
        std::this_thread::sleep_for(ReadPeriod);
    }
}

void VirtualPresenter::readNewLines()
{
    std::FILE *control = std::fopen(m_controlPath.c_str(), "r");
    if (!control)
        return;
    std::fseek(control, 0, SEEK_END);
    const long size = std::ftell(control);
    if (size < m_readOffset) { // emptied by someone: start over
        m_readOffset = 0;
        m_partialLine.clear();
    }
    if (size > m_readOffset) {
        std::fseek(control, m_readOffset, SEEK_SET);
        std::string chunk(static_cast<std::size_t>(size - m_readOffset), '\0');
        const std::size_t got = std::fread(&chunk[0], 1, chunk.size(), control);
        chunk.resize(got);
        m_readOffset += static_cast<long>(got);
        m_partialLine += chunk;
        std::size_t newline;
        while ((newline = m_partialLine.find('\n')) != std::string::npos) {
            const std::string line = m_partialLine.substr(0, newline);
            m_partialLine.erase(0, newline + 1);
            if (line.find_first_not_of(" \t\r") != std::string::npos)
                apply(line);
        }
    }
    std::fclose(control);
}

void VirtualPresenter::reportDongleActivity()
{
    const std::vector<std::string> opened = m_dongle->openedPaths();
    for (; m_reportedOpens < opened.size(); ++m_reportedOpens)
        logLine("opened " + opened[m_reportedOpens]);
    for (const int closed = m_dongle->handlesClosed(); m_reportedCloses < closed;
         ++m_reportedCloses)
        logLine("closed");

    const std::vector<fakehid::FeatureWrite> writes = m_dongle->featureWrites();
    for (; m_reportedWrites < writes.size(); ++m_reportedWrites) {
        const fakehid::FeatureWrite &w = writes[m_reportedWrites];
        std::string hex;
        char byte[4];
        for (unsigned char b : w.bytes) {
            std::snprintf(byte, sizeof byte, "%02x", b);
            hex += hex.empty() ? "" : " ";
            hex += byte;
        }
        logLine("write " + hex + " -> " + std::to_string(w.result));
    }
}
