"""The end-to-end runs' desktop: Xvfb, an accessibility bus to read a box's
text, the programs under test, each in a process group of its own."""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import xserver  # noqa: E402

BUS_LAUNCHER = Path("/usr/libexec/at-spi-bus-launcher")


class Failure(Exception):
    pass


def read_fd_line(fd, seconds):
    """First line written to a pipe (Xvfb's and dbus-daemon's way to answer)."""
    data, end = b"", time.monotonic() + seconds
    while b"\n" not in data:
        if not select.select([fd], [], [], max(0, end - time.monotonic()))[0]:
            raise Failure("no answer on the pipe in time")
        chunk = os.read(fd, 256)
        if not chunk:
            raise Failure("pipe closed without an answer")
        data += chunk
    os.close(fd)
    return data.decode().strip()


class Desktop:
    """Xvfb, optionally an accessibility bus (to read the report's text), and
    the program; every process in a group of its own, so close() leaves
    nothing running."""

    def __init__(self, tmp):
        self.tmp, self.groups = tmp, []
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "DBUS_", "AT_SPI", "XDG_RUNTIME", "DISPLAY", "WAYLAND"))}
        runtime = tmp / "runtime"
        runtime.mkdir(mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = str(runtime)

    def spawn(self, cmd, log, fds=(), **env):
        out = open(self.tmp / log, "wb")
        p = subprocess.Popen(cmd, env={**self.env, **env}, stdout=out, stderr=subprocess.STDOUT,
                             pass_fds=fds, start_new_session=True)
        self.groups.append(p)
        return p

    def spawn_answering(self, cmd, log, **env):
        r, w = os.pipe()
        self.spawn([a.replace("{fd}", str(w)) for a in cmd], log, fds=(w,), **env)
        os.close(w)
        return read_fd_line(r, 10)

    def start_x(self):
        with open(self.tmp / "xvfb.log", "wb") as log:
            display, proc = xserver.start(log, env=self.env, start_new_session=True)
        self.groups.append(proc)
        self.env["DISPLAY"] = display

    def start_accessibility(self):
        """Qt tells its widgets' texts over AT-SPI; without these tools the
        report is judged by the files alone."""
        if not (shutil.which("dbus-daemon") and shutil.which("dbus-send") and BUS_LAUNCHER.exists()):
            return False
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.spawn_answering(
            ["dbus-daemon", "--session", "--nofork", "--print-address={fd}"], "dbus.log")
        self.spawn([str(BUS_LAUNCHER)], "at-spi.log")
        return True

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True, timeout=30)
        if check and r.returncode != 0:
            raise Failure(f"xdotool {' '.join(map(str, args))}: {r.stderr.strip()}")
        return r.stdout.split()

    def close(self):
        for p in reversed(self.groups):
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(p.pid, sig)
                except ProcessLookupError:
                    break
                # A moment for the group to go; whatever is left then is killed.
                try:
                    p.wait(3)
                    time.sleep(0.1)
                except subprocess.TimeoutExpired:
                    pass
        self.groups = []


class Accessibility:
    """Reads the report box's text from the program over the a11y bus."""

    def __init__(self, desktop, pid):
        self.d, self.pid, self.bus, self.name = desktop, pid, None, None

    def send(self, dest, path, method, *args, bus=None):
        cmd = ["dbus-send", bus or f"--bus={self.bus}", "--print-reply", f"--dest={dest}", path, method, *args]
        r = subprocess.run(cmd, env=self.d.env, capture_output=True, text=True, timeout=10)
        return r.stdout if r.returncode == 0 else ""

    def connect(self):
        reply = self.send("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress", bus="--session")
        m = re.search(r'string "(.*)"', reply)
        if not m:
            return False
        self.bus = m.group(1)
        names = re.findall(r'string "(:[^"]+)"', self.send("org.freedesktop.DBus", "/", "org.freedesktop.DBus.ListNames"))
        for n in names:
            r = self.send("org.freedesktop.DBus", "/", "org.freedesktop.DBus.GetConnectionUnixProcessID", f"string:{n}")
            if re.search(rf"uint32 {self.pid}\b", r):
                self.name = n
        return self.name is not None

    def children(self, path):
        reply = self.send(self.name, path, "org.a11y.atspi.Accessible.GetChildren")
        return re.findall(r'object path "([^"]+)"', reply)

    def text(self, path):
        reply = self.send(self.name, path, "org.freedesktop.DBus.Properties.Get",
                          "string:org.a11y.atspi.Accessible", "string:Name")
        m = re.search(r'variant\s+string "(.*)"\s*$', reply, re.S)
        return m.group(1) if m else ""

    def box_texts(self, title):
        for top in self.children("/org/a11y/atspi/accessible/root"):
            if self.text(top) == title:
                return [self.text(c) for c in self.children(top)]
        return []


def wait_for(condition, seconds, what, poll=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(poll)
    raise Failure(f"timed out waiting for {what}")


def end_by_clicking(proc, click, seconds):
    """Beenden, which comes back only once the working folder is cleared away."""
    def ended():
        if proc.poll() is None:
            click()
            time.sleep(0.5)
        return proc.poll() is not None
    wait_for(ended, seconds, "the program to end after Beenden", poll=0)
