#!/usr/bin/python3
"""The settings window as a screen reader finds it on the accessibility bus.

Starts the real program on a private Xvfb with a private D-Bus session (which starts the
accessibility bus on demand) and the virtual presenter preloaded, so the settings page shows.
Walks the window's accessible tree with pyatspi and prints, for every control, its role and
the name a screen reader says. Every control must be there, named, and no two alike.

Two starts: one without a settings file on a French system (the window speaks French), one
with English stored on the same system (the stored language wins).

    accessibility.py <kavri> <libkavri_vdongle.so>

Exit status 77 (skipped) when Xvfb, dbus-daemon or pyatspi is missing.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
CONTROL_ROLES = {"push button", "radio button", "slider", "spin button", "combo box",
                 "check box", "toggle button", "text", "menu button"}
# The settings page: 4 modes, the effect key's lock, 2 colour buttons, 4 sliders, the sleep
# time, its button, the language and the close button of the title bar.
EXPECTED_COUNTS = {"radio button": 4, "check box": 1, "push button": 4, "slider": 4,
                   "spin button": 1, "combo box": 1}


def read_line_from(fd, timeout):
    end = time.monotonic() + timeout
    data = b""
    os.set_blocking(fd, False)
    while time.monotonic() < end and not data.endswith(b"\n"):
        try:
            chunk = os.read(fd, 256)
            if not chunk:
                break
            data += chunk
        except BlockingIOError:
            time.sleep(0.02)
    return data.decode().strip()


class Session:
    """Xvfb and a D-Bus session of the test's own; every process it starts carries a marker
    in its environment, so that whatever they start in turn is found and ended too."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="kavri-a11y-")
        self.marker = "KAVRI_A11Y_TEST=" + self.root
        self.procs = []
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "AT_SPI_BUS_ADDRESS", "DISPLAY", "LD_PRELOAD")}
        self.env["KAVRI_A11Y_TEST"] = self.root
        runtime = os.path.join(self.root, "runtime")
        os.mkdir(runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["TMPDIR"] = os.path.join(self.root, "tmp")
        os.mkdir(self.env["TMPDIR"])

    def start(self, args, **kw):
        # Sent SIGTERM when this script ends, however it ends (CTest's timeout kills it).
        args = ["setpriv", "--pdeathsig", "TERM", "--"] + list(args)
        proc = subprocess.Popen(args, env=kw.pop("env", self.env), start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def up(self):
        r, w = os.pipe()
        self.start(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten",
                    "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        display = read_line_from(r, 20)
        os.close(r)
        if not display:
            raise RuntimeError("Xvfb gave no display")
        self.env["DISPLAY"] = ":" + display
        r, w = os.pipe()
        self.start(["dbus-daemon", "--session", "--nofork", "--print-address=%d" % w],
                   pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        address = read_line_from(r, 20)
        os.close(r)
        if not address:
            raise RuntimeError("dbus-daemon gave no address")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def stray_pids(self):
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if self.marker.encode() in f.read().split(b"\0"):
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    def down(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        # What the session bus started on demand (the accessibility bus and its registry).
        for _ in range(50):
            pids = self.stray_pids()
            if not pids:
                break
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGTERM if _ < 25 else signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)
        shutil.rmtree(self.root, ignore_errors=True)


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def find_app(pyatspi, pid, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        time.sleep(0.2)
    return None


def controls_of(pyatspi, app):
    found = []
    for node, _ in walk(app):
        role = node.getRoleName()
        if role not in CONTROL_ROLES:
            continue
        states = node.getState()
        if not states.contains(pyatspi.STATE_SHOWING):
            continue
        enabled = states.contains(pyatspi.STATE_ENABLED)
        focusable = states.contains(pyatspi.STATE_FOCUSABLE)
        found.append((role, node.name, enabled, focusable))
    return found


def problems_of(found, close_name):
    """What a screen reader would miss in this snapshot of the tree; empty when nothing."""
    problems = []
    counts = {}
    for role, name, _, focusable in found:
        counts[role] = counts.get(role, 0) + 1
        if not name.strip():
            problems.append("a %s without a name" % role)
        if not focusable:
            problems.append("the %s \"%s\" takes no focus" % (role, name))
    if counts != EXPECTED_COUNTS:
        problems.append("controls %s, expected %s" % (counts, EXPECTED_COUNTS))
    names = [name for _, name, *_ in found]
    if len(set(names)) != len(names):
        problems.append("two controls share a name: %s" % names)
    if close_name not in names:
        problems.append("no close button named \"%s\"" % close_name)
    return problems


def run(session, kavri, vdongle, title, ini, language, close_name, failures):
    import pyatspi

    work = tempfile.mkdtemp(dir=session.root)
    if ini is not None:
        with open(os.path.join(work, "Kavri.ini"), "w") as f:
            f.write(ini)
    # LD_PRELOAD splits at spaces and colons, which the checkout's path may hold.
    preload = os.path.join(work, "vdongle.so")
    os.symlink(vdongle, preload)
    env = dict(session.env)
    env.update({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_QPA_PLATFORM": "xcb",
                "LD_PRELOAD": preload, "KAVRI_VDONGLE": os.path.join(work, "vdongle"),
                "XDG_CONFIG_HOME": os.path.join(work, "config"), "LANGUAGE": language,
                "QT_ACCESSIBILITY": "1", "NO_AT_BRIDGE": "0"})
    log = open(os.path.join(work, "kavri.log"), "wb")
    proc = session.start([kavri], cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT)
    app = find_app(pyatspi, proc.pid, 30)
    if app is None:
        failures.append("%s: Kavri did not show up on the accessibility bus" % title)
        return
    # The window is built before it is shown and the dongle is found about a second after
    # the start: wait until the tree is complete, and report the last snapshot otherwise.
    found, problems = [], ["nothing found"]
    end = time.monotonic() + 30
    while problems and time.monotonic() < end:
        found = controls_of(pyatspi, app)
        problems = problems_of(found, close_name)
        if problems:
            time.sleep(0.3)
    print("\n%s (LANGUAGE=%s%s):" % (title, language,
                                     ", stored: " + ini.strip().replace("\n", " ")
                                     if ini else ", no settings file"))
    print("  %-13s | %-9s | %s" % ("role", "state", "name a screen reader says"))
    for role, name, enabled, focusable in found:
        state = ("enabled" if enabled else "disabled") + ("" if focusable else ", no focus")
        print("  %-13s | %-9s | \"%s\"" % (role, state, name))
    failures.extend("%s: %s" % (title, problem) for problem in problems)
    if problems:
        log.flush()
        with open(os.path.join(work, "kavri.log"), errors="replace") as f:
            print("Kavri's output:\n" + f.read())
    proc.terminate()
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        failures.append("%s: Kavri did not end on SIGTERM" % title)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    kavri, vdongle = (os.path.abspath(a) for a in sys.argv[1:])
    for tool in ("Xvfb", "dbus-daemon"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed" % tool)
            return SKIP
    try:
        import pyatspi  # noqa: F401  (imported for real once the session is up)
    except ImportError:
        print("SKIP: pyatspi is not installed (python3-pyatspi)")
        return SKIP
    session = Session()
    failures = []
    try:
        session.up()
        # pyatspi finds the accessibility bus through this session.
        os.environ["DISPLAY"] = session.env["DISPLAY"]
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = session.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["KAVRI_A11Y_TEST"] = session.root
        run(session, kavri, vdongle, "First start on a French system", None, "fr_FR:fr",
            "Fermer", failures)
        run(session, kavri, vdongle, "English stored, French system", "[General]\nlanguage=1\n",
            "fr_FR:fr", "Close", failures)
    finally:
        session.down()
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
