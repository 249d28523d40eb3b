// Start-up time and memory of Kavri beside a bare program, built with the same Qt, that shows
// one empty dialog, measured the same way in the same run, on a private Xvfb:
//   start-up: from the fork of the process until the X server has mapped all its top-level
//             windows (Kavri: the settings window and the overlay; the bare program: its dialog)
//   memory:   resident set (VmRSS) once the program has settled: at least 1.5 s after start
//             and, for Kavri, after the virtual dongle has been opened (it is connected).
// Prints the median of several alternating runs and the ratios. The goal is set against the
// plain bare program; a third row, the bare program with raster-only widget surfaces (which
// Kavri asks for, so Qt loads no GL stack), shows what Kavri costs beyond that choice.
#include "common/benchxvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample
{
    double startMs = -1;
    double rssMb = -1;
};

std::string makeTempDir(const char *tag)
{
    std::string pattern = std::string("/tmp/kavri-bench-") + tag + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return "/tmp";
    return buf.data();
}

long windowPid(Display *dpy, Window w)
{
    static const Atom netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(dpy, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                           &after, &data) == Success &&
        data && items == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

double rssMb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream in(line.substr(6));
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
    }
    return -1;
}

bool fileContains(const std::string &path, const std::string &text)
{
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str().find(text) != std::string::npos;
}

int errorHandler(Display *, XErrorEvent *)
{
    return 0;
} // windows may vanish under us

// Runs one program and measures it. `windows`: how many top-level windows it maps.
Sample measure(Display *dpy, const std::string &display, const std::string &program,
               const char *argument, const std::string &preload, int windows)
{
    const std::string workDir = makeTempDir("cwd");
    const std::string control = workDir + "/vdongle";
    XSync(dpy, True); // drop events of earlier runs

    const auto started = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("TMPDIR", workDir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", workDir.c_str(), 1); // its own single-instance lock
        setenv("XDG_CONFIG_HOME", (workDir + "/config").c_str(), 1);
        if (!preload.empty()) {
            // LD_PRELOAD splits at spaces and colons: a checkout's path may hold one.
            std::string library = preload;
            if (library.find_first_of(" :") != std::string::npos &&
                symlink(preload.c_str(), (workDir + "/vdongle.so").c_str()) == 0)
                library = workDir + "/vdongle.so";
            setenv("LD_PRELOAD", library.c_str(), 1);
            setenv("KAVRI_VDONGLE", control.c_str(), 1);
        }
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(program.c_str(), program.c_str(), argument, static_cast<char *>(nullptr));
        _exit(127);
    }

    Sample s;
    std::set<Window> mapped;
    const auto deadline = started + std::chrono::seconds(20);
    while (static_cast<int>(mapped.size()) < windows && Clock::now() < deadline) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == MapNotify && windowPid(dpy, ev.xmap.window) == pid)
                mapped.insert(ev.xmap.window);
        }
        if (static_cast<int>(mapped.size()) >= windows)
            break;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(dpy), &fds);
        timeval tv{0, 2000};
        select(ConnectionNumber(dpy) + 1, &fds, nullptr, nullptr, &tv);
    }
    if (static_cast<int>(mapped.size()) >= windows)
        s.startMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();

    // Settle: 1.5 s after start at least, and the virtual dongle opened.
    const auto settleUntil = started + std::chrono::milliseconds(1500);
    while (Clock::now() < deadline &&
           (Clock::now() < settleUntil ||
            (!preload.empty() && !fileContains(control + ".log", "opened "))))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    s.rssMb = rssMb(pid);

    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::string cleanup = "rm -rf '" + workDir + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", workDir.c_str());
    return s;
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; }), v.end());
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 5;
    if (argc > 1)
        runs = std::max(1, std::atoi(argv[1]));

    pid_t xvfb = 0;
    std::string display;
    if (!BenchXvfb::start("1280x800x24", &xvfb, &display)) {
        std::fprintf(stderr, "bench_startup: could not start Xvfb\n");
        return 1;
    }
    Display *dpy = nullptr;
    for (int i = 0; i < 100 && !dpy; ++i) {
        dpy = XOpenDisplay(display.c_str());
        if (!dpy)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!dpy) {
        std::fprintf(stderr, "bench_startup: no connection to %s\n", display.c_str());
        kill(xvfb, SIGTERM);
        return 1;
    }
    XSetErrorHandler(errorHandler);
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);

    // One unmeasured run of each warms the disk cache and the font cache.
    const char *const none = nullptr;
    const char *const rasterOnly = "--raster-only";
    measure(dpy, display, KAVRI_PROGRAM, none, KAVRI_VDONGLE_LIBRARY, 2);
    measure(dpy, display, BARE_PROGRAM, none, "", 1);
    measure(dpy, display, BARE_PROGRAM, rasterOnly, "", 1);

    std::vector<double> kavriStart, kavriRss, bareStart, bareRss, rasterStart, rasterRss;
    for (int i = 0; i < runs; ++i) {
        const Sample k = measure(dpy, display, KAVRI_PROGRAM, none, KAVRI_VDONGLE_LIBRARY, 2);
        const Sample b = measure(dpy, display, BARE_PROGRAM, none, "", 1);
        const Sample r = measure(dpy, display, BARE_PROGRAM, rasterOnly, "", 1);
        kavriStart.push_back(k.startMs);
        kavriRss.push_back(k.rssMb);
        bareStart.push_back(b.startMs);
        bareRss.push_back(b.rssMb);
        rasterStart.push_back(r.startMs);
        rasterRss.push_back(r.rssMb);
    }
    XCloseDisplay(dpy);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);

    const double ks = median(kavriStart), kr = median(kavriRss);
    const double bs = median(bareStart), br = median(bareRss);
    const double rs = median(rasterStart), rr = median(rasterRss);
    std::printf("Qt %d build: start-up (process start to all windows mapped), median of %d runs, "
                "Xvfb %s\n",
                KAVRI_QT_MAJOR, runs, display.c_str());
    std::printf("  kavri (settings window + overlay, virtual dongle)  %8.1f ms   RSS %7.1f MB\n",
                ks, kr);
    std::printf("  bare Qt %d program (one empty dialog)               %8.1f ms   RSS %7.1f MB\n",
                KAVRI_QT_MAJOR, bs, br);
    std::printf("  bare, raster-only widget surfaces (like kavri)     %8.1f ms   RSS %7.1f MB\n",
                rs, rr);
    if (ks > 0 && bs > 0 && kr > 0 && br > 0)
        std::printf("  ratio kavri / bare: start-up %.2fx (goal <= 1.20x), memory %.2fx (goal <= "
                    "1.10x)\n",
                    ks / bs, kr / br);
    if (ks > 0 && rs > 0 && kr > 0 && rr > 0)
        std::printf("  ratio kavri / bare raster-only: start-up %.2fx, memory %.2fx\n", ks / rs,
                    kr / rr);
    if (ks <= 0 || bs <= 0 || kr <= 0 || br <= 0)
        std::printf("  a program did not show its windows in time: no ratio\n");
    return 0;
}
