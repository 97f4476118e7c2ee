"""A desktop for driving the real tamix from outside: a virtual X server with a
window manager, the program on a throw-away profile and home, X input through
xdotool, and what a user sees (window titles, screenshots) read back.

Nothing here reaches into the program: keys and clicks go through the X
server's test extension as a keyboard's and a mouse's would, so they meet the
window manager's focus rules and the toolkit's key handling exactly as a
user's do. Every wait polls its condition up to a deadline."""
import io
import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image

# Generous for a loaded two-core machine; a wait returns as soon as its condition holds.
WINDOW_TIMEOUT = 30.0
FILE_TIMEOUT = 30.0

MAIN_TITLE = "Tamix - Tamix Windows Application"
BOX_TITLE = "Tamix Windows Application"


def anchored(title):
    """A search pattern matching exactly `title` (xdotool matches regexes)."""
    return "^" + re.escape(title) + "$"


def wait_until(predicate, timeout, what, interval=0.1):
    """Polls `predicate` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def holds_for(predicate, seconds, interval=0.1):
    """True when `predicate` stays true over `seconds` (an observation window)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not predicate():
            return False
        time.sleep(interval)
    return bool(predicate())


class Desktop:
    """Xvfb on a free display with openbox on it, in a scratch folder."""

    def __init__(self, root, width=1280, height=1024):
        self.root = root
        self.procs = []
        self.env = os.environ.copy()
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        try:
            self._xvfb(width, height)
            self._session_bus()
            self._openbox()
        except BaseException:
            self.close()
            raise

    def _log(self, name):
        return open(os.path.join(self.root, name), "wb")

    def _xvfb(self, width, height):
        # -displayfd lets the server pick a free display number and say which.
        read_end, write_end = os.pipe()
        with self._log("xvfb.log") as log:
            proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{width}x{height}x24", "-nolisten", "tcp", "-noreset", "-s", "0"],
                pass_fds=(write_end,), stdout=log, stderr=log, start_new_session=True)
        os.close(write_end)
        self.procs.append(proc)
        number = b""
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                os.close(read_end)
                raise AssertionError("Xvfb did not report a display: " + self.log_tail("xvfb.log"))
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display
        self.env.pop("XAUTHORITY", None)

    def _session_bus(self):
        # A session bus of this desktop's own carries the accessibility bus,
        # through which the texts of the program's windows are read as a
        # screen reader reads them.
        proc = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.procs.append(proc)
        ready, _, _ = select.select([proc.stdout], [], [], WINDOW_TIMEOUT)
        address = proc.stdout.readline().decode().strip() if ready else ""
        if not address:
            raise AssertionError("dbus-daemon did not report a session bus address")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _openbox(self):
        # The system's default configuration, as a desktop has it, in a copy
        # of our own so that nothing of the user's is read or written.
        config = os.path.join(self.root, "openbox-rc.xml")
        shutil.copy("/etc/xdg/openbox/rc.xml", config)
        env = dict(self.env, HOME=self.root, XDG_CONFIG_HOME=os.path.join(self.root, "wm-config"))
        with self._log("openbox.log") as log:
            self.procs.append(subprocess.Popen(
                ["openbox", "--config-file", config, "--sm-disable"],
                env=env, stdout=log, stderr=log, start_new_session=True))
        wait_until(lambda: "window id" in self.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False),
            WINDOW_TIMEOUT, "openbox to manage the display")

    def log_tail(self, name, lines=30):
        try:
            with open(os.path.join(self.root, name), errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def close(self):
        for proc in reversed(self.procs):
            stop_process(proc)
            if proc.stdout is not None:
                proc.stdout.close()
        self.procs = []

    # --- X commands -------------------------------------------------------

    def run(self, *args, check=True, timeout=60):
        done = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError(f"{' '.join(args)} failed ({done.returncode}): {done.stderr}")
        return done.stdout

    def xdo(self, *args, check=True):
        return self.run("xdotool", *args, check=check)

    def windows(self, title):
        """Mapped windows whose title is exactly `title`."""
        out = self.xdo("search", "--onlyvisible", "--name", anchored(title), check=False)
        return [int(w) for w in out.split()]

    def wait_for_window(self, title, timeout=WINDOW_TIMEOUT):
        found = wait_until(lambda: self.windows(title), timeout, f"a window titled {title!r}")
        return found[-1]

    def wait_gone(self, window, timeout=WINDOW_TIMEOUT):
        wait_until(lambda: not self.viewable(window), timeout, f"window {window} to close")

    def viewable(self, window):
        out = self.run("xwininfo", "-id", str(window), check=False)
        return "IsViewable" in out

    def title(self, window):
        return self.xdo("getwindowname", str(window), check=False).rstrip("\n")

    def titles(self):
        """Titles of all mapped windows with a title."""
        out = self.xdo("search", "--onlyvisible", "--name", ".", check=False)
        return sorted(t for t in (self.title(int(w)) for w in out.split()) if t)

    def geometry(self, window):
        """Position on the screen and size of the window's client area."""
        # xwininfo translates to root coordinates; xdotool's geometry adds the
        # offset inside the window manager's frame once more.
        out = self.run("xwininfo", "-id", str(window))
        value = {k: int(re.search(k + r":\s+(-?\d+)", out).group(1))
                 for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
        return (value["Absolute upper-left X"], value["Absolute upper-left Y"], value["Width"],
                value["Height"])

    def active(self):
        out = self.xdo("getactivewindow", check=False).strip()
        return int(out) if out else None

    def activate(self, window):
        """Raises and focuses `window` through the window manager, as a click on it would."""
        self.xdo("windowactivate", "--sync", str(window), check=False)
        wait_until(lambda: self.active() == window, WINDOW_TIMEOUT,
                   f"window {window} ({self.title(window)!r}) to become active")

    def key(self, window, *keys):
        """Presses `keys` (xdotool names, e.g. "space", "ctrl+o") with `window` focused."""
        self.activate(window)
        self.xdo("key", "--clearmodifiers", "--delay", "80", *keys)

    def type(self, window, text):
        self.activate(window)
        self.xdo("type", "--clearmodifiers", "--delay", "40", text)

    def click(self, window, fx, fy, button=1):
        """Clicks at the fraction (fx, fy) of the window's client area."""
        self.activate(window)
        x, y, w, h = self.geometry(window)
        self.xdo("mousemove", "--sync", str(x + round(fx * w)), str(y + round(fy * h)))
        self.xdo("click", str(button))

    def move_pointer(self, x, y):
        self.xdo("mousemove", "--sync", str(x), str(y))

    def screenshot(self, window=None):
        """The screen (or the client area of `window`) as an RGB image."""
        png = subprocess.run(["import", "-window", "root", "png:-"], env=self.env,
                             capture_output=True, check=True, timeout=60).stdout
        image = Image.open(io.BytesIO(png)).convert("RGB")
        if window is None:
            return image
        x, y, w, h = self.geometry(window)
        return image.crop((x, y, x + w, y + h))

    def texts(self, title):
        """[role, name, text, selected] of each element of the windows titled `title`, as
        the accessibility interface gives them to a screen reader."""
        reader = os.path.join(os.path.dirname(os.path.abspath(__file__)), "screen_text.py")
        return json.loads(self.run("/usr/bin/python3", reader, title) or "[]")

    def labels(self, title):
        """The static texts (labels) shown in the windows titled `title`."""
        return [name for role, name, _, _ in self.texts(title) if role == "label"]

    def frame_extents(self, window):
        """Left, right, top and bottom of the decoration the window manager draws."""
        out = self.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS", check=False)
        numbers = re.findall(r"\d+", out.split("=", 1)[-1]) if "=" in out else []
        return tuple(int(n) for n in numbers) if len(numbers) == 4 else None


def stop_process(proc, grace=5.0):
    """Ends a process this layer started: SIGTERM, then SIGKILL after `grace` seconds."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(grace)


# The profile keys of the Measurement Options dialog: inputs 1 to 4 ticked and
# a one-minute run unless a test asks otherwise.
def profile_text(inputs=(1, 2, 3, 4), minutes=1.0, file_type=0):
    lines = ["[Options]"]
    lines += [f"chn{i}={1 if i in inputs else 0}" for i in range(1, 9)]
    lines += [f"time={minutes:g}", "time unit=0", f"filetype={file_type}", "[System setup]",
              "chn8=0", ""]
    return "\n".join(lines)


class Tamix:
    """One tamix process with a simulated KPR-T310, its own profile, home and
    working folder `data` (where a typed relative file name lands)."""

    def __init__(self, desktop, exe, root, profile=None, args=(), unit="A30008SN"):
        self.desktop = desktop
        self.root = root
        self.data = os.path.join(root, "data")
        self.profile = os.path.join(root, "profile", "tamix.INI")
        home = os.path.join(root, "home")
        runtime = os.path.join(root, "runtime")
        for d in (self.data, os.path.dirname(self.profile), home, runtime):
            os.makedirs(d, exist_ok=True)
        os.chmod(runtime, 0o700)
        with open(self.profile, "w") as f:
            f.write(profile if profile is not None else profile_text())
        env = dict(desktop.env)
        for name in ("SESSION_MANAGER", "GTK_MODULES"):
            env.pop(name, None)
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_STATE_HOME=os.path.join(home, ".local", "state"),
                   XDG_RUNTIME_DIR=runtime, LC_ALL="C.UTF-8", GDK_BACKEND="x11",
                   GSETTINGS_BACKEND="memory")
        if "DBUS_SESSION_BUS_ADDRESS" not in env:
            env["NO_AT_BRIDGE"] = "1"
        self.log_path = os.path.join(root, "tamix.log")
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(
                [exe, "--simulate", unit, "--profile", self.profile, *args], cwd=self.data,
                env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        desktop.procs.append(self.proc)

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()[-3000:]

    def main_window(self, timeout=60.0):
        return self.desktop.wait_for_window(MAIN_TITLE, timeout)

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=60.0):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"tamix still running {timeout:.0f} s later") from None

    def path(self, name):
        return os.path.join(self.data, name)


def scratch_dir():
    return tempfile.mkdtemp(prefix="tamix-real-input-")
