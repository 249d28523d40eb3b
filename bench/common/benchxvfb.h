#pragma once
// Xvfb for the benchmarks that need an X server of their own.
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace BenchXvfb {

// Starts Xvfb with one screen of `screen` ("1280x800x24") on a display number it chooses
// itself (-displayfd) and returns its pid and display name (":N"). Xvfb is ended with the
// benchmark, also when the benchmark is killed. False when it does not start.
inline bool start(const std::string &screen, pid_t *pid, std::string *display)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t parent = getpid();
    *pid = fork();
    if (*pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(126);
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    if (*pid > 0) {
        pollfd in{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&in, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        if (*pid > 0) {
            kill(*pid, SIGKILL);
            waitpid(*pid, nullptr, 0);
        }
        *pid = 0;
        return false;
    }
    *display = ":" + number;
    return true;
}

} // namespace BenchXvfb
