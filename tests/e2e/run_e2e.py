#!/usr/bin/env python3
"""Migrates a generated sample disc in the real window, under its own Xvfb,
clicking as a user would, and compares what the run leaves behind with the
disc's manifest. Exit status 0 when everything matches."""
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from e2e_checks import (check_cut_short_run, check_journal, images_of, journal_rows, run_settings,  # noqa: E402
                        runner_main, sample_disc, sha, snapshot, verify, write_settings)
from e2e_desktop import Accessibility, Failure, end_by_clicking, wait_for  # noqa: E402

MIGRIEREN, BEENDEN = (25, 26), (76, 26)


def visible_windows(desktop, title):
    return desktop.xdo("search", "--onlyvisible", "--name", title, check=False)


def start_program(desktop, program, log="program.log", settle=0.3, **extra):
    """jor-orvek from the program folder, its main window shown: the process and the window."""
    proc = desktop.spawn([str(program / "jor-orvek")], log, **{"QT_QPA_PLATFORM": "xcb", **extra})
    main = wait_for(lambda: visible_windows(desktop, "^Jor - Orvek$") or proc.poll() is not None, 20,
                    "the main window")
    if proc.poll() is not None:
        raise Failure(f"program ended at start with status {proc.returncode}")
    time.sleep(settle)  # mapped is not yet painted and taking input
    return proc, main[0]


