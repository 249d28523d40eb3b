// How closely the spotlight of the real kavri follows the pointer on an X server with a
// compositing manager, and what kavri spends while the pointer stands still.
//
// Run: ./dev bench (all benchmarks, Qt 5 and Qt 6 builds), or alone after ./dev build:
//   build/bench/overlay/bench_follow [moves]        (default 40 moves)
// Needs Xvfb and picom. It starts, all of its own: Xvfb on a display number the server picks
// (-displayfd), picom on it (xrender backend, no configuration file), a plain white window as
// the desktop, and kavri with the virtual presenter preloaded in front of hidapi, in a fresh
// working directory (with a Kavri.ini that selects the spotlight) that is also its TMPDIR,
// XDG_CONFIG_HOME and XDG_RUNTIME_DIR. Every child gets SIGTERM should the benchmark die; the
// folder is removed at the end.
//
// Prints:
//   follow delay: the spotlight is held (the effect key down, through the virtual presenter's
//     control file); the pointer is moved by XTest `moves` times, 100 to 116 ms apart, between
//     places at least 300 pixels apart; each delay runs from the move until the screen (XGetImage
//     of the root, one pixel at a time) shows the spotlight's hole at the new place and the old
//     place darkened. Median and maximum in ms.
//   press to pixels: the show-while-held shortcut (F8, grabbed by kavri) pressed through XTest
//     20 times with the pointer still; each time runs from the press until the screen shows
//     the spotlight (hole at the pointer, far place darkened), then the key is let go and the
//     screen cleared. Median and maximum in ms.
//   CPU: kavri's processor time per second over 5 s, with the spotlight held and the pointer
//     still, and with nothing shown: of its main thread (the overlay draws and follows the
//     pointer there) and of all its threads but the virtual presenter's, from the threads'
//     /proc/<pid>/task/*/schedstat (ns); and of the whole process from utime + stime of
//     /proc/<pid>/stat (10 ms steps), which includes the virtual presenter's reader thread
//     (it reads its control file every 20 ms; unnamed, it bears the program's name).
//   the machine's load average when it ran: other work on the cores shows in the figures.
// It prints figures and asserts nothing about them.
#include "common/benchxvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int ScreenWidth = 1920;
constexpr int ScreenHeight = 1080;
constexpr unsigned long DesktopPixel = 0xffffff; // white
constexpr int MoveSpacingMs = 100;
// 100 ms is six frames of a 60 Hz display: each move is put off by a further 0 to 16 ms, so the
// moves meet every phase of a frame, not the same one again and again.
constexpr int FrameMs = 17;
constexpr int MoveTimeoutMs = 2000;
constexpr int CpuSeconds = 5;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A child process tied to the benchmark: SIGTERM when the benchmark ends, however it ends.
// `setup` runs in the child before exec (environment, working directory, output).
template <typename Setup> pid_t spawn(const std::vector<std::string> &argv, Setup setup)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(126);
    setup();
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void silence(int fd)
{
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, fd);
    close(devnull);
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, &status, WNOHANG) != 0)
            return;
        sleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

std::string fileText(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const auto start = Clock::now();
    while (!done()) {
        if (msSince(start) > timeoutMs)
            return false;
        sleepMs(20);
    }
    return true;
}

// Processor time of a process in ms: utime + stime from /proc/<pid>/stat, and from the
// threads' schedstat its main thread's and that of all its threads but the virtual
// presenter's reader (the one unnamed thread besides the main thread).
struct CpuTime
{
    double statMs = 0;
    double mainMs = 0;
    double programMs = 0;
};

std::string firstLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

