#include "virtualpresenter.h"

#include "presentercommand.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using fakehid::ReadAnswer;

namespace {
constexpr auto ReadPeriod = std::chrono::milliseconds(20);
// Longer than three poll periods of the device thread.
constexpr auto ExitWatch = std::chrono::milliseconds(200);

// A new, empty file of this user's only, never reached through a symlink: whatever was at
// `path` is removed first (a planted link goes, not its target), and O_EXCL | O_NOFOLLOW
// refuse anything that appears there meanwhile.
std::FILE *createPrivateFile(const std::string &path, const char *mode)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::FILE *file = fd >= 0 ? ::fdopen(fd, mode) : nullptr;
    if (!file) {
        std::fprintf(stderr, "vdongle: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
    }
    return file;
}

// A folder of this user's that nobody else may enter, not reached through a symlink.
bool isPrivateFolder(const std::string &path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

} // namespace

VirtualPresenter::VirtualPresenter(std::string controlPath, bool startPlugged)
    : m_controlPath(std::move(controlPath))
{
    // An empty control file: commands left from an earlier run must not replay.
    if (std::FILE *control = createPrivateFile(m_controlPath, "w"))
        std::fclose(control);
    m_log = createPrivateFile(m_controlPath + ".log", "w");

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
    if (runtimeDir && *runtimeDir == '/' && isPrivateFolder(runtimeDir)) {
        const std::string dir = std::string(runtimeDir) + "/kavri-vdongle";
        ::mkdir(dir.c_str(), 0700);
        if (isPrivateFolder(dir))
            return dir + "/control";
    }
    // No runtime directory of our own: a new folder with a name nobody could guess.
    char pattern[] = "/tmp/kavri-vdongle-XXXXXX";
    const std::string control = ::mkdtemp(pattern) ? std::string(pattern) + "/control" : "";
    std::fprintf(stderr, "vdongle: control file %s\n",
                 control.empty() ? "(none: no private folder could be made)" : control.c_str());
    return control;
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
    const int fd = ::open(m_controlPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    std::FILE *control = ::fdopen(fd, "r");
    if (!control) {
        ::close(fd);
        return;
    }
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
