"""What both end-to-end runners share: their arguments, sample discs and frame,
and what they check of the destination, BadObjects, the logs, the settings and
the journal a run leaves, against a sample disc's manifest."""
import argparse
import collections
import csv
import hashlib
import json
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from e2e_desktop import Desktop, Failure

GENERATOR = Path(__file__).resolve().parents[2] / "tools" / "make_sample_disc.py"


def sample_disc(out, *options, python=sys.executable):
    """A generated sample disc (make_sample_disc.py `options`) in `out`; its manifest."""
    subprocess.run([python, str(GENERATOR), *options, str(out)], check=True, stdout=subprocess.DEVNULL)
    name = "proof.json" if "--proof" in options else "manifest.json"
    return json.loads((out / name).read_text(encoding="utf-8"))


def run_settings(temp, source, dest, system, path=str):
    """Settings.ini's values for a run; `path` gives a folder's form for the program."""
    return {("Temp", "TempPath"): path(temp), ("Path", "SourcePath"): source,
            ("Path", "DestinationPath"): path(dest), ("Debug", "DebugValue"): "0", ("PACS", "PACS"): system}


def images_of(manifest):
    """The images a disc's run must leave in the destination, as (sha256, size), each as often as it comes."""
    return [(e["sha256"], e["size"]) for e in manifest["destination"] for _ in range(e["count"])]


def check_journal(rows, expected, c, columns):
    """The journal's lines, their `columns` (indexes) against `expected`, one list of values a line."""
    c.check(len(rows) == len(expected), f"{len(rows)} journal lines: {rows}")
    for row, values in zip(rows, expected):
        c.check([row[i] for i in columns] == values, f"journal line {row}")


def runner_main(doc, prefix, add_arguments, run):
    """The frame of a runner: the arguments both take and `add_arguments(parser)`
    adds, a scratch folder with a sample disc of --system, and the verdict of
    `run(args, tmp, desktop, manifest, c)`. Returns the exit status."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--system", required=True)
    parser.add_argument("--program-dir", required=True, type=Path)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--session-end", action="store_true", help="end the desktop session during the run")
    parser.add_argument("--journal", action="store_true", help="three discs, then the first again")
    parser.add_argument("--proof", action="store_true", help="two discs of real DICOM files, their protocols")
    parser.add_argument("--second-pass", action="store_true", help="stopped, killed and unreadable discs passed again")
    add_arguments(parser)
    args = parser.parse_args()

    # A terminated test still clears away its X server and program.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    args.started = time.monotonic()
    tmp = Path(tempfile.mkdtemp(prefix=prefix))
    desktop = Desktop(tmp)
    c = Checker()
    try:
        run(args, tmp, desktop, sample_disc(tmp / "sample", "--system", args.system), c)
    except Failure as e:
        c.faults.append(str(e))
    finally:
        desktop.close()
        status = conclude(c, tmp, args.keep)
    return status


def sha(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def write_settings(program, settings, encoding="utf-8"):
    sections = collections.defaultdict(str)
    for (section, key), value in settings.items():
        sections[section] += f"{key}={value}\r\n"
    text = "".join(f"[{section}]\r\n{keys}" for section, keys in sections.items())
    (program / "Settings.ini").write_bytes(text.encode(encoding))


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


def journal_rows(program, c, encoding="utf-8"):
    """Logs/Journal.csv's rows after its header, as fields."""
    lines = crlf_lines(program / "Logs" / "Journal.csv", c, encoding)
    c.check(bool(lines) and lines[0].startswith("Beginn;Ende;"), f"journal header: {lines[:1]}")
    return [row for row in csv.reader(lines[1:], delimiter=";")]


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
    c.same("destination images (sha256, size)", images_of(manifest), [(sha(p), p.stat().st_size) for p in outputs])

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