CpuTime cpuTime(pid_t pid)
{
    CpuTime t;
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string stat = fileText(proc + "/stat");
    // The fields after the command name, which is in parentheses and may hold spaces.
    const std::size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream in(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0;
        unsigned long long stime = 0;
        // Field 3 (state) is the first here; utime and stime are fields 14 and 15.
        for (int i = 3; i <= 15 && in >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        t.statMs =
            1000.0 * static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    const std::string name = firstLine(proc + "/comm");
    std::error_code error;
    for (const auto &task : fs::directory_iterator(proc + "/task", error)) {
        std::istringstream in(fileText(task.path().string() + "/schedstat"));
        unsigned long long ns = 0;
        if (!(in >> ns))
            continue;
        const double ms = static_cast<double>(ns) / 1e6;
        const bool main = task.path().filename() == std::to_string(pid);
        if (main)
            t.mainMs = ms;
        if (main || firstLine(task.path().string() + "/comm") != name)
            t.programMs += ms;
    }
    return t;
}

CpuTime cpuPerSecond(pid_t pid, int seconds)
{
    const CpuTime before = cpuTime(pid);
    const auto start = Clock::now();
    sleepMs(seconds * 1000);
    const CpuTime after = cpuTime(pid);
    const double s = msSince(start) / 1000.0;
    return {(after.statMs - before.statMs) / s, (after.mainMs - before.mainMs) / s,
            (after.programMs - before.programMs) / s};
}

void printCpu(const char *what, const CpuTime &t)
{
    std::printf("  %-31s %11.2f %14.2f (%4.2f %% of a core) %13.1f\n", what, t.mainMs, t.programMs,
                t.programMs / 10.0, t.statMs);
}

int brightness(Display *dpy, int x, int y)
{
    XImage *image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return -1;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return static_cast<int>(((pixel >> 16) & 0xff) + ((pixel >> 8) & 0xff) + (pixel & 0xff)) / 3;
}

// The spotlight's hole at `at` (the desktop's white) and its darkening at `away`.
bool spotlightAt(Display *dpy, int atX, int atY, int awayX, int awayY)
{
    return brightness(dpy, atX, atY) > 230 && brightness(dpy, awayX, awayY) < 160;
}

void movePointer(Display *dpy, int x, int y)
{
    XTestFakeMotionEvent(dpy, 0, x, y, CurrentTime);
    XSync(dpy, False);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

// The children and the folder, ended and removed however the run goes.
struct Run
{
    pid_t xvfb = 0;
    pid_t picom = 0;
    pid_t kavri = 0;
    Display *dpy = nullptr;
    std::string dir;

    ~Run()
    {
        stop(kavri);
        if (dpy)
            XCloseDisplay(dpy);
        stop(picom);
        stop(xvfb);
        std::error_code error;
        if (!dir.empty())
            fs::remove_all(dir, error);
    }
};

bool startKavri(Run &run, const std::string &display)
{
    const std::string control = run.dir + "/vdongle";
    std::ofstream(run.dir + "/Kavri.ini") << "[General]\nlanguage=0\nm_curMode=1\nm_spotSize=50\n"
                                             "\n[Shortcuts]\nshowWhileHeld=F8\n";
    fs::create_directories(run.dir + "/config");
    // LD_PRELOAD splits at spaces and colons: the library goes through a link in the folder.
    std::string library = KAVRI_VDONGLE_LIBRARY;
    if (library.find_first_of(" :") != std::string::npos) {
        fs::create_symlink(library, run.dir + "/vdongle.so");
        library = run.dir + "/vdongle.so";
    }
    run.kavri = spawn({KAVRI_PROGRAM}, [&] {
        if (chdir(run.dir.c_str()) != 0)
            _exit(126);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        unsetenv("WAYLAND_DISPLAY");
        setenv("TMPDIR", run.dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", run.dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (run.dir + "/config").c_str(), 1);
        setenv("LD_PRELOAD", library.c_str(), 1);
        setenv("KAVRI_VDONGLE", control.c_str(), 1);
        silence(1);
        silence(2);
    });
    return waitFor([&] { return fileText(control + ".log").find("opened ") != std::string::npos; },
                   20000);
}

void press(const Run &run, const char *command)
{
    std::ofstream(run.dir + "/vdongle", std::ios::app) << command << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    const int moves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    if (std::system("command -v Xvfb >/dev/null && command -v picom >/dev/null") != 0) {
        std::printf("bench_follow: skipped, Xvfb or picom is not installed\n");
        return 0;
    }

    Run run;
    char dirTemplate[] = "/tmp/kavri-bench-follow-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::fprintf(stderr, "bench_follow: no temporary folder\n");
        return 1;
    }
    run.dir = dirTemplate;
    std::string display;
    if (!BenchXvfb::start(std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "x24",
                          &run.xvfb, &display)) {
        std::fprintf(stderr, "bench_follow: could not start Xvfb\n");
        return 1;
    }
    run.dpy = XOpenDisplay(display.c_str());
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!run.dpy || !XTestQueryExtension(run.dpy, &eventBase, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "bench_follow: no X connection with XTest to %s\n", display.c_str());
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    Display *dpy = run.dpy;

    // The desktop: one white window over the whole screen, beneath everything else.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = DesktopPixel;
    const Window desktop = XCreateWindow(
        dpy, DefaultRootWindow(dpy), 0, 0, ScreenWidth, ScreenHeight, 0, CopyFromParent,
        InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapWindow(dpy, desktop);
    XSync(dpy, False);

    run.picom = spawn({"picom", "--config", "/dev/null", "--backend", "xrender"}, [&] {
        setenv("DISPLAY", display.c_str(), 1);
        silence(1);
        silence(2);
    });
    const Atom cmSelection = XInternAtom(dpy, "_NET_WM_CM_S0", False);
    if (!waitFor([&] { return XGetSelectionOwner(dpy, cmSelection) != 0; }, 10000)) {
        std::fprintf(stderr, "bench_follow: picom did not start\n");
        return 1;
    }

    if (!startKavri(run, display)) {
        std::fprintf(stderr, "bench_follow: kavri did not open the virtual presenter\n");
        return 1;
    }
    // The settings window sits in the middle of the screen: the pointer stays left of it.
    const std::vector<std::pair<int, int>> places{{120, 150},  {420, 450}, {120, 750},
                                                  {420, 1000}, {120, 450}, {420, 150}};
    movePointer(dpy, places[0].first, places[0].second);
    sleepMs(2000); // let it settle after start

    const CpuTime idle = cpuPerSecond(run.kavri, CpuSeconds);

    press(run, "hold effect");
    const int farX = places[3].first, farY = places[3].second;
    if (!waitFor([&] { return spotlightAt(dpy, places[0].first, places[0].second, farX, farY); },
                 5000)) {
        std::fprintf(stderr, "bench_follow: the spotlight did not come up\n");
        return 1;
    }
    sleepMs(500);
    const CpuTime still = cpuPerSecond(run.kavri, CpuSeconds);

    std::vector<double> delays;
    int missed = 0;
    for (int i = 1; i <= moves; ++i) {
        const auto &from = places[static_cast<std::size_t>(i - 1) % places.size()];
        const auto &to = places[static_cast<std::size_t>(i) % places.size()];
        const auto start = Clock::now();
        movePointer(dpy, to.first, to.second);
        bool seen = false;
        while (msSince(start) < MoveTimeoutMs) {
            if (spotlightAt(dpy, to.first, to.second, from.first, from.second)) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        if (seen)
            delays.push_back(msSince(start));
        else
            ++missed;
        const double left = MoveSpacingMs + (i * 7) % FrameMs - msSince(start);
        if (left > 0)
            sleepMs(static_cast<int>(left));
    }
    press(run, "release");

    // The keyboard shortcut, pointer still.
    movePointer(dpy, places[0].first, places[0].second);
    const auto cleared = [&] { return brightness(dpy, farX, farY) > 200; };
    waitFor(cleared, 5000);
    const KeyCode f8 = XKeysymToKeycode(dpy, XK_F8);
    constexpr int Presses = 20;
    std::vector<double> pressDelays;
    int pressesMissed = 0;
    for (int i = 0; i < Presses; ++i) {
        sleepMs(150 + (i * 7) % FrameMs);
        XTestFakeKeyEvent(dpy, f8, True, CurrentTime);
        XFlush(dpy);
        const auto start = Clock::now();
        bool seen = false;
        while (msSince(start) < MoveTimeoutMs) {
            if (spotlightAt(dpy, places[0].first, places[0].second, farX, farY)) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        if (seen)
            pressDelays.push_back(msSince(start));
        else
            ++pressesMissed;
        XTestFakeKeyEvent(dpy, f8, False, CurrentTime);
        XFlush(dpy);
        waitFor(cleared, MoveTimeoutMs);
    }

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("bench_follow (Qt %d build): kavri on Xvfb %s %dx%d with picom, spotlight held\n",
                KAVRI_QT_MAJOR, display.c_str(), ScreenWidth, ScreenHeight);
    if (!delays.empty())
        std::printf(
            "  follow delay over %d XTest moves %d to %d ms apart: median %.1f ms, max %.1f ms"
            "%s\n",
            moves, MoveSpacingMs, MoveSpacingMs + FrameMs - 1, median(delays),
            *std::max_element(delays.begin(), delays.end()),
            missed ? " (some moves were never followed, see below)" : "");
    if (missed)
        std::printf("  moves not followed within %d ms: %d of %d\n", MoveTimeoutMs, missed, moves);
    if (!pressDelays.empty())
        std::printf("  press to pixels over %d presses of the grabbed F8 (XTest): median %.1f ms, "
                    "max %.1f ms\n",
                    Presses, median(pressDelays),
                    *std::max_element(pressDelays.begin(), pressDelays.end()));
    if (pressesMissed)
        std::printf("  presses not shown within %d ms: %d of %d\n", MoveTimeoutMs, pressesMissed,
                    Presses);
    std::printf("  %-31s %11s %33s %13s\n", "CPU of kavri in ms/s", "main thread",
                "all threads but the", "whole process");
    std::printf("  %-31s %11s %33s %13s\n", "", "", "virtual presenter's", "(/proc stat)");
    printCpu("spotlight held, pointer still", still);
    printCpu("nothing shown", idle);
    std::printf("  load average during the run: %.2f %.2f %.2f (%ld cores)\n", load[0], load[1],
                load[2], sysconf(_SC_NPROCESSORS_ONLN));
    return 0;
}
