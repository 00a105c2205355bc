"""What a disc's protocol must prove of a run, checked against the files in
the destination: each output's SHA-256 and its UIDs as pydicom reads them,
what the DICOMDIR names, and the counts of the run's journal line."""
import csv
import warnings
from pathlib import Path

from e2e_checks import crlf_lines, sha

# Protocol column, pydicom keyword.
ATTRIBUTES = [("Patienten-ID", "PatientID"), ("Patientenname", "PatientName"), ("Geburtsdatum", "PatientBirthDate"),
              ("Studien-UID", "StudyInstanceUID"), ("Serien-UID", "SeriesInstanceUID"),
              ("SOP-Instanz-UID", "SOPInstanceUID"), ("Modalität", "Modality")]


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
        c.check(sorted(r["Datei"] for r in rows if r["Ergebnis"] != "fehlt laut DICOMDIR") == files,
                f"protocol lines are not the disc's files: {[r['Datei'] for r in rows]}")
        counts = check_outputs(rows, dest, c, sep)
        again = sum(r["Hinweis"].count("bereits im Ziel: ") for r in rows)
        differing = len({r["Patienten-ID"] for r in rows if "auch als" in r["Hinweis"]})
        c.check(line[12:20] == [str(n) for n in counts + [repeated, len(missing) if rows is first else 0, 1]] and
                again == repeated and differing == 1, f"journal line {line} for counts {counts}")
    c.check(any(r["Datei"] == proof["not_dicom"] and r["Hinweis"].startswith("kein DICOM") for r in first),
            "the file that is no DICOM is not named so")
