"""What a disc's protocol must prove of a run, checked against the files in
the destination: each output's SHA-256 and its UIDs as pydicom reads them,
what the DICOMDIR names, and the counts of the run's journal line."""
import csv
import warnings
from pathlib import Path

from e2e_checks import crlf_lines, images_of, journal_rows, sample_disc, sha
from e2e_desktop import Failure, wait_for

# Protocol column, pydicom keyword.
ATTRIBUTES = [("Patienten-ID", "PatientID"), ("Patientenname", "PatientName"), ("Geburtsdatum", "PatientBirthDate"),
              ("Studien-UID", "StudyInstanceUID"), ("Serien-UID", "SeriesInstanceUID"),
              ("SOP-Instanz-UID", "SOPInstanceUID"), ("Modalität", "Modality")]


def answer_boxes(step, is_report, answer, cut):
    """Answers a run's boxes until it is done: `step()` gives "ended", "cut"
    or the boxes in sight, `answer(box)` presses Enter on one, `cut()` stops
    the run. Returns the boxes in their order (question, report, warning)
    and whether the run was cut."""
    boxes = []
    while boxes[-1:] != ["warning"]:
        try:
            # After the report, a warning comes at once or not at all.
            seen = wait_for(step, 3 if boxes[-1:] == ["report"] else 240, "a box", poll=0.05)
        except Failure:
            if boxes[-1:] != ["report"]:
                raise
            break
        if seen == "cut":
            cut()
            return boxes, True
        if seen == "ended":
            raise Failure("the program ended during the run")
        boxes.append("report" if is_report(seen[0]) else "warning" if "report" in boxes else "question")
        answer(seen[0])
    return boxes, False


def protocols(program):
    return sorted((program / "Logs" / "Discs").glob("*.csv"))


def protocol_rows(path, c):
    """The protocol's lines as dicts by header, formula guards taken off."""
    c.check(path.read_bytes().startswith(b"\xef\xbb\xbf"), f"{path.name}: no byte-order mark")
    lines = crlf_lines(path, c, "utf-8-sig")
    header = next(csv.reader(lines[:1], delimiter=";"))
    unguard = lambda f: f[1:] if f[:1] == "'" and f[1:2] in ("=", "+", "-", "@") else f
    return [dict(zip(header, map(unguard, row))) for row in csv.reader(lines[1:], delimiter=";")]


def check_outputs(rows, dest, c, sep="/"):
    """Every output a line names is in the destination with that SHA-256 and
    those attributes. Returns the journal's counts for the run."""
    import pydicom
    warnings.simplefilter("ignore")
    seen = {"patients": set(), "studies": set(), "series": set(), "images": set()}
    not_dicom = 0
    for r in rows:
        if r["Ergebnis"] not in ("migriert", "BadObjects"):
            continue
        out = dest / r["Ausgabe"].replace(sep, "/")
        if not out.is_file():
            c.faults.append(f"protocol: {r['Datei']}: no output {out}")
            continue
        c.check(sha(out) == r["SHA-256"], f"protocol: {r['Datei']}: SHA-256 differs from {out.name}'s")
        try:
            ds = pydicom.dcmread(out, stop_before_pixels=True)
        except pydicom.errors.InvalidDicomError:
            c.check(r["Hinweis"].startswith("kein DICOM: "), f"protocol: {r['Datei']} is no DICOM: {r['Hinweis']!r}")
            not_dicom += 1
            continue
        for column, keyword in ATTRIBUTES:
            c.check(r[column] == str(ds.get(keyword, "")),
                    f"protocol: {r['Datei']}: {column} {r[column]!r}, pydicom reads {str(ds.get(keyword, ''))!r}")
        for key, keyword in (("patients", "PatientID"), ("studies", "StudyInstanceUID"),
                             ("series", "SeriesInstanceUID"), ("images", "SOPInstanceUID")):
            if ds.get(keyword):
                seen[key].add(str(ds.get(keyword)))
    return [len(seen["patients"]), len(seen["studies"]), len(seen["series"]), len(seen["images"]), not_dicom]


