#!/usr/bin/env python3
"""Migrates a generated sample disc with the Windows program under Wine,
clicking as a user would, and compares what the run leaves behind with the
disc's manifest, as run_e2e.py does for the Linux program. Exit status 0
when everything matches.

Runs in the Wine prefix given (its wineserver and, when DISPLAY is set,
its X display are used as they are: scripts/build-windows.sh starts both).
Without a window manager the X window is the frame Wine draws itself, so
clicks go to client coordinates plus that frame."""
import contextlib
import ctypes
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from e2e_checks import (check_cut_short_run, check_journal, images_of, journal_rows, run_settings,  # noqa: E402
                        runner_main, sample_disc, sha, snapshot, verify, write_settings)
from e2e_desktop import Failure, end_by_clicking, wait_for  # noqa: E402

# The ANSI code page of Wine's default (English) settings: Settings.ini and the logs.
ANSI = "cp1252"
CLIENT = (406, 292)  # client area at 96 DPI
MIGRIEREN, BEENDEN = (30, 24), (94, 24)  # toolbar buttons, client coordinates
MAIN, REPORT, STOP = "^Jor - Orvek$", "^Migration abgeschlossen$", "^Jor-Orvek$"


def windows_path(path):
    """The Windows form of a host path: Wine's drive Z: is the host's root."""
    return "Z:" + str(path).replace("/", "\\")


class SettingsOpens:
    """Counts how often the program opens Settings.ini (inotify): Wine's
    private-profile functions open the file once per key they read or write,
    so one store of the settings always takes as many opens as another."""
    IN_OPEN = 0x20

    def __init__(self, folder):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, str(folder).encode(), self.IN_OPEN) < 0:
            raise Failure("inotify: " + os.strerror(ctypes.get_errno()))
        self.count = 0

    def take(self):
        """Opens counted since the last call."""
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            at = 0
            while at < len(data):
                _wd, _mask, _cookie, length = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + length].rstrip(b"\0")
                at += 16 + length
                self.count += name == b"Settings.ini"
        n, self.count = self.count, 0
        return n

    def close(self):
        os.close(self.fd)


