#!/usr/bin/env python3
# Sample archive discs for the end-to-end tests, and what migrating each must leave.
"""Writes a sample archive disc of one PACS system, and beside it
manifest.json: what migrating that disc must leave in the destination,
in BadObjects, in Logs/Error.txt and in the report.

    tools/make_sample_disc.py --system "Arzt und Praxis" /tmp/sample
    -> /tmp/sample/disc/...  and  /tmp/sample/manifest.json

Needs dump2dcm and dcmmkdir (dcmtk), gzip and compress (ncompress).

With --proof, two GEMED discs of real DICOM files from many vendors
instead (pydicom's test data; run it with Debian's python3, which has
pydicom): the first with a DICOMDIR that names one image the disc no longer
holds, a file that is no DICOM and one Patient ID under two names; the
second repeats two images of the first. proof.json says what the protocol
of each must show.
"""
import argparse
import collections
import hashlib
import json
import os
import random
import subprocess
import sys
import tempfile
from pathlib import Path

SYSTEMS = ("Arzt und Praxis", "GEMED", "HIPAX")
MARKER = b"#*lastfile*#"
INVALID = "5 - Invalid procedure call or argument - ScanFolder - "
# Stands for the reason a failing decompressor gives in its error-log line.
DECOMPRESSOR_REASON = "<reason>"

# Where the images lie on the disc: blanks, umlauts and depth, as archives
# named their folders after patients and months.
FOLDERS = [
    "", "DICOM", "DICOM/PAT00001", "DICOM/PAT00001/STU00001/SER00001",
    "DICOM/Müller, Anna", "DICOM/Müller, Anna/Röntgen Thorax",
    "ARCHIV/2003/Januar", "ARCHIV/2003/Februar", "ARCHIV/2004/März",
    "ARCHIV/2004/März/Nachträge", "Bilder mit Leerzeichen", "Ärzte/Dr. Weiß",
]


def sha(data):
    return hashlib.sha256(data).hexdigest()


def run(cmd, data=None, cwd=None):
    return subprocess.run(cmd, input=data, cwd=cwd, capture_output=True, check=True).stdout


# --- DICOM payloads --------------------------------------------------------