def check_proof_discs(proof, program, dest, journal, c, sep="/"):
    """The two discs of make_sample_disc.py --proof, migrated one after the
    other into `dest`: their protocols and journal lines."""
    first, second = [protocol_rows(p, c) for p in protocols(program)[-2:]]
    missing = [r for r in first if r["Ergebnis"] == "fehlt laut DICOMDIR"]
    c.check([(r["Datei"], r["SOP-Instanz-UID"]) for r in missing] ==
            [(proof["removed"]["file"].replace("/", sep), proof["removed"]["uid"])], f"missing per DICOMDIR: {missing}")
    for rows, line, repeated, disc in ((first, journal[-2], 0, proof["discs"][0]),
                                       (second, journal[-1], proof["repeated"], proof["discs"][1])):
        files = sorted(str(p.relative_to(disc)).replace("/", sep) for p in Path(disc).rglob("*") if p.is_file())
        # Wine keeps a CD-ROM drive's label and serial in files of its own.
        c.check(sorted(r["Datei"] for r in rows if r["Ergebnis"] != "fehlt laut DICOMDIR" and
                       not r["Datei"].startswith(".windows-")) == files,
                f"protocol lines are not the disc's files: {[r['Datei'] for r in rows]}")
        counts = check_outputs(rows, dest, c, sep)
        again = sum(r["Hinweis"].count("bereits im Ziel: ") for r in rows)
        differing = len({r["Patienten-ID"] for r in rows if "auch als" in r["Hinweis"]})
        c.check(line[12:20] == [str(n) for n in counts + [repeated, len(missing) if rows is first else 0, 1]] and
                again == repeated and differing == 1, f"journal line {line} for counts {counts}")
    c.check(any(r["Datei"] == proof["not_dicom"] and r["Hinweis"].startswith("kein DICOM") for r in first),
            "the file that is no DICOM is not named so")


def check_passes(stop, manifest, passes, target, images, c, sep="/"):
    """A disc passed twice into `target`: the images the protocols name are
    the disc's, once each; the outputs they do not name can only be those of
    the last batch before a kill; the second pass of a partly unreadable
    disc brings exactly its `images`."""
    named = [r["Ausgabe"] for rows in passes for r in rows if r["Ergebnis"] == "migriert"]
    c.same(f"{stop}: images the protocols name", images_of(manifest),
           [(sha(target / o), (target / o).stat().st_size) for o in named if (target / o).is_file()])
    unnamed = [p for p in target.iterdir() if p.name not in named]
    c.check(stop == "kill" or not unnamed, f"{stop}: outputs no protocol names: {unnamed}")
    if stop == "unreadable":
        c.check(sorted(r["Datei"] for r in passes[-1] if r["Ergebnis"] == "migriert") ==
                sorted(str(p.relative_to(manifest["disc"])).replace("/", sep) for p in images), f"{stop}: second pass")
    print(f"{stop}: {len(named)} images, {len(unnamed)} again from the last batch")


def check_pass_results(journal, c):
    results = [row[11] for row in journal]
    c.check(results == ["abgebrochen", "nur fehlende"] * 2 + ["abgeschlossen", "nur fehlende"], f"journal: {results}")


def second_passes(tmp, program, dest, c, drive, run_disc, options=(), encoding="utf-8", sep="/"):
    """A disc closed halfway, one killed halfway and one with two files that
    cannot be read, each passed again with the question's default: every
    image in its destination, once, but for the last batch before the kill.
    `with drive(n, manifest, target) as readable:` has disc n in a drive and
    the settings made for it; `readable(files, yes)` makes files of it
    unreadable or readable again. `run_disc(outputs=None, stop=None)`."""
    for n, stop in enumerate(("close", "kill", "unreadable")):
        target = dest / stop
        target.mkdir()
        manifest = sample_disc(tmp / f"pass{n}", "--system", "GEMED", "--seed", str(20 + n), *options)
        images = sorted(p for p in Path(manifest["disc"]).rglob("IM*") if "." not in p.name)[:2]
        with drive(n, manifest, target) as readable:
            first = len(protocols(program))
            if stop == "unreadable":
                readable([p.relative_to(manifest["disc"]) for p in images], False)
                c.check(run_disc() == ["report"], f"{stop}: boxes of the first pass")
                readable([p.relative_to(manifest["disc"]) for p in images], True)
            else:
                # Past the first batch of the protocol, and more since.
                batched = lambda: len(protocols(program)) > first and len(protocol_rows(protocols(program)[-1], c)) > 5
                run_disc(lambda: batched() and sum(1 for _ in target.iterdir()) > 60, stop)
            c.check(run_disc() == ["question", "report"], f"{stop}: boxes of the second pass")
        check_passes(stop, manifest, [protocol_rows(p, c) for p in protocols(program)[first:]], target, images, c, sep)
    check_pass_results(journal_rows(program, c, encoding), c)
