#!/usr/bin/env python3
"""Runs the built `tamix-file info --json` over a table of recordings (one made
by tamix-record, hand-made WinDaq files with calibrations that are not finite,
texts with quotes, control characters and bytes that are not UTF-8, a text
recording, a file cut short) and parses every answer with Python's own json
module, refusing the NaN and Infinity it would otherwise let through. Numbers
that are finite must come back as written; the others as null with a note.
  info_json.py TAMIX_FILE TAMIX_RECORD"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

TOOL, RECORDER = sys.argv[1], sys.argv[2]
NAN, INF = float("nan"), float("inf")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def strict_json(text):
    def refuse(constant):
        raise ValueError(f"not JSON: {constant}")
    return json.loads(text, parse_constant=refuse)


def make_wdq(path, cal, markers=(), scans=100, cut=0):
    """A WinDaq file of len(cal) channels; cal holds (value at 1 V, value at 0 V)."""
    n = len(cal)
    h = bytearray(1156)
    struct.pack_into("<HHBBH", h, 0, n | 0x20, n * 500, 110, 36, 1156)
    struct.pack_into("<I", h, 8, scans * 2 * n)
    struct.pack_into("<d", h, 28, 0.002)
    struct.pack_into("<I", h, 36, 1700000000)
    for i, (v1, v0) in enumerate(cal):
        e = 110 + 36 * i
        struct.pack_into("<ffdd", h, e, 8.0, 0.0, v1 / 819.2, v0)
        h[e + 24:e + 28] = b"Volt"
        h[e + 32] = i + 1
    data = b"".join(struct.pack("<h", (s * 37 + k * 1000) * 4 % 32768)
                    for s in range(scans) for k in range(n))
    names = b"".join(b"chn\0" for _ in cal)
    comments = events = b""
    for scan, text in ((0, b"Acquisition start"),) + tuple(markers):
        ptr = 0x80000000 | (len(names) + len(comments))
        events += struct.pack("<II", 0, 0) if scan == 0 else struct.pack("<i", -scan)
        events += struct.pack("<I", ptr)
        comments += text + b"\0"
    struct.pack_into("<IH", h, 12, len(events), len(names))
    body = bytes(h) + data + events + names + comments
    with open(path, "wb") as f:
        f.write(body[:len(body) - cut] if cut else body)


def make_text(path, comments):
    with open(path, "wb") as f:
        for s in range(50):
            f.write(b"%.3f %.4g %.4g \r\n" % (s * 0.002, s * 0.5, -s * 0.25))
    with open(path[:-4] + "_info.txt", "wb") as f:
        f.write(b"Channel name: Druck \"A\" \\ \x01\r\nChannel name: caf\xe9\r\n")
        f.write(b"Marker #0: Acquisition start at 0.000 sec\r\n")
        for m, text in enumerate(comments, 1):
            f.write(b"Marker #%d: " % m + text + b" at %.3f sec\r\n" % (m * 0.01))


def info(path):
    r = subprocess.run([TOOL, "info", path, "--json"], capture_output=True, timeout=60)
    check(r.returncode == 0, f"{path}: exit {r.returncode}: {r.stderr.decode(errors='replace')}")
    try:
        return strict_json(r.stdout.decode("utf-8"))
    except (ValueError, UnicodeDecodeError) as e:
        check(False, f"{path}: {e}: {r.stdout[:400]!r}")
        return None


def same(a, b):
    return a is None if b is None else a is not None and math.isclose(a, b, rel_tol=1e-9)


with tempfile.TemporaryDirectory() as tmp:
    def at(name):
        return os.path.join(tmp, name)

    # A recording as tamix-record makes it, with markers typed on its input
    # (paced, so that the run is still going when they are read).
    typed = ['quote " and backslash \\', "tab\there", "caf\u00e9 \u00b0"]
    with open(at("typed.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(typed) + "\n")
    with open(at("typed.txt"), "rb") as stdin:
        r = subprocess.run([RECORDER, "--simulate", "--quiet", "--profile",
                            at("p.INI"), "--inputs", "1,A", "--cal", "A=-2.5,1000", "--time",
                            "0.3", at("recorded.wdq")], stdin=stdin, capture_output=True,
                           timeout=60)
    check(r.returncode == 0, f"tamix-record: {r.stderr.decode(errors='replace')}")

    # name, file, expected calibrations ((1 V, 0 V) or None for null), marker
    # comments after the start marker, whether a note must name a non-finite value
    cases = []
    cases.append(("recorded", at("recorded.wdq"), [(1, 0), (-2.5, 1000)], typed, False))
    bad = [(NAN, 0), (1, INF), (-INF, 2), (0.5, 3)]
    make_wdq(at("nonfinite.wdq"), bad)
    cases.append(("non-finite calibration", at("nonfinite.wdq"),
                  [(None, 0), (1, None), (None, 2), (0.5, 3)], [], True))
    make_wdq(at("nan0.wdq"), [(2, NAN)], markers=[(10, b"ok")])
    cases.append(("NaN at 0 V", at("nan0.wdq"), [(2, None)], ["ok"], True))
    odd = b'ctl \x01\x1f quote " back \\ slash \x7f'
    make_wdq(at("texts.wdq"), [(1, 0)], markers=[(5, odd), (6, b"\xe9\xb5\xb0")])
    cases.append(("control characters", at("texts.wdq"), [(1, 0)],
                  [odd.decode("cp1252"), "\u00e9\u00b5\u00b0"], False))
    make_wdq(at("cut.wdq"), [(1, 0), (3, -1)], scans=200, cut=150)
    cases.append(("cut short", at("cut.wdq"), [(1, 0), (3, -1)], None, False))
    make_wdq(at("empty.wdq"), [(1, 0)], scans=0)
    cases.append(("no scans", at("empty.wdq"), [(1, 0)], [], False))
    make_text(at("text.dat"), [b"not UTF-8 \xff\xfe", b'say "hi" \\ \x02'])
    cases.append(("text recording", at("text.dat"), None,
                  ["not UTF-8 \ufffd\ufffd", 'say "hi" \\ \x02'], False))

    for name, path, cal, comments, nonfinite in cases:
        j = info(path)
        if j is None:
            continue
        if cal is not None:
            got = [(c["valueAt1V"], c["valueAt0V"]) for c in j["channels"]]
            check(len(got) == len(cal) and all(same(g[0], e[0]) and same(g[1], e[1])
                                               for g, e in zip(got, cal)),
                  f"{name}: calibrations {got}, expected {cal}")
        if comments is not None:
            got = [m["comment"] for m in j["markers"]][1:]
            check(got == comments, f"{name}: comments {got!r}, expected {comments!r}")
        notes = " ".join(j["notes"])
        check(("not a finite number" in notes) == nonfinite, f"{name}: notes {j['notes']}")
        check(isinstance(j["scans"], int) and j["period_s"] == 0.002 or name == "text recording",
              f"{name}: scans {j['scans']}, period {j['period_s']}")
        if name == "cut short":
            check(j["incomplete"] is True, "cut short: not incomplete")

if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print(f"info --json: {len(cases)} recordings parsed as strict JSON")