def end_with_beenden(desktop, proc, main):
    end_by_clicking(proc, lambda: desktop.xdo("mousemove", "--window", main, *BEENDEN, "click", "1", check=False), 20)


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
    extra = {"QT_QPA_PLATFORM": "xcb", **({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"} if a11y_on else {})}
    proc, main = start_program(desktop, program, **extra)
    visible = lambda title: visible_windows(desktop, title)
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

    end_with_beenden(desktop, proc, main)
    if proc.returncode != 0:
        raise Failure(f"program ended with status {proc.returncode}")
    return text


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
    the last one a second pass at the question's default, which brings only
    the files that failed, every image in the destination once."""
    drive = DiscImage(tmp)
    systems = ["Arzt und Praxis", "GEMED", "HIPAX"]
    discs = [(system, sample_disc(tmp / f"sample{i}", "--system", system, "--seed", str(i + 1)), f"PRAXIS {i + 1}",
              f"0000000{i + 1}-1111-2222-3333-444444444444") for i, system in enumerate(systems)]
    desktop.start_x()
    expected_images = []
    try:
        for run, (system, manifest, label, uuid) in enumerate(discs + discs[:1]):
            drive.insert(manifest["disc"], tmp / f"disc{run}.img", label, uuid)
            write_settings(program, run_settings(temp, str(drive.mount_point), dest, system))
            proc, main = start_program(desktop, program, f"program{run}.log")
            visible = lambda title: visible_windows(desktop, title)
            desktop.xdo("mousemove", "--window", main, *MIGRIEREN, "click", "1")
            # The report, or for the disc done before the question, answered with its default.
            box = wait_for(lambda: visible("^Migration abgeschlossen$") or visible("^Jor-Orvek$"), 150, "a box")[0]
            is_question = bool(visible("^Jor-Orvek$"))
            c.check(is_question == (run == 3), f"run {run + 1}: {'a question' if is_question else 'a report'}")
            if is_question:
                # Enter answers it. (A key sent to a box
                # lingers for the next program's first box, so only here, last.)
                desktop.xdo("windowfocus", box, check=False)
                desktop.xdo("key", "--window", box, "Return", check=False)
            else:
                size = dict(line.split("=") for line in desktop.xdo("getwindowgeometry", "--shell", box))
                desktop.xdo("mousemove", "--window", box, int(size["WIDTH"]) - 47, int(size["HEIGHT"]) - 24,
                            "click", "1")  # OK
            wait_for(lambda: not visible("^Migration abgeschlossen$|^Jor-Orvek$"), 10, "the box to close")

            end_with_beenden(desktop, proc, main)
            drive.eject()
            if run < 3:
                expected_images += images_of(manifest)
    finally:
        drive.eject()
    c.same("destination images (sha256, size)", expected_images,
           [(sha(p), p.stat().st_size) for p in dest.iterdir() if p.is_file()])
    rows = journal_rows(program, c)
    check_journal(rows, [[label, uuid, str(drive.mount_point), str(dest), system, result] for
                         (system, _, label, uuid), result in zip(discs + discs[:1], ["abgeschlossen"] * 3 + ["nur fehlende"])],
                  c, (2, 3, 4, 5, 6, 11))
    return len(rows)


class FaultyDisc(DiscImage):
    """The disc in a drive that reads it slowly and fails the reads of the
    files listed in `fail_list` (faulty_drive.py over the mounted image)."""

    def insert(self, disc, image, label, uuid, delay=0.02):
        self.fail_list, drive = self.mount_point.parent / "fail-list", self.mount_point
        self.mount_point = drive.parent / "Laufwerk-innen"
        self.mount_point.mkdir(exist_ok=True)
        super().insert(disc, image, label, uuid)
        device = subprocess.run(["findmnt", "-n", "-o", "SOURCE", str(self.mount_point)], capture_output=True,
                                text=True).stdout.strip()
        self.mount_point = drive
        self.fuse = subprocess.Popen(["/usr/bin/python3", str(Path(__file__).parent / "faulty_drive.py"), "--device",
                                      device, "--delay", str(delay), "--fail-list", str(self.fail_list),
                                      str(drive.parent / "Laufwerk-innen"), str(drive)])
        wait_for(lambda: os.path.ismount(drive), 10, "the faulty drive")

    def eject(self):
        if self.mounted:
            subprocess.run(["umount", str(self.mount_point)], check=False)
            self.fuse.wait(10)
            self.mount_point = self.mount_point.parent / "Laufwerk-innen"
            super().eject()
            self.mount_point = self.mount_point.parent / "Laufwerk"


def run_disc(desktop, program, outputs=None, stop=None):
    """Migrieren on the disc in the drive, each box answered with Enter (the
    question's default), then Beenden. Returns the boxes in their order:
    question, report, warning. With `stop` ("close" or "kill"), the window is
    closed or the program killed once `outputs()` is true."""
    proc, main = start_program(desktop, program, settle=0.5)
    visible = lambda title: visible_windows(desktop, title)
    desktop.xdo("mousemove", "--window", main, *MIGRIEREN, "click", "1")
    from disc_proof import answer_boxes
    boxed = "^Migration abgeschlossen$|^Jor-Orvek$"

    def answer(box):
        desktop.xdo("windowfocus", box, check=False)
        desktop.xdo("key", "Return", check=False)
        wait_for(lambda: box not in visible(boxed), 10, "the box to close")

    def cut():
        if stop == "kill":
            proc.kill()
        else:
            desktop.xdo("windowactivate", main, check=False)
            desktop.xdo("key", "alt+F4")
        proc.wait(20)
    boxes, was_cut = answer_boxes(
        lambda: "ended" if proc.poll() is not None else "cut" if stop and outputs() else visible(boxed),
        lambda box: " ".join(desktop.xdo("getwindowname", box)) == "Migration abgeschlossen", answer, cut)
    if was_cut:
        return boxes

    end_with_beenden(desktop, proc, main)
    return boxes


def disc_proof(desktop, tmp, program, dest, temp, c):
    """Two GEMED discs of real DICOM files from two drives: the protocols
    prove each output, name the image the DICOMDIR misses, and the warning
    after the report says so; the second disc's repeated images are named."""
    from disc_proof import check_proof_discs
    proof = sample_disc(tmp / "proof", "--proof", python="/usr/bin/python3")
    drive = DiscImage(tmp)
    desktop.start_x()
    try:
        for n, disc in enumerate(proof["discs"]):
            drive.insert(disc, tmp / f"proof{n}.img", f"BEWEIS {n + 1}", f"0000000{n + 1}-aaaa-bbbb-cccc-dddddddddddd")
            write_settings(program, run_settings(temp, str(drive.mount_point), dest, "GEMED"))
            boxes = run_disc(desktop, program)
            c.check(boxes == ["report", "warning"][:2 - n], f"disc {n + 1}: boxes {boxes}")
            drive.eject()
    finally:
        drive.eject()
    check_proof_discs(proof, program, dest, journal_rows(program, c), c)


def second_passes(desktop, tmp, program, dest, temp, c):
    """Second passes (disc_proof.py) with the drive cannot read two files."""
    from disc_proof import second_passes

    @contextlib.contextmanager
    def drive(n, manifest, target):
        (tmp / f"drive{n}").mkdir()
        disc = FaultyDisc(tmp / f"drive{n}")
        try:
            disc.insert(manifest["disc"], tmp / f"pass{n}.img", f"PASS {n}", f"0000002{n}-aaaa-bbbb-cccc-dddddddddddd")
            write_settings(program, run_settings(temp, str(disc.mount_point), target, "GEMED"))
            yield lambda files, yes: disc.fail_list.write_text("" if yes else "".join(f"{f}\n" for f in files))
        finally:
            disc.eject()
    desktop.start_x()
    desktop.spawn(["openbox"], "openbox.log")  # takes Alt+F4 as the window's close command
    second_passes(tmp, program, dest, c, drive, lambda outputs=None, stop=None: run_disc(desktop, program, outputs, stop))


def run(args, tmp, desktop, manifest, c):
    program, dest, temp = tmp / "program", tmp / "Ziel Ordner", tmp / "temp"
    for d in (program, dest, temp):
        d.mkdir()
    for f in ("jor-orvek", "gunzip.exe"):
        shutil.copy2(args.program_dir / f, program / f)
    settings = run_settings(temp, manifest["disc"], dest, args.system)
    write_settings(program, settings)

    disc = snapshot(Path(manifest["disc"]))
    generated = time.monotonic()
    if (args.journal or args.proof or args.second_pass) and os.geteuid() != 0:
        print("skipped: mounting disc images needs root")
        sys.exit(SKIPPED)
    if args.proof:
        disc_proof(desktop, tmp, program, dest, temp, c)
    elif args.second_pass:
        second_passes(desktop, tmp, program, dest, temp, c)
    elif args.journal:
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
        print(f"times: disc {generated - args.started:.1f} s, window run {ran - generated:.1f} s, "
              f"total {time.monotonic() - args.started:.1f} s")


def arguments(parser):
    parser.add_argument("--second-instance", action="store_true",
                        help="start the program a second time during the run")


if __name__ == "__main__":
    sys.exit(runner_main(__doc__, "jor-e2e-", arguments, run))
