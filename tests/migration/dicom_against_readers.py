#!/usr/bin/python3
"""Every file of pydicom's test data through dicom_attributes (--tool): the
values pydicom reads, and those dcmdump prints where it reads the file; a file
pydicom refuses is no DICOM for us either, but for the exceptions below."""
import json
import re
import subprocess
import sys
import warnings
from pathlib import Path

import pydicom
from pydicom.multival import MultiValue

DATA = Path(pydicom.__file__).parent / "data"
# Refused by pydicom without force=True, read by us: streams without a preamble
# that start with group 0008 (ACR-NEMA), compared as pydicom reads them when forced.
WITHOUT_PREAMBLE = {"rtstruct.dcm", "ExplVR_BigEndNoMeta.dcm", "ExplVR_LitEndNoMeta.dcm"}
# Its last record's item claims 24 bytes more than the file holds: pydicom
# takes the cut item as a record, we hand on the records before it and say why.
CUT_DICOMDIR = {"DICOMDIR-nooffset": "bricht bei Byte 11092 ab"}
FIELDS = {  # ours: (tag, decoded by the character set)
    "mediaStorageSopClassUid": (0x00020002, False), "mediaStorageSopInstanceUid": (0x00020003, False),
    "sopClassUid": (0x00080016, False), "sopInstanceUid": (0x00080018, False), "studyDate": (0x00080020, False),
    "accessionNumber": (0x00080050, True), "modality": (0x00080060, False), "studyDescription": (0x00081030, True),
    "patientName": (0x00100010, True), "patientId": (0x00100020, True), "patientBirthDate": (0x00100030, False),
    "studyInstanceUid": (0x0020000D, False), "seriesInstanceUid": (0x0020000E, False),
}
DCMDUMP_FIELDS = [f for f, (_, decoded) in FIELDS.items() if not decoded] + ["patientId"]
SINGLE_SETS = {"", "ISO_IR 6", "ISO_IR 100", "ISO_IR 101", "ISO_IR 144", "ISO_IR 192"}
EXTENDED_SETS = {"", "ISO 2022 IR 6", "ISO 2022 IR 100", "ISO 2022 IR 101", "ISO 2022 IR 144"}


def text(value):
    return "\\".join(map(str, value)) if isinstance(value, MultiValue) else str(value)


def escaped(raw, name):
    """What we make of a value in a character set we do not read."""
    parts = [p.rstrip(b"=") for p in raw.rstrip(b"\0 ").split(b"\\")] if name else \
        [p.rstrip(b"\0 ") for p in raw.split(b"\\")]
    return "\\".join("".join(chr(b) if b < 0x80 else f"\\x{b:02X}" for b in p) for p in parts)


def expected(ds):
    meta = getattr(ds, "file_meta", None) or {}
    syntax = meta.get("TransferSyntaxUID") or "1.2.840.10008.1.2" + (
        "" if ds.is_implicit_VR else ".1" if ds.is_little_endian else ".2")
    values = {"transferSyntax": str(syntax)}
    charset = ds.get("SpecificCharacterSet")
    terms = [t.strip() for t in (charset if isinstance(charset, MultiValue) else [charset or ""])]
    readable = set(terms) <= (EXTENDED_SETS if len(terms) > 1 or terms[0].startswith("ISO 2022") else SINGLE_SETS)
    for field, (tag, decoded) in FIELDS.items():
        holder = meta if tag >> 16 == 2 else ds
        raw = holder.get_item(tag).value if tag in holder else None
        values[field] = "" if raw is None else text(holder[tag].value) if readable or not decoded else \
            escaped(raw, tag == 0x00100010)
    return values


def dcmdump(path):
    run = subprocess.run(["dcmdump", "-q", "-Un", "+L", str(path)], capture_output=True)
    top = {}
    for line in run.stdout.decode("latin-1").splitlines():
        m = re.match(r"\(([0-9a-f]{4}),([0-9a-f]{4})\) (\w\w) (\[(.*?)\]|\(no value available\))?", line)
        if m:  # no text in brackets, or UN: bytes DCMTK did not take for text
            top[int(m[1] + m[2], 16)] = None if m[3] == "UN" or not m[4] else m[5] or ""
    return {f: top.get(FIELDS[f][0], "") for f in DCMDUMP_FIELDS} if run.returncode == 0 else None


def tool(*args):
    out = subprocess.run([sys.argv[sys.argv.index("--tool") + 1], *map(str, args)], capture_output=True, check=True)
    return [json.loads(line) for line in out.stdout.decode().splitlines()]


warnings.simplefilter("ignore")  # pydicom warns of every oddity it reads over
files = sorted(p for p in DATA.rglob("*") if p.is_file() and p.suffix not in (".py", ".pyc"))
ours = tool(*files)
if tool("--chunk", 7, *files) != ours:
    sys.exit("FAIL: fed in chunks of 7 bytes, the values differ from those fed whole")
failures, compared, dumped, records = [], 0, 0, 0
for path, got in zip(files, ours):
    try:
        ds = pydicom.dcmread(path, force=path.name in WITHOUT_PREAMBLE)
    except Exception as e:  # every refusal: pydicom's kinds of error are not ours to sort
        if got["isDicom"]:
            failures.append(f"{path}: pydicom refuses it ({type(e).__name__}), we read it")
        continue
    compared += 1
    if not got["isDicom"]:
        failures.append(f"{path}: pydicom reads it, we say: {got['reason']}")
        continue
    failures += [f"{path}: {f}: ours {got[f]!r}, pydicom {v!r}" for f, v in expected(ds).items() if got[f] != v]
    dump = dcmdump(path) or {}
    dumped += bool(dump)
    failures += [f"{path}: {f}: ours {got[f]!r}, dcmdump {v!r}" for f, v in dump.items()
                 if v is not None and v.isascii() and got[f] != v]
    if "DirectoryRecordSequence" in ds:
        lines, end = tool("--dicomdir", path), CUT_DICOMDIR.get(path.name)
        want = [(text(r.ReferencedFileID).split("\\"), str(r.get("ReferencedSOPInstanceUIDInFile", "")))
                for r in ds.DirectoryRecordSequence if r.get("ReferencedFileID")][:-1 if end else None]
        if [(r["fileId"], r["sopInstanceUid"]) for r in lines[:-1]] != want or lines[-1]["end"] != end:
            failures.append(f"{path}: the DICOMDIR's records differ ({len(lines) - 1} against {len(want)})")
        records += len(want)
print(f"{len(files)} files; {compared} compared with pydicom, {dumped} with dcmdump; {records} DICOMDIR records")
print("\n".join(failures) or "no differences")
sys.exit(1 if failures else 0)