def dicom_payloads(work, rng, count=10):
    """DICOM files (preamble, meta header) from dump2dcm, of varying size."""
    payloads = []
    for i in range(count):
        rows, cols, bits = 8 + 3 * i, 6 + 5 * i, (8, 16)[i % 2]
        pixels = work / f"px{i}.raw"
        pixels.write_bytes(rng.randbytes(rows * cols * bits // 8))
        # Upper-case and broken markers inside an image must not cut it.
        description = ("Kontrolle #*LASTFILE*#", "Thorax #*lastfile*", "Hand re.")[i % 3]
        dump = f"""(0008,0005) CS [ISO_IR 100]
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [2.25.{rng.getrandbits(120)}]
(0008,0020) DA [2004030{i % 9 + 1}]
(0008,0030) TM [1205{i:02d}]
(0008,0060) CS [OT]
(0008,1030) LO [{description}]
(0010,0010) PN [{("Müller^Anna", "Weiß^Jürgen", "Öztürk^Ayla")[i % 3]}]
(0010,0020) LO [P{i:05d}]
(0020,000d) UI [2.25.{rng.getrandbits(120)}]
(0020,000e) UI [2.25.{rng.getrandbits(120)}]
(0020,0010) SH [{i + 1}]
(0020,0011) IS [1]
(0020,0013) IS [{i + 1}]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US {rows}
(0028,0011) US {cols}
(0028,0100) US {bits}
(0028,0101) US {bits}
(0028,0102) US {bits - 1}
(0028,0103) US 0
(7fe0,0010) {"OB" if bits == 8 else "OW"} ={pixels.name}
"""
        (work / f"p{i}.txt").write_text(dump, encoding="latin-1")
        run(["dump2dcm", "-q", "+te", f"p{i}.txt", f"p{i}.dcm"], cwd=work)
        data = (work / f"p{i}.dcm").read_bytes()
        # Unwrapping cuts from the first 0x00 byte to the first marker.
        assert data[0] == 0 and MARKER not in data
        payloads.append(data)
    return payloads


def dicomdir(work, payloads):
    """A real DICOMDIR over a few of the images."""
    root = work / "dd"
    (root / "IMAGES").mkdir(parents=True)
    for i, data in enumerate(payloads[:3]):
        (root / "IMAGES" / f"IM{i:06d}").write_bytes(data)
    run(["dcmmkdir", "-q", "+I", "+r", "IMAGES"], cwd=root)
    return (root / "DICOMDIR").read_bytes()


# --- "Arzt und Praxis" archive objects ---------------------------------------

def compress(data, tool):
    # -f: compress keeps quiet and writes even when nothing was gained.
    return run([tool, "-c", "-f"], data)


def gzip_d(data, work):
    """What `gunzip.exe -d -f` leaves: (failed?, input kept?, decompressed bytes)."""
    src = work / "w.dcm.z"
    out = src.with_suffix("")
    src.write_bytes(data)
    failed = subprocess.run(["gzip", "-d", "-f", str(src)], capture_output=True).returncode != 0
    result = (failed, src.exists(), out.read_bytes() if out.exists() else b"")
    for f in (src, out):
        f.unlink(missing_ok=True)
    return result


def extract(content):
    start = content.find(b"\0")
    end = content.find(MARKER, start) if start >= 0 else -1
    return content[start:end] if end >= 0 else None


def wrapper(name, i):
    # Never a 0x00 byte; high bytes and a stray marker are allowed.
    head = b"AuP-ARCHIV 2.1\r\nObjekt=" + name.encode() + b"\r\nArzt=Dr. M\xfcller\xff\r\n"
    assert b"\0" not in head
    return (b"", head, head + MARKER + b"\r\n")[i % 3]


def tail(i):
    return (b"", b"\r\nEnde\x00\x01\x02", MARKER + b"zweiter Teil" + MARKER)[i % 3]


def arzt_objects(payloads, rng, good):
    """(folder, name, stored bytes) of every archive object on the disc."""
    objects = []
    patterns = ["IMG{:04d}.Z", "BILD {}.R", "Ärztin {}.Z", "img{:04d}.z", "scan {}.r",
                "A.B{}.R", "Übersicht_{}.Z", "BILD {}.Z"]
    for i in range(good):
        name = patterns[i % len(patterns)].format(i)
        content = wrapper(name, rng.randrange(3)) + rng.choice(payloads) + MARKER + tail(rng.randrange(3))
        objects.append((rng.choice(FOLDERS), name, compress(content, rng.choice(("gzip", "compress")))))
    # The same base twice in one folder: both share one working copy name.
    twin = next(folder for folder, name, _ in objects if name == "BILD 7.Z")
    objects.append((twin, "BILD 7.R", compress(wrapper("BILD 7.R", 1) + payloads[7] + MARKER, "compress")))
    # Short names that unwrap are migrated like any other.
    objects.append(("DICOM", "Q.r", compress(payloads[3] + MARKER, "gzip")))
    # Legal on a disc, device names to Win32; and a name whose working path
    # passes Windows' 260 characters.
    for folder, name in (("", "CON.Z"), ("DICOM", "aux.R"), ("DICOM/PAT00001", "LPT1.Z"),
                         ("ARCHIV/2003/Januar", "Langer Name " + "x" * 226 + ".Z")):
        objects.append((folder, name, compress(wrapper(name, 1) + payloads[2] + MARKER, "gzip")))

    p = payloads[0]
    gz, lzw = (compress(b"kopf" + p + MARKER, tool) for tool in ("gzip", "compress"))
    bad = [
        ("", "DEFEKT1.Z", compress(b"kein Nullbyte" + MARKER + b"rest", "gzip")),
        ("ARCHIV/2003/Januar", "DEFEKT2.Z", compress(b"kopf" + p + b"ohne Ende", "compress")),
        ("DICOM/Müller, Anna", "DEFEKT3.R", compress(b"kopf" + MARKER + p, "gzip")),
        ("Bilder mit Leerzeichen", "DEFEKT4.Z", gz[:len(gz) // 2]),
        ("ARCHIV/2004/März", "DEFEKT5.Z", lzw[:len(lzw) // 2]),
        # Same name in another folder: the copies are numbered, never overwritten.
        ("DICOM", "DEFEKT1.Z", compress(b"anderer Inhalt" + MARKER, "compress")),
        ("DICOM/PAT00001", "LEER.Z", b""),
        # The last 4 characters are 5 bytes here: cutting bytes would split the Ö.
        ("DICOM/PAT00001", "Kaputt Öl.r", compress(p[:200], "gzip")),
        ("DICOM/PAT00001", "XY.Z", compress(b"vier Zeichen", "gzip")),
        ("Ärzte/Dr. Weiß", "A.Z", compress(b"zu kurz" + MARKER, "gzip")),
        # Set aside as AUX.O.err: a device name to Win32 too.
        ("DICOM", "AUX.OLD.Z", compress(b"kopf ohne Nullbyte", "compress")),
    ]
    return objects + bad


# --- the disc and what migrating it must give ------------------------------

def plain_files(payloads, directory, system, rng, count):
    """GEMED and HIPAX discs hold the DICOM files themselves."""
    # The DICOMDIR names the first three images, which lie where it says.
    files = [("", "DICOMDIR", directory)] + [("IMAGES", f"IM{i:06d}", payloads[i]) for i in range(3)]
    files += [("", "README.TXT", "Archiv-CD\r\nBitte nicht beschreiben.\r\n".encode()),
             ("", "AUTORUN.INF", b"[autorun]\r\nopen=viewer.exe\r\n"),
             ("DICOM/Müller, Anna", "Befund für Ärzte.txt", "Befund\r\n".encode())]
    if system == "GEMED":
        patterns = ["IM{:06d}", "Aufnahme {}", "Röntgen {}", "IM{:06d}", "SCAN{}", "IM{:06d}.DCM"]
    else:
        patterns = ["{:08d}.DCM", "IMG {}.dcm", "Ärztin {}", "IM{:06d}", "bild.{}", "scan {}.r"]
    for i in range(count):
        files.append((rng.choice(FOLDERS), patterns[i % len(patterns)].format(i), rng.choice(payloads)))
    return files


def expect(system, files, dicom, work):
    """The destination, BadObjects, error log and counts a correct run yields."""
    dest, bad, log = [], collections.defaultdict(list), []
    selected = 0
    for _folder, name, data in files:
        if system != "Arzt und Praxis":
            selected += 1
            if system == "HIPAX" or "." not in name:
                dest.append(data)
            continue
        if not name.upper().endswith(("Z", "R")):
            continue
        selected += 1
        if "." not in name:
            log.append(INVALID + name)
            continue
        failed, kept, content = gzip_d(data, work)
        if failed:
            # The decompressor's own words vary by tool; the run's check masks them.
            log.append(f"-1 - File {name} could not be decompressed: {DECOMPRESSOR_REASON} - ScanFolder")
        payload = extract(content)
        if payload is not None:
            dest.append(payload)
            continue
        log.append(f"-1 - File {name} could not be migrated. - CorrectImage")
        if len(name) < 4:
            log.append(INVALID + name)
            continue
        bad[name[:-4]].append(data)
        if not kept:
            # gzip took its input away, so the working copy's deletion fails.
            log.append(f"53 - File not found - ScanFolder - {name}")
    counts = collections.Counter(dest)
    return {
        "system": system,
        "files_on_disc": len(files),
        "selected": selected,
        "migrated": len(dest),
        "report": f"{len(dest)} von {selected} Dateien konnten erfolgreich migriert werden.",
        "destination": [{"sha256": sha(d), "size": len(d), "count": n, "dicom": d in dicom}
                        for d, n in counts.items()],
        # BadObjects/<base>.err, <base>2.err, ...: which copy gets which
        # number follows the order in which the file system lists the disc.
        "bad_objects": {base: sorted(({"sha256": sha(d), "size": len(d)} for d in datas),
                                     key=lambda e: e["sha256"])
                        for base, datas in bad.items()},
        "error_log": sorted(log),
    }


def write_disc(root, files):
    for folder, name, data in files:
        path = root / folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        assert not path.exists(), path
        path.write_bytes(data)
    # Read-only, as burnt on the disc.
    for dirpath, dirnames, filenames in os.walk(root, topdown=False):
        for f in filenames:
            os.chmod(os.path.join(dirpath, f), 0o444)
        os.chmod(dirpath, 0o555)


def generate(system, out, objects=220, seed=1):
    out = Path(out)
    if out.exists() and any(out.iterdir()):
        raise SystemExit(f"{out} is not empty")
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        payloads = dicom_payloads(work, rng)
        directory = dicomdir(work, payloads)
        dicom = set(payloads) | {directory}
        if system == "Arzt und Praxis":
            files = [("", "README.TXT", b"Archiv-CD\r\n"), ("", "AUTORUN.INF", b"[autorun]\r\n"),
                     ("DICOM", "IMAGE.DCM", payloads[1]), ("DICOM/Müller, Anna", "Befund.pdf", b"%PDF-1.4\n")]
            files += arzt_objects(payloads, rng, objects)
        else:
            files = plain_files(payloads, directory, system, rng, objects)
        manifest = expect(system, files, dicom, work)
    out.mkdir(parents=True, exist_ok=True)
    write_disc(out / "disc", files)
    manifest["disc"] = str((out / "disc").resolve())
    (out / "manifest.json").write_text(json.dumps(manifest, indent=1, ensure_ascii=False), encoding="utf-8")
    return manifest


# --- discs of real DICOM files, for the protocol -----------------------------

PYDICOM_FILES = ["test_files/CT_small.dcm", "test_files/MR_small_bigendian.dcm", "test_files/MR_small_implicit.dcm",
                 "test_files/SC_rgb_small_odd.dcm", "test_files/liver_1frame.dcm", "test_files/rtdose_1frame.dcm",
                 "charset_files/chrGerm.dcm", "charset_files/chrRuss.dcm", "charset_files/chrX1.dcm",
                 "charset_files/chrFren.dcm"]
# What a directory record asks of an instance, where a test file lacks it.
RECORD_DEFAULTS = {"StudyDate": "20040301", "StudyTime": "120000", "StudyID": "1", "Modality": "OT",
                   "SeriesNumber": "1", "InstanceNumber": "1", "PatientID": "ANON"}


def proof_discs(out, seed):
    import warnings
    import pydicom
    import pydicom.data
    from pydicom.fileset import FileSet
    from pydicom.uid import generate_uid
    warnings.simplefilter("ignore")
    data = Path(pydicom.data.__file__).parent
    datasets = []
    for n, name in enumerate(PYDICOM_FILES):
        ds = pydicom.dcmread(data / name)
        for keyword, value in RECORD_DEFAULTS.items():
            if not ds.get(keyword):
                setattr(ds, keyword, value + str(n) if keyword == "PatientID" else value)
        datasets.append(ds)
    # One Patient ID under two names and birth dates, as two practices wrote it.
    for n, (patient, birth) in enumerate((("Muster^Max", "19600101"), ("Muster^Moritz", "19610202"),
                                          ("Muster^Erika", "19620303"))):
        ds = pydicom.dcmread(data / "test_files/CT_small.dcm")
        ds.PatientID, ds.PatientName, ds.PatientBirthDate = "JOR-4711", patient, birth
        ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=[str(seed), str(n)])
        datasets.append(ds)
    first, second = out / "disc1", out / "disc2"
    fileset = FileSet()
    for ds in datasets[:-1]:  # the last for the second disc
        fileset.add(ds)
    fileset.write(first)
    images = sorted(p for p in first.rglob("IM*") if p.is_file())
    removed = images[1]
    removed_uid = str(pydicom.dcmread(removed).SOPInstanceUID)
    removed.unlink()
    (first / "LIESMICH").write_bytes("Archiv-CD der Praxis\r\nBitte nicht beschreiben.\r\n".encode())
    # The second disc: two images of the first again, and one of its own.
    second.mkdir()
    for n, image in enumerate(images[2:4]):
        (second / f"IM{n:06d}").write_bytes(image.read_bytes())
    datasets[-1].save_as(second / "IM000002", write_like_original=False)
    for disc in (first, second):
        write_disc(disc, [])
    proof = {"discs": [str(first.resolve()), str(second.resolve())],
             "removed": {"file": str(removed.relative_to(first)), "uid": removed_uid},
             "not_dicom": "LIESMICH", "differing_patient": "JOR-4711", "repeated": 2}
    (out / "proof.json").write_text(json.dumps(proof, indent=1), encoding="utf-8")
    return proof


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--system", choices=SYSTEMS)
    parser.add_argument("--objects", type=int, default=220, help="images on the disc (at least 200)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--proof", action="store_true", help="two GEMED discs of real DICOM files instead")
    parser.add_argument("out", help="new or empty folder: gets disc/ and manifest.json")
    args = parser.parse_args()
    if args.proof:
        proof = proof_discs(Path(args.out), args.seed)
        print(f"{proof['discs'][0]}, {proof['discs'][1]}: {json.dumps(proof['removed'])} removed")
        return 0
    if not args.system:
        parser.error("--system or --proof")
    if args.objects < 200:
        parser.error("--objects: at least 200")
    m = generate(args.system, args.out, args.objects, args.seed)
    print(f"{m['disc']}: {m['files_on_disc']} files; expected: {m['report']}")


if __name__ == "__main__":
    sys.exit(main())