class WineProgram:
    """jor-orvek.exe in the program folder, started under Wine on the desktop."""

    def __init__(self, desktop, program, wineprefix, window_texts):
        self.d, self.program, self.window_texts = desktop, program, window_texts
        # JOR_E2E_RUN marks what the program starts: its environment passes on.
        self.env = {"WINEPREFIX": str(wineprefix), "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                    "LC_ALL": "C.UTF-8", "JOR_E2E_RUN": str(desktop.tmp)}
        self.proc = None

    def visible(self, title):
        return self.d.xdo("search", "--onlyvisible", "--name", title, check=False)

    def start(self):
        if self.visible(MAIN):
            raise Failure("another Jor-Orvek window is already on this display")
        # Started from another folder, as from the Explorer: the program finds its folder itself.
        self.proc = self.d.spawn(["wine", windows_path(self.program / "jor-orvek.exe")], "program.log", **self.env)
        main = wait_for(lambda: self.visible(MAIN) or self.proc.poll() is not None, 60, "the main window")
        if self.proc.poll() is not None:
            raise Failure(f"program ended at start with status {self.proc.returncode}")
        self.main = main[0]
        size = dict(line.split("=") for line in self.d.xdo("getwindowgeometry", "--shell", self.main))
        border = (int(size["WIDTH"]) - CLIENT[0]) // 2
        self.origin = (border, int(size["HEIGHT"]) - CLIENT[1] - border)
        time.sleep(0.3)  # mapped is not yet painted and taking input

    def click(self, at):
        self.d.xdo("mousemove", "--window", self.main, self.origin[0] + at[0], self.origin[1] + at[1], "click", "1")

    def texts(self, title):
        """The texts of the controls in the window titled `title`, read by a
        helper inside Wine (the X server knows only the frame)."""
        # Through a file: a Wine helper started on the way would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine", self.window_texts, title], env={**self.d.env, **self.env},
                               stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            return out.read().decode("utf-8", "replace").splitlines() if r.returncode == 0 else []

    def press(self, window, key):
        self.d.xdo("windowfocus", window, check=False)
        self.d.xdo("key", key, check=False)

    def check_running(self):
        if self.proc.poll() is not None:
            raise Failure(f"program ended during the run with status {self.proc.returncode}")
        if self.visible(STOP):
            raise Failure("a stop box came up: " + " | ".join(self.texts("Jor-Orvek")))

    def end(self, seconds=30):
        try:
            self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure(f"program still running {seconds} s after it was told to end")
        if self.proc.returncode != 0:
            raise Failure(f"program ended with status {self.proc.returncode}")

    def console_hosts(self):
        """The console hosts (conhost.exe) of what the program started: Wine
        runs each as a process of the host, in the program's environment."""
        mark, hosts = f"JOR_E2E_RUN={self.env['JOR_E2E_RUN']}".encode(), set()
        for p in Path("/proc").iterdir():
            try:
                if p.name.isdigit() and b"conhost.exe" in (p / "cmdline").read_bytes() and \
                        mark in (p / "environ").read_bytes().split(b"\0"):
                    hosts.add(p.name)
            except OSError:
                pass
        return hosts

    def migrate(self, deadline):
        """Migrieren, the report, Beenden; returns the report's text. The
        console hosts seen meanwhile are left in self.consoles."""
        self.click(MIGRIEREN)
        self.consoles = set()

        def report():
            self.check_running()
            self.consoles |= self.console_hosts()
            return self.visible(REPORT)
        box = wait_for(report, deadline, "the report box", poll=0.25)[0]
        texts = self.texts("Migration abgeschlossen")
        text = next((t for t in texts if "Dateien" in t), " | ".join(texts)).replace("\\n", "\n")
        self.press(box, "Return")
        wait_for(lambda: not self.visible(REPORT), 10, "the report box to close")

        self.quit()
        return text

    def quit(self):
        end_by_clicking(self.proc, lambda: self.click(BEENDEN), 30)
        self.end()


def unpack(args, program):
    """The program folder as the user gets it: the zip's Jor-Orvek folder, or the build's two files."""
    if args.zip and Path(args.zip).is_file():
        with zipfile.ZipFile(args.zip) as z:
            names = sorted(n for n in z.namelist() if not n.endswith("/"))
            if names != ["Jor-Orvek/gunzip.exe", "Jor-Orvek/jor-orvek.exe"]:
                raise Failure(f"{args.zip} holds {names}")
            z.extractall(program.parent)
        (program.parent / "Jor-Orvek").rename(program)
        return f"unzipped {Path(args.zip).name}"
    program.mkdir()
    for f in ("jor-orvek.exe", "gunzip.exe"):
        shutil.copy2(args.program_dir / f, program / f)
    return f"copied from {args.program_dir}"


def close_during_run(wine, program, manifest, dest, settings, opens, c):
    """The window's close command while the run copies: it stops after the
    file at hand, shows no report, and stores the settings once."""
    wine.start()
    opens.take()
    wine.click(BEENDEN)
    wine.end()
    one_store = opens.take()
    c.check(one_store > 0, "Beenden stored no settings")

    wine.start()
    opens.take()
    wine.click(MIGRIEREN)

    def some_outputs():
        wine.check_running()
        return len([p for p in dest.iterdir() if p.is_file()]) >= 5
    wait_for(some_outputs, 60, "the first outputs")
    wine.press(wine.main, "alt+F4")
    wine.end()
    c.check(opens.take() == one_store, "the settings were not stored exactly once")
    c.check(not wine.visible(REPORT), "a report came up for the stopped run")
    return check_cut_short_run(manifest, program, dest, Path(manifest["temp"]), settings, c, ANSI)


def session_end_during_run(wine, program, manifest, dest, settings, c):
    """The desktop session ends while the run copies: the window holds it up,
    and when it ends anyway the run ends at once, with one "18" line, no
    report, nothing half written, no working folder, the settings stored."""
    wine.start()
    (program / "Settings.ini").unlink()
    wine.click(MIGRIEREN)

    def some_outputs():
        wine.check_running()
        return len([p for p in dest.iterdir() if p.is_file()]) >= 5
    wait_for(some_outputs, 60, "the first outputs")
    with tempfile.TemporaryFile() as out:
        subprocess.run(["wine", wine.window_texts, "--end-session", "Jor - Orvek"], env={**wine.d.env, **wine.env},
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
        out.seek(0)
        answer = out.read().decode().strip()
    c.check(answer == "hold", f"the window answered {answer!r} to the session's end during a run")
    wine.end()
    return check_cut_short_run(manifest, program, dest, Path(manifest["temp"]), settings, c, ANSI)


# The prefix's CD-ROM drives (scripts/wine-prefix.sh): letter, label, serial.
DRIVES = [("R", "JOR TESTCD", "1A2B-3C4D"), ("S", "PRAXIS 2", "2B3C-4D5E"), ("T", "PRAXIS 3", "3C4D-5E6F")]


def load_drive(drive, disc):
    """The disc's files in the CD-ROM drive's folder, but for Wine's label and serial files."""
    for entry in drive.iterdir():
        if not entry.name.startswith(".windows-"):
            subprocess.run(["chmod", "-R", "u+w", str(entry)], check=False)
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
    for entry in Path(disc).iterdir():
        (shutil.copytree if entry.is_dir() else shutil.copy2)(entry, drive / entry.name)


def run_disc(wine, outputs=None, stop=None):
    """Migrieren, each box answered with Enter (the question's default), then
    Beenden. Returns the boxes in their order: question, report, warning.
    With `stop` ("close" or "kill"), the window is closed or the program
    killed once `outputs()` is true."""
    wine.start()
    wine.click(MIGRIEREN)
    from disc_proof import answer_boxes

    def answer(box):
        wine.press(box, "Return")
        wait_for(lambda: box not in wine.visible(REPORT) + wine.visible(STOP), 10, "the box to close")

    def cut():
        if stop == "kill":
            os.killpg(wine.proc.pid, signal.SIGKILL)
            wine.proc.wait(20)
        else:
            wine.press(wine.main, "alt+F4")
            wine.end()
    boxes, was_cut = answer_boxes(
        lambda: ("ended" if wine.proc.poll() is not None else "cut" if stop and outputs()
                 else wine.visible(REPORT) or wine.visible(STOP)),
        lambda box: box in wine.visible(REPORT), answer, cut)
    if was_cut:
        return boxes
    wine.quit()
    return boxes


def disc_proof(wine, args, program, dest, temp, tmp, c):
    """The two discs of real DICOM files in drives R: and S:, as on Linux."""
    from disc_proof import check_proof_discs
    proof = sample_disc(tmp / "proof", "--proof", python="/usr/bin/python3")
    for n, (disc, (letter, _label, _serial)) in enumerate(zip(proof["discs"], DRIVES)):
        load_drive(Path(args.wineprefix) / f"cdrom-{letter.lower()}", disc)
        write_settings(program, run_settings(temp, f"{letter}:\\", dest, "GEMED", windows_path), ANSI)
        boxes = run_disc(wine)
        c.check(boxes == ["report", "warning"][:2 - n], f"disc {n + 1}: boxes {boxes}")
    check_proof_discs(proof, program, dest, journal_rows(program, c, ANSI), c, "\\")


def second_passes(wine, args, program, dest, temp, tmp, c):
    """Second passes (disc_proof.py) with two files the user may not read, in the prefix's drives."""
    from disc_proof import second_passes

    @contextlib.contextmanager
    def drive(n, manifest, target):
        letter = DRIVES[n][0]
        folder = Path(args.wineprefix) / f"cdrom-{letter.lower()}"
        load_drive(folder, manifest["disc"])
        write_settings(program, run_settings(temp, f"{letter}:\\", target, "GEMED", windows_path), ANSI)
        yield lambda files, yes: [(folder / f).chmod(0o444 if yes else 0) for f in files]
    second_passes(tmp, program, dest, c, drive, lambda outputs=None, stop=None: run_disc(wine, outputs, stop),
                  ("--objects", "1000"), ANSI, "\\")


def journal_of_four_discs(wine, args, program, dest, temp, tmp, c):
    """Three discs in the prefix's three CD-ROM drives, then the first again:
    the question comes, Nichts skips the disc, the journal has four lines, the
    last one skipped, and the destination holds each image once. ("Arzt und
    Praxis" leaves Wine's label and serial files in a drive's root alone.)"""
    expected = []
    for run, (letter, label, serial) in enumerate(DRIVES + DRIVES[:1]):
        drive = Path(args.wineprefix) / f"cdrom-{letter.lower()}"
        if run < 3:
            manifest = sample_disc(tmp / f"sample{run}", "--system", args.system, "--seed", str(run + 1))
            load_drive(drive, manifest["disc"])
            expected += images_of(manifest)
        write_settings(program, run_settings(temp, f"{letter}:\\", dest, args.system, windows_path), ANSI)
        wine.start()
        if run < 3:
            wine.migrate(deadline=240)
            continue
        wine.click(MIGRIEREN)

        def question():
            if wine.proc.poll() is not None or wine.visible(REPORT):
                raise Failure("the disc migrated again without a question")
            return wine.visible(STOP)
        wait_for(question, 60, "the question")
        text = next((t for t in wine.texts("Jor-Orvek") if t.startswith("Der ")), "")
        c.check(text.startswith(f"Der Datentr\u00e4ger {label} (Seriennummer {serial}) wurde am ") and
                " dort noch." in text, f"the question: {text!r}")
        # "Nichts", the third answer: the disc's failed objects are missing still.
        r = subprocess.run(["wine", wine.window_texts, "--press", "102", "Jor-Orvek"], env={**wine.d.env, **wine.env},
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        c.check(r.returncode == 0, "no Nichts to press")
        wait_for(lambda: not wine.visible(STOP), 10, "the question to close")
        wine.quit()
    c.same("destination images (sha256, size)", expected, [(sha(p), p.stat().st_size) for p in dest.iterdir() if p.is_file()])
    rows = journal_rows(program, c, ANSI)
    check_journal(rows, [[label, serial, f"{letter}:\\", result] for (letter, label, serial), result in
                         zip(DRIVES + DRIVES[:1], ["abgeschlossen"] * 3 + ["ausgelassen"])], c, (2, 3, 4, 11))
    return len(rows)


def run(args, tmp, desktop, manifest, c):
    program, dest, temp = tmp / "Jor-Orvek", tmp / "Ziel Ordner", tmp / "temp"
    source = unpack(args, program)
    for d in (dest, temp):
        d.mkdir()
    manifest["temp"] = str(temp)
    settings = run_settings(temp, windows_path(manifest["disc"]), dest, args.system, windows_path)
    write_settings(program, settings, ANSI)
    if os.environ.get("DISPLAY"):
        desktop.env["DISPLAY"] = os.environ["DISPLAY"]
    else:
        desktop.start_x()
    wine = WineProgram(desktop, program, args.wineprefix, args.window_texts)
    disc = snapshot(Path(manifest["disc"]))
    generated = time.monotonic()
    if args.proof:
        disc_proof(wine, args, program, dest, temp, tmp, c)
    elif args.second_pass:
        second_passes(wine, args, program, dest, temp, tmp, c)
    elif args.journal:
        lines = journal_of_four_discs(wine, args, program, dest, temp, tmp, c)
        print(f"{lines} journal lines for three discs and the first again")
    elif args.session_end:
        images = session_end_during_run(wine, program, manifest, dest, settings, c)
        print(f"{args.system}: the session ended during the run after {images} of {manifest['migrated']} images")
    elif args.close_during_run:
        opens = SettingsOpens(program)
        try:
            images = close_during_run(wine, program, manifest, dest, settings, opens, c)
        finally:
            opens.close()
        print(f"{args.system}: closed during the run after {images} of {manifest['migrated']} images")
    else:
        wine.start()
        report = wine.migrate(deadline=240)
        ran = time.monotonic()
        images = verify(manifest, program, dest, temp, settings, report, c, ANSI)
        c.check(not wine.consoles, f"{len(wine.consoles)} console hosts (conhost.exe) came up during the run")
        print(f"{args.system}: {manifest['files_on_disc']} files on the disc, {manifest['report']}")
        print(f"{images} DICOM outputs checked with dcmftest and dcmdump; program {source}")
        print(f"times: disc {generated - args.started:.1f} s, window run {ran - generated:.1f} s, "
              f"total {time.monotonic() - args.started:.1f} s")
    desktop.close()
    c.same("disc files (name, mode, sha256) after the run", disc, snapshot(Path(manifest["disc"])))


def arguments(parser):
    parser.add_argument("--zip", default="", help="the packed program folder, used when it exists")
    parser.add_argument("--wineprefix", required=True, type=Path)
    parser.add_argument("--window-texts", required=True, help="the helper that reads a window's texts")
    parser.add_argument("--close-during-run", action="store_true")


if __name__ == "__main__":
    sys.exit(runner_main(__doc__, "jor-e2e-wine-", arguments, run))
