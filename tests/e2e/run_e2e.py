#!/usr/bin/env python3
"""Migrates a generated sample disc in the real window, under its own Xvfb,
clicking as a user would, and compares what the run leaves behind with the
disc's manifest. Exit status 0 when everything matches."""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from e2e_checks import (Checker, check_cut_short_run, conclude, journal_rows, sha, snapshot, verify,  # noqa: E402
                        write_settings)
from e2e_desktop import Accessibility, Desktop, Failure, wait_for  # noqa: E402

GENERATOR = Path(__file__).resolve().parents[2] / "tools" / "make_sample_disc.py"
MIGRIEREN, BEENDEN = (25, 26), (76, 26)


def end_with_beenden(desktop, proc, main):
    """Beenden, which comes back only once the working folder is cleared away."""
    def ended():
        if proc.poll() is None:
            desktop.xdo("mousemove", "--window", main, *BEENDEN, "click", "1", check=False)
            time.sleep(0.5)
        return proc.poll() is not None
    wait_for(ended, 20, "the program to end after Beenden", poll=0)


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

            end_with_beenden(desktop, proc, main[0])
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
                                                            ["abgeschlossen"] * 3 + ["nur fehlende"]):
        c.check(row[2:7] == [label, uuid, str(drive.mount_point), str(dest), system] and row[11] == result,
                f"journal line {row}")
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
    proc = desktop.spawn([str(program / "jor-orvek")], "program.log", QT_QPA_PLATFORM="xcb")
    visible = lambda title: desktop.xdo("search", "--onlyvisible", "--name", title, check=False)
    main = wait_for(lambda: visible("^Jor - Orvek$") or proc.poll() is not None, 20, "the main window")
    if proc.poll() is not None:
        raise Failure(f"program ended at start with status {proc.returncode}")
    time.sleep(0.5)
    desktop.xdo("mousemove", "--window", main[0], *MIGRIEREN, "click", "1")
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
            desktop.xdo("windowactivate", main[0], check=False)
            desktop.xdo("key", "alt+F4")
        proc.wait(20)
    boxes, was_cut = answer_boxes(
        lambda: "ended" if proc.poll() is not None else "cut" if stop and outputs() else visible(boxed),
        lambda box: " ".join(desktop.xdo("getwindowname", box)) == "Migration abgeschlossen", answer, cut)
    if was_cut:
        return boxes

    end_with_beenden(desktop, proc, main[0])
    return boxes


def disc_proof(desktop, tmp, program, dest, temp, c):
    """Two GEMED discs of real DICOM files from two drives: the protocols
    prove each output, name the image the DICOMDIR misses, and the warning
    after the report says so; the second disc's repeated images are named."""
    from disc_proof import check_proof_discs
    subprocess.run(["/usr/bin/python3", str(GENERATOR), "--proof", str(tmp / "proof")], check=True,
                   stdout=subprocess.DEVNULL)
    proof = json.loads((tmp / "proof" / "proof.json").read_text(encoding="utf-8"))
    drive = DiscImage(tmp)
    desktop.start_x()
    try:
        for n, disc in enumerate(proof["discs"]):
            drive.insert(disc, tmp / f"proof{n}.img", f"BEWEIS {n + 1}", f"0000000{n + 1}-aaaa-bbbb-cccc-dddddddddddd")
            write_settings(program, {("Temp", "TempPath"): str(temp), ("Path", "SourcePath"): str(drive.mount_point),
                                     ("Path", "DestinationPath"): str(dest), ("Debug", "DebugValue"): "0",
                                     ("PACS", "PACS"): "GEMED"})
            boxes = run_disc(desktop, program)
            c.check(boxes == ["report", "warning"][:2 - n], f"disc {n + 1}: boxes {boxes}")
            drive.eject()
    finally:
        drive.eject()
    check_proof_discs(proof, program, dest, journal_rows(program, c), c)


def second_passes(desktop, tmp, program, dest, temp, c):
    """A disc closed halfway, one killed halfway and one whose drive cannot
    read two files, each passed again with the question's default: every
    image in its destination, once, but for the last batch before the kill."""
    from disc_proof import check_pass_results, check_passes, protocol_rows, protocols
    desktop.start_x()
    desktop.spawn(["openbox"], "openbox.log")  # takes Alt+F4 as the window's close command
    for n, stop in enumerate(("close", "kill", "unreadable")):
        out, target = tmp / f"pass{n}", dest / stop
        target.mkdir()
        subprocess.run([sys.executable, str(GENERATOR), "--system", "GEMED", "--seed", str(20 + n), str(out)],
                       check=True, stdout=subprocess.DEVNULL)
        manifest = json.loads((out / "manifest.json").read_text(encoding="utf-8"))
        images = sorted(p for p in Path(manifest["disc"]).rglob("IM*") if "." not in p.name)[:2]
        (tmp / f"drive{n}").mkdir()
        drive = FaultyDisc(tmp / f"drive{n}")
        try:
            drive.insert(manifest["disc"], tmp / f"pass{n}.img", f"PASS {n}", f"0000002{n}-aaaa-bbbb-cccc-dddddddddddd")
            write_settings(program, {("Temp", "TempPath"): str(temp), ("Path", "SourcePath"): str(drive.mount_point),
                                     ("Path", "DestinationPath"): str(target), ("Debug", "DebugValue"): "0",
                                     ("PACS", "PACS"): "GEMED"})
            first = len(protocols(program))
            if stop == "unreadable":
                drive.fail_list.write_text("".join(f"{p.relative_to(manifest['disc'])}\n" for p in images))
                c.check(run_disc(desktop, program) == ["report"], f"{stop}: boxes of the first pass")
                drive.fail_list.write_text("")
            else:
                # Past the first batch of the protocol, and more since.
                batched = lambda: len(protocols(program)) > first and len(protocol_rows(protocols(program)[-1], c)) > 5
                run_disc(desktop, program, lambda: batched() and sum(1 for _ in target.iterdir()) > 60, stop)
            c.check(run_disc(desktop, program) == ["question", "report"], f"{stop}: boxes of the second pass")
        finally:
            drive.eject()
        check_passes(stop, manifest, [protocol_rows(p, c) for p in protocols(program)[first:]], target, images, c)
    check_pass_results(journal_rows(program, c), c)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--system", required=True)
    parser.add_argument("--program-dir", required=True, type=Path)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--second-instance", action="store_true",
                        help="start the program a second time during the run")
    parser.add_argument("--session-end", action="store_true",
                        help="end the desktop session (SIGTERM) during the run")
    parser.add_argument("--proof", action="store_true", help="two discs of real DICOM files, their protocols")
    parser.add_argument("--second-pass", action="store_true", help="stopped, killed and unreadable discs passed again")
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
        if (args.journal or args.proof or args.second_pass) and os.geteuid() != 0:
            print("skipped: mounting disc images needs root")
            return SKIPPED
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
