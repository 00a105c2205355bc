#!/usr/bin/env python3
"""Migrates a generated sample disc in the real window, under its own Xvfb,
clicking as a user would, and compares what the run leaves behind with the
disc's manifest. Exit status 0 when everything matches."""
import argparse
import collections
import hashlib
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import xserver  # noqa: E402

GENERATOR = Path(__file__).resolve().parents[2] / "tools" / "make_sample_disc.py"
BUS_LAUNCHER = Path("/usr/libexec/at-spi-bus-launcher")
MIGRIEREN, BEENDEN = (25, 26), (76, 26)


class Failure(Exception):
    pass


def sha(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


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


def write_settings(program, settings, encoding="utf-8"):
    sections = collections.defaultdict(str)
    for (section, key), value in settings.items():
        sections[section] += f"{key}={value}\r\n"
    text = "".join(f"[{section}]\r\n{keys}" for section, keys in sections.items())
    (program / "Settings.ini").write_bytes(text.encode(encoding))


def start_second_instance(desktop, program, extra):
    """A second start from the same folder while the first is busy: it must end
    at once, show no window and leave Settings.ini as it was."""
    before = (program / "Settings.ini").read_bytes()
    second = desktop.spawn([str(program / "jor-orvek")], "second.log", **extra)
    try:
        second.wait(5)
    except subprocess.TimeoutExpired:
        raise Failure("the second instance did not end within 5 s")
    if second.returncode != 0:
        raise Failure(f"the second instance ended with status {second.returncode}")
    windows = desktop.xdo("search", "--name", "^Jor - Orvek$", check=False)
    if len(windows) != 1:
        raise Failure(f"{len(windows)} main windows while the second instance ran")
    if (program / "Settings.ini").read_bytes() != before:
        raise Failure("the second instance changed Settings.ini")


def run_window(desktop, program, deadline, second_instance=False):
    """Migrieren, the report, Beenden; returns the report's text or None."""
    desktop.start_x()
    a11y_on = desktop.start_accessibility()
    extra = {"QT_QPA_PLATFORM": "xcb"}
    if a11y_on:
        extra["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    proc = desktop.spawn([str(program / "jor-orvek")], "program.log", **extra)
    def visible(title):
        return desktop.xdo("search", "--onlyvisible", "--name", title, check=False)
    main = wait_for(lambda: visible("^Jor - Orvek$") or proc.poll() is not None, 20, "the main window")
    if proc.poll() is not None:
        raise Failure(f"program ended at start with status {proc.returncode}")
    main = main[0]
    time.sleep(0.3)  # mapped is not yet painted and taking input
    desktop.xdo("mousemove", "--window", main, *MIGRIEREN, "click", "1")
    if second_instance:
        start_second_instance(desktop, program, extra)
        if visible("^Migration abgeschlossen$"):
            print("note: the run had ended before the second instance was checked")

    def report_or_stop():
        if proc.poll() is not None:
            raise Failure(f"program ended during the run with status {proc.returncode}")
        if visible("^Jor-Orvek$"):
            raise Failure("a stop box came up instead of the report")
        return visible("^Migration abgeschlossen$")
    box = wait_for(report_or_stop, deadline, "the report box", poll=0.25)[0]

    text = None
    if a11y_on:
        a11y = Accessibility(desktop, proc.pid)
        if a11y.connect():
            texts = a11y.box_texts("Migration abgeschlossen")
            text = next((t for t in texts if "Dateien" in t), " | ".join(texts))

    # The box closes on the key press, so the key release may find no window.
    desktop.xdo("windowfocus", box, check=False)
    desktop.xdo("key", "--window", box, "Return", check=False)
    try:
        wait_for(lambda: not visible("^Migration abgeschlossen$"), 3, "the report box to close")
    except Failure:
        size = dict(line.split("=") for line in desktop.xdo("getwindowgeometry", "--shell", box))
        desktop.xdo("mousemove", "--window", box, int(size["WIDTH"]) - 47, int(size["HEIGHT"]) - 24, "click", "1")
        wait_for(lambda: not visible("^Migration abgeschlossen$"), 3, "the report box to close after OK")

    # "Beenden" comes back only once the working folder is cleared away.
    def ended():
        if proc.poll() is None:
            desktop.xdo("mousemove", "--window", main, *BEENDEN, "click", "1", check=False)
            time.sleep(0.5)
        return proc.poll() is not None
    wait_for(ended, 20, "the program to end after Beenden", poll=0)
    if proc.returncode != 0:
        raise Failure(f"program ended with status {proc.returncode}")
    return text


def stored_settings(program, c, encoding="utf-8"):
    """Settings.ini's values by (section, key)."""
    section, values = None, {}
    for line in crlf_lines(program / "Settings.ini", c, encoding):
        if line.startswith("["):
            section = line.strip("[]")
        elif "=" in line:
            values[(section, line.split("=", 1)[0])] = line.split("=", 1)[1]
    return values


def check_cut_short_run(manifest, program, dest, temp, settings, c, encoding="utf-8"):
    """What a run closed or ended part-way leaves: some whole images and no
    half one, the stop as the log's one last line, no working folder, the
    settings stored. Returns how many images it wrote."""
    outputs = [p for p in dest.iterdir() if p.is_file()]
    expected = {e["sha256"] for e in manifest["destination"]}
    c.check(0 < len(outputs) < manifest["migrated"], f"{len(outputs)} outputs of {manifest['migrated']}")
    for p in outputs:
        c.check(sha(p) in expected, f"{p.name} is not a whole image")
    for folder in (dest, dest / "BadObjects"):
        if folder.is_dir():
            c.check(not list(folder.glob("jor-*.part")), f"a temporary file was left in {folder}")
    lines = [l.split(" - ", 1)[-1] for l in crlf_lines(program / "Logs" / "Error.txt", c, encoding)]
    stops = [l for l in lines if l.startswith("18 - User interrupt occurred - ScanFolder")]
    c.check(len(stops) == 1 and lines[-1] == stops[0], f"the stop is not the log's one last line: {lines[-3:]}")
    c.check(not (temp / "TempOrvek").exists(), "the working folder TempOrvek was not removed")
    c.check(stored_settings(program, c, encoding) == settings, "Settings.ini does not hold the window's values")
    return len(outputs)


def session_end_during_run(desktop, program, manifest, dest, temp, settings, c):
    """The desktop session ends while the run copies (the session's SIGTERM):
    the run ends at once, with one "18" line, no report, nothing half
    written, no working folder, and the settings stored."""
    desktop.start_x()
    proc = desktop.spawn([str(program / "jor-orvek")], "program.log", QT_QPA_PLATFORM="xcb")
    main = wait_for(lambda: desktop.xdo("search", "--onlyvisible", "--name", "^Jor - Orvek$", check=False)
                    or proc.poll() is not None, 20, "the main window")
    if proc.poll() is not None:
        raise Failure(f"program ended at start with status {proc.returncode}")
    time.sleep(0.3)
    (program / "Settings.ini").unlink()
    desktop.xdo("mousemove", "--window", main[0], *MIGRIEREN, "click", "1")
    wait_for(lambda: len([p for p in dest.iterdir() if p.is_file()]) >= 5, 60, "the first outputs")
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        raise Failure("still running 10 s after the session's end")
    c.check(proc.returncode == 0, f"ended with status {proc.returncode}")
    return check_cut_short_run(manifest, program, dest, temp, settings, c)


SKIPPED = 77  # ctest's SKIP_RETURN_CODE for this script


def journal_rows(program, c, encoding="utf-8"):
    """Logs/Journal.csv's rows after its header, as fields."""
    import csv
    lines = crlf_lines(program / "Logs" / "Journal.csv", c, encoding)
    c.check(bool(lines) and lines[0].startswith("Beginn;Ende;"), f"journal header: {lines[:1]}")
    return [row for row in csv.reader(lines[1:], delimiter=";")]


class DiscImage:
    """A sample disc as a disc image in a loop device, mounted read-only at one
    place, as a drive holds one disc after another (needs root)."""

    def __init__(self, tmp):
        self.mount_point = tmp / "Laufwerk"
        self.mount_point.mkdir()
        self.mounted = False

    def insert(self, disc, image, label, uuid):
        subprocess.run(["mke2fs", "-q", "-t", "ext2", "-d", str(disc), "-L", label, "-U", uuid, str(image), "16M"],
                       check=True, capture_output=True)
        r = subprocess.run(["mount", "-o", "loop,ro", str(image), str(self.mount_point)], capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("cannot mount a disc image here: " + r.stderr.strip())
        self.mounted = True

    def eject(self):
        if self.mounted:
            subprocess.run(["umount", str(self.mount_point)], check=False)
            self.mounted = False


def journal_of_four_discs(desktop, tmp, program, dest, temp, c):
    """Three discs, then the first again, from one drive: four journal lines,
    the last one skipped at the question's Nein, every image in the
    destination once."""
    drive = DiscImage(tmp)
    systems = ["Arzt und Praxis", "GEMED", "HIPAX"]
    discs = []
    for i, system in enumerate(systems):
        out = tmp / f"sample{i}"
        subprocess.run([sys.executable, str(GENERATOR), "--system", system, "--seed", str(i + 1), str(out)],
                       check=True, stdout=subprocess.DEVNULL)
        discs.append((system, json.loads((out / "manifest.json").read_text(encoding="utf-8")),
                      f"PRAXIS {i + 1}", f"0000000{i + 1}-1111-2222-3333-444444444444"))
    desktop.start_x()
    expected_images = []
    try:
        for run, (system, manifest, label, uuid) in enumerate(discs + discs[:1]):
            drive.insert(manifest["disc"], tmp / f"disc{run}.img", label, uuid)
            write_settings(program, {("Temp", "TempPath"): str(temp), ("Path", "SourcePath"): str(drive.mount_point),
                                     ("Path", "DestinationPath"): str(dest), ("Debug", "DebugValue"): "0",
                                     ("PACS", "PACS"): system})
            proc = desktop.spawn([str(program / "jor-orvek")], f"program{run}.log", QT_QPA_PLATFORM="xcb")
            visible = lambda title: desktop.xdo("search", "--onlyvisible", "--name", title, check=False)
            main = wait_for(lambda: visible("^Jor - Orvek$") or proc.poll() is not None, 20, "the main window")
            if proc.poll() is not None:
                raise Failure(f"program ended at start with status {proc.returncode}")
            time.sleep(0.3)
            desktop.xdo("mousemove", "--window", main[0], *MIGRIEREN, "click", "1")
            # The report, or for the disc done before the question, answered with its default, Nein.
            box = wait_for(lambda: visible("^Migration abgeschlossen$") or visible("^Jor-Orvek$"), 150, "a box")[0]
            is_question = bool(visible("^Jor-Orvek$"))
            c.check(is_question == (run == 3), f"run {run + 1}: {'a question' if is_question else 'a report'}")
            if is_question:
                # Nein is the default: Enter answers it. (A key sent to a box
                # lingers for the next program's first box, so only here, last.)
                desktop.xdo("windowfocus", box, check=False)
                desktop.xdo("key", "--window", box, "Return", check=False)
            else:
                size = dict(line.split("=") for line in desktop.xdo("getwindowgeometry", "--shell", box))
                desktop.xdo("mousemove", "--window", box, int(size["WIDTH"]) - 47, int(size["HEIGHT"]) - 24,
                            "click", "1")  # OK
            wait_for(lambda: not visible("^Migration abgeschlossen$|^Jor-Orvek$"), 10, "the box to close")

            def ended():
                if proc.poll() is None:
                    desktop.xdo("mousemove", "--window", main[0], *BEENDEN, "click", "1", check=False)
                    time.sleep(0.5)
                return proc.poll() is not None
            wait_for(ended, 20, "the program to end after Beenden", poll=0)
            drive.eject()
            if run < 3:
                expected_images += [(e["sha256"], e["size"]) for e in manifest["destination"] for _ in range(e["count"])]
    finally:
        drive.eject()
    c.same("destination images (sha256, size)", expected_images,
           [(sha(p), p.stat().st_size) for p in dest.iterdir() if p.is_file()])
    rows = journal_rows(program, c)
    c.check(len(rows) == 4, f"{len(rows)} journal lines: {rows}")
    for row, (system, manifest, label, uuid), result in zip(rows, discs + discs[:1],
                                                            ["abgeschlossen"] * 3 + ["ausgelassen"]):
        c.check(row[2:7] == [label, uuid, str(drive.mount_point), str(dest), system] and row[11] == result,
                f"journal line {row}")
    return len(rows)


class Checker:
    def __init__(self):
        self.faults = []

    def same(self, what, expected, actual):
        expected, actual = collections.Counter(expected), collections.Counter(actual)
        for label, diff in (("missing", expected - actual), ("unexpected", actual - expected)):
            for item, n in sorted(diff.items(), key=str)[:10]:
                self.faults.append(f"{what}: {label} {n}x {item!r}")

    def check(self, ok, message):
        if not ok:
            self.faults.append(message)


def crlf_lines(path, c, encoding="utf-8"):
    """The text file's lines; `encoding` is the code page the program writes
    in (UTF-8 on Linux, the ANSI code page on Windows)."""
    data = path.read_bytes() if path.exists() else b""
    c.check(not data or data.endswith(b"\r\n"), f"{path.name} does not end in CR LF")
    lines = data.split(b"\r\n")[:-1] if data else []
    c.check(all(b"\n" not in l and b"\r" not in l for l in lines), f"{path.name} has lines not ended by CR LF")
    return [l.decode(encoding, "surrogateescape") for l in lines]


def snapshot(root):
    return [(str(p.relative_to(root)), p.stat().st_mode & 0o777, sha(p)) for p in root.rglob("*") if p.is_file()]


def verify(manifest, program, dest, temp, settings, report, c, encoding="utf-8"):
    # Destination: fresh names only, the expected images, copies writable.
    expected_dirs = {"BadObjects"} if any(l.startswith("-1 - File ") for l in manifest["error_log"]) else set()
    c.same("folders in the destination", expected_dirs, [p.name for p in dest.iterdir() if p.is_dir()])
    outputs = [p for p in dest.iterdir() if not p.is_dir()]
    for p in outputs:
        c.check(re.fullmatch(r"2\.25\.\d+\.dcm", p.name), f"destination: unexpected name {p.name!r}")
        c.check(p.stat().st_mode & 0o200, f"destination: {p.name} kept the read-only attribute")
    c.same("destination images (sha256, size)",
           [(e["sha256"], e["size"]) for e in manifest["destination"] for _ in range(e["count"])],
           [(sha(p), p.stat().st_size) for p in outputs])

    # BadObjects: <base>.err, <base>2.err, ... holding the objects as stored.
    bad = dest / "BadObjects"
    found = {p.name: p for p in bad.iterdir()} if bad.is_dir() else {}
    names = []
    for base, entries in manifest["bad_objects"].items():
        group = [base + (str(n) if n > 1 else "") + ".err" for n in range(1, len(entries) + 1)]
        names += group
        c.same(f"BadObjects {base!r}* contents", [e["sha256"] for e in entries],
               [sha(found[n]) for n in group if n in found])
    c.same("BadObjects names", names, list(found))

    # Error log: compared without its date and time field, and without the
    # decompressor's own words for why it failed, which depend on the tool.
    lines = crlf_lines(program / "Logs" / "Error.txt", c, encoding)
    reason = re.compile(r"^(-1 - File .* could not be decompressed: ).*( - ScanFolder)$")
    c.same("Logs/Error.txt lines", manifest["error_log"],
           [reason.sub(r"\1<reason>\2", l.split(" - ", 1)[-1]) for l in lines])

    # Settings.ini keeps the values the window was started with.
    values = stored_settings(program, c, encoding)
    for (sec, key), value in settings.items():
        c.check(values.get((sec, key)) == value,
                f"Settings.ini [{sec}] {key}: {values.get((sec, key))!r}, expected {value!r}")

    c.check(not (temp / "TempOrvek").exists(), "the working folder TempOrvek was not removed")
    if report is not None:
        expected = manifest["report"] + "\n\nBitte legen Sie die nächste CD / DVD ein."
        c.check(report.replace("\r\n", "\n") == expected, f"report text {report!r}, expected {expected!r}")

    # Every image written from a good object is a sound DICOM file.
    dicom = {e["sha256"] for e in manifest["destination"] if e["dicom"]}
    images = [str(p) for p in outputs if sha(p) in dicom]
    if images:
        r = subprocess.run(["dcmftest", *images], capture_output=True, text=True)
        c.same("dcmftest verdicts", [f"yes: {p}" for p in images], r.stdout.splitlines())
        r = subprocess.run(["dcmdump", "-q", *images], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        c.check(r.returncode == 0 and not r.stderr, f"dcmdump: status {r.returncode}: {r.stderr[:500]!r}")
    return len(images)


def conclude(c, tmp, keep):
    """Shows the logs of a failed run, clears the scratch folder away (unless
    kept) and gives the exit status."""
    if c.faults:
        for name in ("program.log", "xvfb.log"):
            log = tmp / name
            if log.exists() and log.stat().st_size:
                print(f"--- {name}:\n{log.read_text(errors='replace')[-2000:]}")
    if keep:
        print(f"kept: {tmp}")
    else:
        subprocess.run(["chmod", "-R", "u+w", str(tmp)], check=False)
        shutil.rmtree(tmp, ignore_errors=True)
    for f in c.faults:
        print("FAIL:", f)
    print("PASSED" if not c.faults else f"FAILED ({len(c.faults)} faults)")
    return 1 if c.faults else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--system", required=True)
    parser.add_argument("--program-dir", required=True, type=Path)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--second-instance", action="store_true",
                        help="start the program a second time during the run")
    parser.add_argument("--session-end", action="store_true",
                        help="end the desktop session (SIGTERM) during the run")
    parser.add_argument("--journal", action="store_true",
                        help="three discs from one drive, then the first again (needs root to mount disc images)")
    args = parser.parse_args()

    # A terminated test still clears away its X server and program.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    started = time.monotonic()
    tmp = Path(tempfile.mkdtemp(prefix="jor-e2e-"))
    desktop = Desktop(tmp)
    c = Checker()
    try:
        subprocess.run([sys.executable, str(GENERATOR), "--system", args.system, str(tmp / "sample")],
                       check=True, stdout=subprocess.DEVNULL)
        manifest = json.loads((tmp / "sample" / "manifest.json").read_text(encoding="utf-8"))
        program, dest, temp = tmp / "program", tmp / "Ziel Ordner", tmp / "temp"
        for d in (program, dest, temp):
            d.mkdir()
        for f in ("jor-orvek", "gunzip.exe"):
            shutil.copy2(args.program_dir / f, program / f)
        settings = {("Temp", "TempPath"): str(temp), ("Path", "SourcePath"): manifest["disc"],
                    ("Path", "DestinationPath"): str(dest), ("Debug", "DebugValue"): "0",
                    ("PACS", "PACS"): args.system}
        write_settings(program, settings)

        disc = snapshot(Path(manifest["disc"]))
        generated = time.monotonic()
        if args.journal:
            if os.geteuid() != 0:
                print("skipped: mounting disc images needs root")
                return SKIPPED
            lines = journal_of_four_discs(desktop, tmp, program, dest, temp, c)
            print(f"{lines} journal lines for three discs and the first one again")
        elif args.session_end:
            images = session_end_during_run(desktop, program, manifest, dest, temp, settings, c)
            desktop.close()
            c.same("disc files (name, mode, sha256) after the run", disc, snapshot(Path(manifest["disc"])))
            print(f"{args.system}: the session ended during the run after {images} of {manifest['migrated']} images")
        else:
            report = run_window(desktop, program, deadline=150, second_instance=args.second_instance)
            ran = time.monotonic()
            desktop.close()
            c.same("disc files (name, mode, sha256) after the run", disc, snapshot(Path(manifest["disc"])))
            images = verify(manifest, program, dest, temp, settings, report, c)
            print(f"{args.system}: {manifest['files_on_disc']} files on the disc, {manifest['report']}")
            print(f"report text: {'checked' if report is not None else 'not readable here (no AT-SPI), judged by the files'}")
            print(f"{images} DICOM outputs checked with dcmftest and dcmdump")
            print(f"times: disc {generated - started:.1f} s, window run {ran - generated:.1f} s, "
                  f"total {time.monotonic() - started:.1f} s")
    except Failure as e:
        c.faults.append(str(e))
    finally:
        desktop.close()
        status = conclude(c, tmp, args.keep)
    return status


if __name__ == "__main__":
    sys.exit(main())
