#!/usr/bin/env python3
"""Hostile-file run: crafted, truncated and bit-flipped WinDaq (.wdq) and text
(.dat with _info.txt) recordings go through every tamix-file command that
reads them: info, info --json, export to CSV, EDF+, .dat and .wdq, and repair
(on a copy). Each run has a time limit, an address-space limit and a limit on
the size of the files it writes.

A run fails on a crash (any signal), a hang, an exit status the help does not
list, a failure message that does not name the file, and on a success (exit 0)
whose output is not a faithful reading: JSON that is not JSON, nan or inf in
written values, an output far larger than its input, a header that breaks its
own format's rules, a written recording that tamix-file itself refuses to
read, or a repair that does not leave a readable recording.

The cases are a table (s0, s1, ...: every hostile value of every header
field, calibration word, event word, text value, time column, line shape and
info file once, on recordings built here) and then N random ones from a fixed
seed (0, 1, ...: recordings made by `tamix-record --simulate` and built here,
cut, flipped and rewritten). A case is the same in every run, so
`--case N --keep DIR` reproduces one finding.

    hostile_files.py TAMIX_FILE TAMIX_RECORD [--files N] [--seed S]
                     [--case N|sN] [--keep DIR] [--jobs J] [--verbose] [--sanitized]

N is 100 by default (the short run of the test command, about 330 files in
all); TAMIX_HOSTILE_FILES overrides it, e.g. TAMIX_HOSTILE_FILES=5000 for the
long run.
"""
import argparse
import concurrent.futures
import csv
import io
import json
import math
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

# Limits of one tamix-file run. The largest legitimate input here is a few
# MiB; every command on it ends in well under a second.
TIME_LIMIT_S = 30
ADDRESS_SPACE_BYTES = 1 << 30
WRITE_LIMIT_BYTES = 256 << 20
# An export may be larger than its input (CSV spells every sample out, EDF+
# fills its last data record), but not by more than this.
OUTPUT_FACTOR = 40
OUTPUT_SLACK_BYTES = 1 << 20

EXIT_STATUSES = {0, 1, 2}

# Open findings whose fixes are being made elsewhere: one entry per fault, as
# (commands, check, what the finding says, reason); the first and third are
# regular expressions. A finding that matches an entry is reported as
# expected and does not fail the run; every check still runs on every case.
# Remove an entry once its fix is merged, and the run holds the line again.
EXPECTED = []


# ---------------------------------------------------------------------------
# Building recordings

WDQ_HEADER = 1156
ENTRY_OFFSET = 110
ENTRY_SIZE = 36


def wdq_bytes(samples, n, period, *, cal=None, units=None, names=None, markers=(),
              first_byte=None, entry_offset=ENTRY_OFFSET, entry_size=ENTRY_SIZE,
              header_bytes=WDQ_HEADER, data_bytes=None, flags=0, trailer=True):
    """A WinDaq file as the format describes it; every field can be overridden."""
    h = bytearray(max(header_bytes, entry_offset + entry_size * n + 2, 112))
    struct.pack_into("<B", h, 0, first_byte if first_byte is not None else (n & 0x1F) | 0x20)
    struct.pack_into("<H", h, 2, (n * 500) & 0xFFFF)
    struct.pack_into("<BBH", h, 4, entry_offset & 0xFF, entry_size & 0xFF, header_bytes & 0xFFFF)
    data = b"".join(struct.pack("<h", s) for s in samples)
    struct.pack_into("<I", h, 8, len(data) if data_bytes is None else data_bytes)
    struct.pack_into("<d", h, 28, period)
    struct.pack_into("<II", h, 36, 1700000000, 1700000100)
    struct.pack_into("<H", h, 100, flags)
    for i in range(n):
        e = entry_offset + entry_size * i
        if e + 30 > len(h):
            break
        v1, v0 = cal[i] if cal else (1.0, 0.0)
        struct.pack_into("<ffdd", h, e, 8.0, 0.0, v1 / 819.2, v0)
        unit = (units[i] if units else "V").encode("cp1252", "replace")[:5]
        h[e + 24:e + 24 + len(unit)] = unit
        if e + 33 <= len(h):
            h[e + 32] = i + 1
    name_area = b"".join((x if isinstance(x, bytes) else x.encode("cp1252", "replace")) + b"\0"
                         for x in (names or []))
    events, comments = b"", b""
    for scan, text in markers:
        ptr = 0x80000000 | (len(name_area) + len(comments))
        events += struct.pack("<II", 0, 0) if scan == 0 else struct.pack("<i", -scan)
        events += struct.pack("<I", ptr)
        comments += (text if isinstance(text, bytes) else text.encode("cp1252", "replace")) + b"\0"
    if not events:
        events = bytes(8)
    if trailer:
        struct.pack_into("<IH", h, 12, len(events), len(name_area))
    # A header shorter than its own fields keeps only what fits: the data
    # follows where the header's size says.
    h = bytes(h[:header_bytes]) if header_bytes < len(h) else bytes(h)
    if not trailer:
        return h + data
    return h + data + events + name_area + comments


def wave(scans, n, seed):
    return [(((s * 40503 + k * 9001 + seed) % 65536) - 32768) & ~3
            for s in range(scans) for k in range(n)]


def dat_bytes(rows, period, fmt="{:.3f}"):
    lines = []
    for i, values in enumerate(rows):
        lines.append(" ".join([fmt.format(i * period)] + [f"{v:.4g}" for v in values]) + " \r\n")
    return "".join(lines).encode()


def info_bytes(names, markers, period):
    text = "".join(f"Channel name: {n}\r\n" for n in names)
    text += "".join(f"Marker #{m}: {c} at {s * period:.3f} sec\r\n"
                    for m, (s, c) in enumerate(markers))
    return text.encode("utf-8")


def record_seeds(recorder, work):
    """Recordings from the simulated units, as a user makes them."""
    seeds = []
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
    for key, inputs, seconds, kind in [("NORV40", "1,2,A", 0.2, "wdq"),
                                       ("A30008SN", "1", 1.0, "wdq"),
                                       ("A60089Rz", "1,2,3,4,A,B,C,D", 0.1, "wdq"),
                                       ("KPR-T310", "1,B", 0.3, "text"),
                                       ("HLX-7", "1,2,3,4,A,B,C,D", 0.05, "text")]:
        name = f"rec-{key}.{'wdq' if kind == 'wdq' else 'dat'}"
        path = os.path.join(work, name)
        r = subprocess.run([recorder, "--simulate", key, "--unpaced", "--inputs", inputs,
                            "--time", str(seconds), "--format", kind, path],
                           stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=120)
        if r.returncode != 0:
            raise SystemExit(f"tamix-record --simulate {key} failed: {r.stderr.decode()}")
        with open(path, "rb") as f:
            data = bytearray(f.read())
        files = {}
        if kind == "wdq":
            # The start and end times are the wall clock's: fixed here, so that
            # case N is the same file in every run.
            struct.pack_into("<II", data, 36, 1700000000, 1700000100)
            files[name.encode()] = bytes(data)
        else:
            files[name.encode()] = bytes(data)
            info = path[:-4] + "_info.txt"
            with open(info, "rb") as f:
                files[os.path.basename(info).encode()] = f.read()
        seeds.append((kind, name.encode(), files))
    return seeds


def built_seeds():
    """Recordings built here with names, units, calibrations and markers."""
    seeds = []
    n = 3
    scans = 700
    wdq = wdq_bytes(wave(scans, n, 1), n, 0.002, cal=[(1.0, 0.0), (2.5, -1.0), (-250.0, 1000.0)],
                    units=["V", "bar", "degC"], names=["Druck", "Temp", "caf\u00e9"],
                    markers=[(0, "Acquisition start"), (100, "Ventil auf"), (650, "Ende")])
    seeds.append(("wdq", b"built.wdq", {b"built.wdq": wdq}))
    hires = wdq_bytes(wave(300, 2, 7), 2, 0.001, flags=0x0002, names=["a", "b"],
                      markers=[(0, "Acquisition start"), (299, "last")])
    seeds.append(("wdq", b"hires.wdq", {b"hires.wdq": hires}))
    rows = [[math.sin(i / 10), i * 0.01, -5.0] for i in range(400)]
    seeds.append(("text", b"built.dat", {
        b"built.dat": dat_bytes(rows, 0.002),
        b"built_info.txt": info_bytes(["sin", "ramp", "minus"],
                                      [(0, "Acquisition start"), (120, "caf\u00e9 \u00b0")], 0.002)}))
    return seeds


# ---------------------------------------------------------------------------
# Making them hostile

HOSTILE_DOUBLES = [0.0, -0.0, -0.002, float("nan"), float("inf"), float("-inf"), 1e-9, 1e-300,
                   5e-324, 1e300, 1.7976931348623157e308, 1e9, 3.0e7, 2.0 ** -40]
HOSTILE_U32 = [0, 1, 2, 3, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0, 1 << 20]
HOSTILE_U16 = [0, 1, 110, 111, 1155, 1156, 1157, 0x7FFF, 0xFFFF]
HOSTILE_TOKENS = [b"nan", b"NaN", b"inf", b"-inf", b"1e308", b"-1e308", b"1e999", b"4.9e-324",
                  b"0x10", b"", b"--1", b"1e", b"+", b"9" * 400, b"1,5", b"\xff\xfe"]


def flip_bits(data, rng, count, header_bias):
    b = bytearray(data)
    if not b:
        return bytes(b)
    for _ in range(count):
        limit = min(len(b), WDQ_HEADER) if rng.random() < header_bias else len(b)
        p = rng.randrange(limit)
        b[p] ^= 1 << rng.randrange(8)
    return bytes(b)


def cut_points(size, rng):
    special = [0, 1, 2, 8, 30, 109, 110, 111, 146, 1155, 1156, 1157, size - 1, size - 2,
               size - 8]
    return [p for p in special if 0 <= p < size] + [rng.randrange(max(size, 1))]


# Header fields of a WinDaq file: offset, layout, hostile values.
WDQ_FIELDS = {
    "channel byte": (0, "<B", [0, 1, 0x20, 0x21, 0x3F, 0x28, 0x86, 0x9F, 0xA8, 0xC3, 0xFF, 6, 8,
                               31]),
    "entry offset": (4, "<B", [0, 1, 109, 111, 200, 255]),
    "entry size": (5, "<B", [0, 1, 29, 30, 37, 255]),
    "header bytes": (6, "<H", HOSTILE_U16),
    "data bytes": (8, "<I", HOSTILE_U32),
    "event bytes": (12, "<I", HOSTILE_U32),
    "annotation bytes": (16, "<H", HOSTILE_U16),
    "flags": (100, "<H", [0x0002, 0x4000, 0xFFFF, 0x8000, 0x0001]),
    "period": (28, "<d", HOSTILE_DOUBLES),
    "start time": (36, "<I", HOSTILE_U32),
}
WILD_EVENT_WORDS = [0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0xC0000000, 1 << 30, 0x80FFFFFF, 1]


def set_wdq_field(data, field, value):
    offset, layout, _ = WDQ_FIELDS[field]
    b = bytearray(data)
    struct.pack_into(layout, b, offset, value)
    return f"{field} {value!r}" if layout == "<d" else f"{field} {value:#x}", bytes(b)


def set_calibration(data, channel, word, value):
    """Sets the 1 V (word 8) or 0 V (word 16) double of a channel's entry."""
    b = bytearray(data)
    e = b[4] + b[5] * channel
    if e + word + 8 <= len(b):
        struct.pack_into("<d", b, e + word, value)
    return f"channel {channel + 1} {'1V' if word == 8 else '0V'} word {value!r}", bytes(b)


def trailer_start(data):
    header = struct.unpack_from("<H", data, 6)[0]
    data_bytes, event_bytes = struct.unpack_from("<II", data, 8)
    start = header + data_bytes
    return (start, event_bytes) if start < len(data) and event_bytes else (None, 0)


def set_event_word(data, index, value):
    start, event_bytes = trailer_start(data)
    b = bytearray(data)
    q = start + 4 * index if start is not None else len(b)
    if q + 4 <= len(b):
        struct.pack_into("<I", b, q, value)
    return bytes(b)


def without_nuls(data):
    """Names and comments that run to the end of the file."""
    start, event_bytes = trailer_start(data)
    b = bytearray(data)
    if start is not None:
        for q in range(start + event_bytes, len(b)):
            if b[q] == 0:
                b[q] = 0x41
    return bytes(b)


def mutate_wdq(rng, name, data):
    """One hostile change to a WinDaq file: (family, description, bytes)."""
    choice = rng.random()
    if choice < 0.15:
        p = rng.choice(cut_points(len(data), rng))
        return "wdq-truncate", f"cut to {p} bytes", data[:p]
    if choice < 0.35:
        count = rng.choice([1, 1, 2, 3, 8, 32])
        return "wdq-flip", f"{count} bits flipped", flip_bits(data, rng, count, 0.7)
    if len(data) < 112:
        return "wdq-junk", "short seed", data
    if choice < 0.65:
        field = rng.choice(list(WDQ_FIELDS) + ["period", "period"])
        values = WDQ_FIELDS[field][2]
        if field in ("header bytes", "data bytes", "event bytes"):
            values = values + [len(data), len(data) - WDQ_HEADER + 1]
        limit = {"<B": 0xFF, "<H": 0xFFFF, "<I": 0xFFFFFFFF}.get(WDQ_FIELDS[field][1])
        value = rng.choice(values)
        what, data = set_wdq_field(data, field, value & limit if limit else value)
        return "wdq-field", what, data
    if choice < 0.8:
        n = data[0] & 0x1F if data[0] & 0x20 else data[0]
        what, data = set_calibration(data, rng.randrange(max(1, min(n, 8))), rng.choice([8, 16]),
                                     rng.choice(HOSTILE_DOUBLES))
        return "wdq-calibration", what, data
    # The trailer: wild event words, names and comments without their NULs.
    start, event_bytes = trailer_start(data)
    if start is None:
        return "wdq-trailer", "no trailer to change", data
    kind = rng.choice(["words", "words", "no nul", "sizes"])
    if kind == "words":
        count = rng.randrange(1, 6)
        for _ in range(count):
            data = set_event_word(data, rng.randrange(max(1, event_bytes // 4)),
                                  rng.choice(WILD_EVENT_WORDS + [0x80000000 | rng.randrange(1 << 31),
                                                                 rng.randrange(1 << 32)]))
        return "wdq-trailer", f"{count} wild event words", data
    if kind == "no nul":
        return "wdq-trailer", "names and comments without NUL", without_nuls(data)
    b = bytearray(data)
    struct.pack_into("<IH", b, 12, rng.choice(HOSTILE_U32), rng.choice(HOSTILE_U16))
    return "wdq-trailer", "event and annotation sizes", bytes(b)


def crafted_wdq(rng):
    """A WinDaq header built from scratch with odd geometry."""
    n = rng.choice([0, 1, 2, 6, 8, 9, 16, 29, 31, 32, 40, 63, 100, 255])
    bit5 = rng.random() < 0.6
    high = rng.choice([0, 0x40, 0x80, 0xC0])
    first = ((n & 0x1F) | (0x20 if bit5 else 0) | high) & 0xFF if n < 32 or bit5 else n & 0xFF
    entry_size = rng.choice([36, 36, 30, 29, 40, 255])
    entry_offset = rng.choice([110, 110, 109, 0, 200])
    span = entry_offset + entry_size * n + 2
    header = rng.choice([WDQ_HEADER, span, span - 1, max(span, WDQ_HEADER) + 100, 0xFFFF])
    period = rng.choice(HOSTILE_DOUBLES + [0.002, 0.001, 0.0020025])
    scans = rng.choice([0, 1, 7, 8, 100, 1000])
    used = max(1, min(n, 8))
    wrong_size = rng.random() < 0.3
    data = wdq_bytes(wave(scans, used, 3), n, period, first_byte=first, entry_offset=entry_offset,
                     entry_size=entry_size, header_bytes=header & 0xFFFF,
                     data_bytes=(rng.choice(HOSTILE_U32) if wrong_size else None),
                     names=[f"c{i}" for i in range(min(n, 40))],
                     markers=[(0, "Acquisition start"), (rng.randrange(0, 2000), "m")],
                     trailer=rng.random() < 0.8)
    what = (f"{n} channels (byte 0x{first:02x}), entries {entry_size} B at {entry_offset}, "
            f"header {header & 0xFFFF}, period {period!r}, {scans} scans of {used}"
            + (", wrong data size" if wrong_size else ""))
    return "wdq-crafted", what, data


def junk(rng):
    size = rng.choice([0, 1, 109, 110, 111, 1155, 1156, 1157, 4096, rng.randrange(20000)])
    fill = rng.choice(["random", "zero", "ff", "text"])
    if fill == "random":
        data = bytes(rng.randrange(256) for _ in range(size))
    elif fill == "zero":
        data = bytes(size)
    elif fill == "ff":
        data = b"\xff" * size
    else:
        data = (b"0.000 1 2\r\n" * (size // 11 + 1))[:size]
    return f"{fill} bytes", data


def replace_token(line, column, token):
    """The value in `column` (0 is the time) replaced; its line ending kept."""
    parts = line.split(b" ")
    idx = [i for i, p in enumerate(parts) if p.strip(b"\r\n")]
    if not idx:
        return line
    i = idx[min(column, len(idx) - 1)]
    tail = b"\r\n" if parts[i].endswith(b"\r\n") else b""
    parts[i] = token + tail
    return b" ".join(parts)


DAT_TIMES = ["constant", "decreasing", "huge last", "nan last", "nano steps", "negative start",
             "inf last", "tiny span"]
DAT_SHAPES = ["nine values", "time only", "short middle", "long middle", "cr only", "nul",
              "long line", "blank lines", "bom", "one line", "tabs"]
INFO_KINDS = ["giant names", "many markers", "marker times", "not utf-8", "long name", "garbage",
              "missing", "flip", "many channels", "marker forms"]


def dat_value(data, line, column, token):
    lines = data.splitlines(keepends=True)
    i = min(line, len(lines) - 1) if line >= 0 else len(lines) + line
    lines[i] = replace_token(lines[i], column, token)
    return f"line {i + 1} column {column} holds {token[:20]!r}", b"".join(lines)


def dat_times(data, kind):
    lines = data.splitlines(keepends=True)
    n = len(lines[0].split()) - 1
    count = len(lines)
    if kind == "constant":
        times = [0.0] * count
    elif kind == "decreasing":
        times = [-0.002 * i for i in range(count)]
    elif kind == "nano steps":
        times = [1e-9 * i for i in range(count)]
    elif kind == "negative start":
        times = [-1e6 + 0.002 * i for i in range(count)]
    elif kind == "tiny span":
        times = [0.0] * (count - 1) + [1e-300]
    else:
        times = [0.002 * i for i in range(count)]
    last = {"huge last": b"1e300", "nan last": b"nan", "inf last": b"inf"}.get(kind)
    out = []
    for i, line in enumerate(lines):
        token = last if i == count - 1 and last else repr(times[i]).encode()
        out.append(b" ".join([token] + line.split()[1:1 + n]) + b" \r\n")
    return b"".join(out)


def dat_shape(data, kind, rng):
    lines = data.splitlines(keepends=True)
    if kind == "nine values":
        lines = [line.rstrip(b" \r\n") + b" 1" * 9 + b" \r\n" for line in lines]
    elif kind == "time only":
        lines = [line.split(b" ")[0] + b"\r\n" for line in lines]
    elif kind == "short middle":
        m = len(lines) // 2
        lines[m] = lines[m].split(b" ")[0] + b" 1\r\n"
    elif kind == "long middle":
        m = len(lines) // 2
        lines[m] = lines[m].rstrip(b" \r\n") + b" 1 2 3 4 5 6 7 8 9\r\n"
    elif kind == "cr only":
        return data.replace(b"\r\n", b"\r")
    elif kind == "nul":
        m = rng.randrange(len(lines))
        lines[m] = lines[m][:3] + b"\0" + lines[m][3:]
    elif kind == "long line":
        m = rng.randrange(len(lines))
        lines[m] = lines[m].rstrip(b"\r\n") + b" " * 1_000_000 + b"\r\n"
    elif kind == "blank lines":
        lines.insert(len(lines) // 2, b"\r\n")
    elif kind == "bom":
        lines[0] = b"\xef\xbb\xbf" + lines[0]
    elif kind == "one line":
        lines = lines[:1]
    else:
        lines = [line.replace(b" ", b"\t") for line in lines]
    return b"".join(lines)


def mutate_dat(rng, data):
    lines = data.splitlines(keepends=True)
    choice = rng.random()
    if choice < 0.2:
        p = rng.choice([0, 1, 5, len(data) // 2, len(data) - 1, len(data) - 3,
                        rng.randrange(max(len(data), 1))])
        return "dat-truncate", f"cut to {p} bytes", data[:p]
    if choice < 0.45:
        line = rng.choice([0, 1, len(lines) // 2, -1, rng.randrange(len(lines))])
        what, data = dat_value(data, line, rng.randrange(len(lines[0].split())),
                               rng.choice(HOSTILE_TOKENS))
        return "dat-value", what, data
    if choice < 0.7:
        kind = rng.choice(DAT_TIMES)
        return "dat-times", kind, dat_times(data, kind)
    if choice < 0.85:
        kind = rng.choice(DAT_SHAPES)
        return "dat-shape", kind, dat_shape(data, kind, rng)
    count = rng.choice([1, 2, 8, 64])
    return "dat-flip", f"{count} bits flipped", flip_bits(data, rng, count, 0.0)


def hostile_info(rng, info, kind=None):
    """One hostile change to an _info.txt file; None removes it."""
    kind = kind or rng.choice(INFO_KINDS)
    if kind == "giant names":
        return kind, b"Channel name: " + b"x" * (8 << 20) + b"\r\n"
    if kind == "many markers":
        return kind, info + b"".join(b"Marker #%d: m%d at %d.000 sec\r\n" % (i, i, i % 7)
                                     for i in range(200_000))
    if kind == "marker times":
        times = [b"nan", b"inf", b"-inf", b"-1", b"1e308", b"1e-320", b"", b"0x1", b"99999999999"]
        return kind, info + b"".join(b"Marker #%d: t at %s sec\r\n" % (i + 1, t)
                                     for i, t in enumerate(times))
    if kind == "not utf-8":
        return kind, (b"Channel name: caf\xe9\xff\xfe\r\nChannel name: \xc3\r\n"
                      b"Marker #0: \x80\x81 \xed\xa0\x80 at 0.000 sec\r\n"
                      b"Marker #1: \xf4\x90\x80\x80 at 0.010 sec\r\n")
    if kind == "long name":
        return kind, b"Channel name: " + "\u00e9".encode() * 5000 + b"\r\n" + info
    if kind == "garbage":
        return kind, bytes(rng.randrange(256) for _ in range(rng.randrange(1, 5000)))
    if kind == "missing":
        return kind, None
    if kind == "flip":
        return kind, flip_bits(info, rng, 8, 0.0)
    if kind == "many channels":
        return kind, b"".join(b"Channel name: c%d\r\n" % i for i in range(300)) + info
    return kind, info + (b"Marker #5 at 1.000 sec\r\nMarker #6: x at sec\r\n"
                         b"Marker #7:  at  at 2.000 sec\r\nMarker #: : at 3 sec\r\n")


def table_cases(seeds):
    """Every hostile value of every field once, on the recordings built here:
    (family, description, files, main) in a fixed order, named s0, s1, ..."""
    by_name = {main: (kind, files) for kind, main, files in seeds}
    cases = []
    _, files = by_name[b"built.wdq"]
    wdq = files[b"built.wdq"]
    for field, (_, layout, values) in WDQ_FIELDS.items():
        extra = [len(wdq), len(wdq) - WDQ_HEADER + 1] if layout in ("<H", "<I") else []
        for value in values + [v & (0xFFFF if layout == "<H" else 0xFFFFFFFF) for v in extra]:
            what, data = set_wdq_field(wdq, field, value)
            cases.append(("wdq-field", what, {b"built.wdq": data}, b"built.wdq"))
    for word in (8, 16):
        for value in HOSTILE_DOUBLES:
            what, data = set_calibration(wdq, 0, word, value)
            cases.append(("wdq-calibration", what, {b"built.wdq": data}, b"built.wdq"))
    for p in cut_points(len(wdq), random.Random(0))[:-1]:
        cases.append(("wdq-truncate", f"cut to {p} bytes", {b"built.wdq": wdq[:p]}, b"built.wdq"))
    start, event_bytes = trailer_start(wdq)
    for index in range(event_bytes // 4):
        for value in WILD_EVENT_WORDS:
            cases.append(("wdq-trailer", f"event word {index} {value:#x}",
                          {b"built.wdq": set_event_word(wdq, index, value)}, b"built.wdq"))
    cases.append(("wdq-trailer", "names and comments without NUL",
                  {b"built.wdq": without_nuls(wdq)}, b"built.wdq"))

    _, files = by_name[b"built.dat"]
    dat = files[b"built.dat"]
    info = files[b"built_info.txt"]

    def text_case(family, what, data=dat, info_data=info):
        case_files = {b"built.dat": data}
        if info_data is not None:
            case_files[b"built_info.txt"] = info_data
        cases.append((family, what, case_files, b"built.dat"))
    for token in HOSTILE_TOKENS:
        for line, column in [(0, 1), (1, 0), (-1, 1), (-1, 0)]:
            text_case("dat-value", *dat_value(dat, line, column, token))
    for kind in DAT_TIMES:
        text_case("dat-times", kind, dat_times(dat, kind))
    for kind in DAT_SHAPES:
        text_case("dat-shape", kind, dat_shape(dat, kind, random.Random(0)))
    for p in [0, 1, 5, len(dat) // 2, len(dat) - 1]:
        text_case("dat-truncate", f"cut to {p} bytes", dat[:p])
    for kind in INFO_KINDS:
        what, data = hostile_info(random.Random(0), info, kind)
        text_case("info-hostile", what, dat, data)
    return cases


ODD_NAMES = [b"rec\xff\xfe", b"caf\xe9", b"a b", b"\xc3(", b"x" * 200, b"-", b"r.WDQ.dat",
             b"\xe2\x80\xae"]


def make_case(index, seed, seeds):
    """Case `index`: (family, description, files {name: bytes or None}, main name)."""
    rng = random.Random(f"{seed}:{index}")
    pick = rng.random()
    if pick < 0.08:
        what, data = junk(rng)
        ext = rng.choice([b".wdq", b".dat"])
        return "junk", f"{what} as {ext.decode()}", {b"junk" + ext: data}, b"junk" + ext
    if pick < 0.18:
        family, what, data = crafted_wdq(rng)
        files, main = {b"crafted.wdq": data}, b"crafted.wdq"
    else:
        kind, main, files = rng.choice(seeds)
        files = dict(files)
        if kind == "wdq":
            family, what, files[main] = mutate_wdq(rng, main, files[main])
        else:
            info_name = main[:-4] + b"_info.txt"
            r = rng.random()
            if r < 0.6:
                family, what, files[main] = mutate_dat(rng, files[main])
            elif r < 0.9:
                kind_info, data = hostile_info(rng, files.get(info_name, b""))
                family, what = "info-hostile", kind_info
                if data is None:
                    files.pop(info_name, None)
                else:
                    files[info_name] = data
            else:
                family, what, files[main] = mutate_dat(rng, files[main])
                kind_info, data = hostile_info(rng, files.get(info_name, b""))
                what += f"; info file: {kind_info}"
                if data is None:
                    files.pop(info_name, None)
                else:
                    files[info_name] = data
    if rng.random() < 0.1:
        # The same recording under a name that is not UTF-8 or looks odd; a
        # text recording's info file follows the new name.
        stem = rng.choice(ODD_NAMES)
        ext = main[-4:]
        renamed = {}
        for name, data in files.items():
            if name == main:
                renamed[stem + ext] = data
            elif name.endswith(b"_info.txt"):
                renamed[stem + b"_info.txt"] = data
            else:
                renamed[name] = data
        files, main = renamed, stem + ext
        what += f"; named {main!r}"
    return family, what, files, main


# ---------------------------------------------------------------------------
# Running tamix-file and judging what it did


# The limits are set by a shell that then becomes the program: a preexec_fn
# would run Python between fork and exec, which the worker threads make unsafe.
LIMITED = ["/bin/sh", "-c",
           f"ulimit -v {ADDRESS_SPACE_BYTES // 1024} && ulimit -f {WRITE_LIMIT_BYTES // 512} && "
           'ulimit -c 0 && exec "$0" "$@"']
# A sanitizer build maps terabytes of shadow memory, so it gets its runtime's
# own memory limit instead of the address-space one, and a report of its own
# exit status.
SANITIZER_STATUS = 86
SANITIZED = ["/bin/sh", "-c",
             f'ulimit -f {WRITE_LIMIT_BYTES // 512} && ulimit -c 0 && exec "$0" "$@"']
SANITIZER_ENV = {
    "ASAN_OPTIONS": f"exitcode={SANITIZER_STATUS}:detect_leaks=0:"
                    f"hard_rss_limit_mb={ADDRESS_SPACE_BYTES >> 20}",
    "UBSAN_OPTIONS": f"halt_on_error=1:exitcode={SANITIZER_STATUS}:print_stacktrace=1",
}
sanitized = False


class Run:
    def __init__(self, status, out, err, seconds):
        self.status, self.out, self.err, self.seconds = status, out, err, seconds


def as_operand(arg):
    """A file name that begins with '-' is given as ./-name, as a user gives it
    to any program whose options begin with '-'."""
    if isinstance(arg, bytes):
        odd = arg.startswith(b"-") and not arg.startswith(b"--") and arg != b"-"
        return b"./" + arg if odd else arg
    odd = arg.startswith("-") and not arg.startswith("--") and arg != "-"
    return "./" + arg if odd else arg


def run_tool(tool, args, cwd):
    args = [args[0], *(as_operand(a) for a in args[1:])]
    start = time.monotonic()
    try:
        r = subprocess.run([*(SANITIZED if sanitized else LIMITED), tool, *args], cwd=cwd,
                           stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=TIME_LIMIT_S * (5 if sanitized else 1),
                           env=dict(os.environ, **SANITIZER_ENV) if sanitized else None)
    except subprocess.TimeoutExpired as e:
        return Run(None, e.stdout or b"", e.stderr or b"", time.monotonic() - start)
    return Run(r.returncode, r.stdout, r.stderr, time.monotonic() - start)


def describe_status(run):
    if run.status is None:
        return f"no end within {TIME_LIMIT_S} s"
    if run.status < 0:
        try:
            name = signal.Signals(-run.status).name
        except ValueError:
            name = f"signal {-run.status}"
        return f"killed by {name}"
    return f"exit {run.status}"


def strict_json(text):
    def refuse(token):
        raise ValueError(f"{token} is not JSON")
    try:
        return json.loads(text, parse_constant=refuse)
    except ValueError as e:
        bare = re.search(r"[:\[,]\s*(-?(?:nan|inf))\b", text)
        if bare:
            raise ValueError(f"a bare {bare.group(1)} ({e})") from None
        raise


def json_text(data):
    """Standard output as text; bytes that are not UTF-8 are caught on their own."""
    return data.decode("utf-8", "replace")


def finite_tokens(data):
    """The first token of a written text that is not a finite number, or None."""
    for line in data.splitlines():
        for token in line.replace(b",", b" ").split():
            low = token.lower()
            if b"nan" in low or b"inf" in low:
                return token.decode("latin-1")
    return None


def check_csv(path, scans):
    with open(path, "rb") as f:
        data = f.read()
    try:
        rows = list(csv.reader(io.StringIO(data.decode("utf-8", "replace"), newline="")))
    except csv.Error as e:
        return f"not a CSV file: {e}"
    if not rows:
        return "the CSV file is empty"
    for r, row in enumerate(rows[1:], start=2):
        for cell in row:
            try:
                v = float(cell)
            except ValueError:
                return f"row {r} holds {cell[:30]!r}, not a number"
            if not math.isfinite(v):
                return f"row {r} holds {cell!r}"
    if scans is not None and len(rows) - 1 != scans:
        return f"{len(rows) - 1} rows for {scans} scans"
    markers = path[:-4] + b"_markers.csv"
    if not os.path.exists(markers):
        return "no markers file beside the CSV"
    with open(markers, "rb") as f:
        try:
            mrows = list(csv.reader(io.StringIO(f.read().decode("utf-8", "replace"), newline="")))
        except csv.Error as e:
            return f"the markers file is not CSV: {e}"
    for r, row in enumerate(mrows[1:], start=2):
        for cell in row[:2]:
            try:
                if not math.isfinite(float(cell)):
                    return f"markers row {r} holds {cell!r}"
            except ValueError:
                return f"markers row {r} holds {cell[:30]!r}, not a number"
    return None


def edf_field(h, start, size):
    return h[start:start + size].decode("ascii", "replace").strip()


def check_edf(path, period):
    """The EDF+ header against the format's rules and the recording's rate."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        h = f.read(256)
        if len(h) < 256:
            return f"{len(h)} bytes, shorter than an EDF header"
        try:
            header_bytes = int(edf_field(h, 184, 8))
            records = int(edf_field(h, 236, 8))
            duration = float(edf_field(h, 244, 8))
            ns = int(edf_field(h, 252, 4))
        except ValueError:
            return "the main header has a field that is not a number"
        if ns < 1 or header_bytes != 256 * (ns + 1):
            return f"{ns} signals with a header of {header_bytes} bytes"
        s = f.read(256 * ns)
    if len(s) < 256 * ns:
        return "the signal headers are cut short"
    if any(c < 32 or c > 126 for c in h + s):
        return "the header holds characters outside printable ASCII"

    def col(offset, width, i):
        return edf_field(s, ns * offset + width * i, width)
    total = 0
    signals = 0
    for i in range(ns):
        label = col(0, 16, i)
        fields = {}
        for what, offset in [("physical minimum", 104), ("physical maximum", 112)]:
            text = col(offset, 8, i)
            try:
                fields[what] = float(text)
            except ValueError:
                fields[what] = float("nan")
            if not math.isfinite(fields[what]):
                return f"signal {i + 1}: the {what} {text!r} is not a finite number"
        pmin, pmax = fields["physical minimum"], fields["physical maximum"]
        try:
            dmin, dmax = int(col(120, 8, i)), int(col(128, 8, i))
            spr = int(col(216, 8, i))
        except ValueError:
            return f"signal {i + 1}: a digital range or sample count that is not a whole number"
        if pmin == pmax:
            return f"signal {i + 1}: an empty physical range, {pmin} to {pmax}"
        if not -32768 <= dmin < dmax <= 32767 or spr < 1:
            return f"signal {i + 1}: digital {dmin} to {dmax}, {spr} samples per record"
        total += spr
        if label != "EDF Annotations":
            signals += 1
            if not duration > 0:
                return f"a data record of {duration} s"
            if period and period > 0:
                rate = spr / duration
                if abs(rate * period - 1) > 1e-6:
                    return f"{rate} samples/s written for a rate of {1 / period} samples/s"
    if records < 0 or size != header_bytes + records * total * 2:
        return f"{size} bytes for {records} records of {total} samples"
    if signals == 0:
        return "no signal besides the annotations"
    return None


def check_written_recording(tool, path, cwd, scans, want_period):
    """An exported .dat or .wdq must be read back by tamix-file itself."""
    run = run_tool(tool, ["info", path, "--json"], cwd)
    if run.status != 0:
        return f"tamix-file refuses its own output: {run.err.decode('utf-8', 'replace').strip()}"
    try:
        info = strict_json(json_text(run.out))
    except ValueError as e:
        return f"info --json of the output is not JSON: {e}"
    if scans is not None and info["scans"] != scans:
        return f"the output holds {info['scans']} scans, the source {scans}"
    if path.endswith(b".wdq"):
        with open(os.path.join(cwd, path), "rb") as f:
            head = f.read(36)
        written = struct.unpack_from("<d", head, 28)[0] if len(head) >= 36 else float("nan")
        if not (math.isfinite(written) and written > 0):
            return f"a .wdq written with the period {written!r}"
        if want_period and abs(written / want_period - 1) > 1e-9:
            return f"a .wdq written with the period {written!r} for {want_period!r}"
    with open(os.path.join(cwd, path), "rb") as f:
        data = f.read()
    if path.endswith(b".dat"):
        bad = finite_tokens(data)
        if bad:
            return f"the .dat output holds {bad!r}"
    return None


def names_the_file(run, names):
    err = run.err
    return any(n in err for n in names)


def judge(tool, case_dir, main, input_bytes):
    """Runs every command on one case; returns [(command, check, detail)]."""
    findings = []

    def finding(command, check, detail):
        findings.append((command, check, detail))

    def basic(command, run, names):
        if run.status is None:
            finding(command, "hang", describe_status(run))
            return False
        if run.status < 0:
            check = "output-limit" if run.status == -signal.SIGXFSZ else "crash"
            finding(command, check, describe_status(run) + tail(run.err))
            return False
        if sanitized and run.status == SANITIZER_STATUS:
            report = [line for line in run.err.decode("utf-8", "replace").splitlines()
                      if "Sanitizer" in line or "runtime error" in line]
            line = (report[0] if report else "a report")[:300]
            # Its memory limit is the address-space limit of a plain build.
            finding(command, "crash" if "hard rss limit" in line else "sanitizer", line)
            return False
        if run.status not in EXIT_STATUSES:
            finding(command, "status", describe_status(run) + tail(run.err))
            return False
        if run.status == 2:
            finding(command, "usage-status",
                    "exit 2 (wrong command line) for a file problem" + tail(run.err))
            return False
        if run.status == 1 and not names_the_file(run, names):
            finding(command, "unnamed-failure", "the message names no file" + tail(run.err))
        return run.status == 0

    info_run = run_tool(tool, ["info", main], case_dir)
    basic("info", info_run, [main])
    json_run = run_tool(tool, ["info", main, "--json"], case_dir)
    scans = period = None
    if basic("info-json", json_run, [main]):
        try:
            json_run.out.decode("utf-8")
        except UnicodeDecodeError as e:
            finding("info-json", "not-utf8", f"JSON must be UTF-8: {e}")
        try:
            info = strict_json(json_text(json_run.out))
            scans = info["scans"]
            period = info["period_s"]
            numbers = [period, info["duration_s"]] + \
                [c[k] for c in info["channels"] for k in ("valueAt1V", "valueAt0V")]
            # JSON has no NaN or infinity: such a number is null, and a note
            # must say which one it was.
            said = " ".join(info.get("notes", []))
            if not all((isinstance(v, (int, float)) and math.isfinite(v)) or v is None
                       for v in numbers) or \
                    (None in numbers and "not a finite number" not in said and
                     info.get("period_s") is not None):
                finding("info-json", "non-finite", f"numbers {numbers[:6]}")
            if not isinstance(scans, int) or scans < 0:
                finding("info-json", "bad-field", f"scans {scans!r}")
        except (ValueError, KeyError, TypeError) as e:
            finding("info-json", "not-json", str(e)[:200])
    if info_run.status != json_run.status:
        finding("info-json", "disagrees", f"info: {describe_status(info_run)}, "
                f"info --json: {describe_status(json_run)}")

    for fmt in ["csv", "edf", "dat", "wdq"]:
        command = f"export-{fmt}"
        out = b"out." + fmt.encode()
        outdir = os.path.join(case_dir, b"out-" + fmt.encode())
        os.mkdir(outdir)
        target = os.path.join(b"out-" + fmt.encode(), out)
        run = run_tool(tool, ["export", main, target], case_dir)
        if not basic(command, run, [main, out]):
            continue
        written = sum(os.path.getsize(os.path.join(outdir, f)) for f in os.listdir(outdir))
        bound = OUTPUT_FACTOR * input_bytes + OUTPUT_SLACK_BYTES
        if written > bound:
            finding(command, "output-size", f"{written} bytes written from {input_bytes}")
            continue
        path = os.path.join(case_dir, target)
        if not os.path.exists(path):
            finding(command, "no-output", "exit 0 without the output file")
            continue
        if fmt == "csv":
            problem = check_csv(path, scans)
        elif fmt == "edf":
            problem = check_edf(path, period)
        else:
            problem = check_written_recording(tool, target, case_dir, scans, period)
        if problem:
            finding(command, "unfaithful", problem)

    # Repair works on a copy of its own, with the info file beside it.
    repair_dir = os.path.join(case_dir, b"repair")
    os.mkdir(repair_dir)
    for name in os.listdir(case_dir):
        full = os.path.join(case_dir, name)
        if os.path.isfile(full) and not os.path.islink(full):
            shutil.copyfile(full, os.path.join(repair_dir, name))
    with open(os.path.join(repair_dir, main), "rb") as f:
        before = f.read()
    run = run_tool(tool, ["repair", main], repair_dir)
    if basic("repair", run, [main]):
        backup = os.path.join(repair_dir, main + b".bak")
        with open(os.path.join(repair_dir, main), "rb") as f:
            changed = f.read() != before
        if changed and b"nothing to repair" in run.out:
            finding("repair", "unfaithful", "the file changed, yet 'nothing to repair'")
        if changed and not os.path.exists(backup):
            finding("repair", "unfaithful", "the file changed, and no FILE.bak keeps the original")
        elif changed:
            with open(backup, "rb") as f:
                if f.read() != before:
                    finding("repair", "unfaithful", "FILE.bak is not the original")
        after = run_tool(tool, ["info", main, "--json"], repair_dir)
        if after.status != 0:
            finding("repair", "unfaithful", "the repaired file cannot be read: "
                    + after.err.decode("utf-8", "replace").strip()[:200])
        else:
            again = run_tool(tool, ["repair", main], repair_dir)
            if again.status != 0 or b"nothing to repair" not in again.out:
                finding("repair", "unfaithful", f"a second repair: {describe_status(again)} "
                        + (again.out + again.err).decode("utf-8", "replace").strip()[:200])
    return findings


def tail(err):
    text = err.decode("utf-8", "replace").strip().splitlines()
    return (": " + text[-1][:200]) if text else ""


def expected_reason(command, check, detail):
    for e_command, e_check, e_detail, reason in EXPECTED:
        if re.fullmatch(e_command, command) and e_check == check and re.search(e_detail, detail):
            return reason
    return None


def run_case(tool, index, seed, seeds, table, scratch, keep):
    """Case `index`: "sN" is entry N of the table, a number a random case."""
    try:
        if index.startswith("s"):
            family, what, files, main = table[int(index[1:])]
        else:
            family, what, files, main = make_case(int(index), seed, seeds)
    except Exception as e:  # a fault of this harness: reported with its case, never passed
        return index, "harness", "making the case", b"", [("harness", "error", repr(e))]
    case_dir = os.path.join(scratch, b"case" + index.encode())
    os.mkdir(case_dir)
    input_bytes = 0
    for name, data in files.items():
        if data is None:
            continue
        with open(os.path.join(case_dir, name), "wb") as f:
            f.write(data)
        input_bytes += len(data)
    try:
        findings = judge(tool, case_dir, main, input_bytes)
    except Exception as e:  # a fault of this harness: reported with its case, never passed
        findings = [("harness", "error", f"{type(e).__name__}: {e}")]
    if findings and keep:
        dest = os.path.join(os.fsencode(keep), b"case" + index.encode())
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        for name, data in files.items():
            if data is not None:
                with open(os.path.join(dest, name), "wb") as f:
                    f.write(data)
    shutil.rmtree(case_dir, ignore_errors=True)
    return index, family, what, main, findings


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tamix_file")
    parser.add_argument("tamix_record")
    parser.add_argument("--files", type=int,
                        default=int(os.environ.get("TAMIX_HOSTILE_FILES", "100")),
                        help="random cases after the table's")
    parser.add_argument("--seed", type=int, default=21)
    parser.add_argument("--case", action="append",
                        help="run only case N or table case sN (repeatable)")
    parser.add_argument("--keep", help="save the files of every case with a finding here")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--verbose", action="store_true", help="list every finding")
    parser.add_argument("--sanitized", action="store_true",
                        help="TAMIX_FILE is an AddressSanitizer/UBSan build: its reports fail")
    args = parser.parse_args()
    global sanitized
    sanitized = args.sanitized

    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tamix-hostile-") as scratch:
        seeds = record_seeds(args.tamix_record, scratch) + built_seeds()
        table = table_cases(seeds)
        cases = args.case or ([f"s{i}" for i in range(len(table))] +
                              [str(i) for i in range(args.files)])
        work = os.fsencode(scratch)
        results = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            futures = [pool.submit(run_case, args.tamix_file, i, args.seed, seeds, table, work,
                                   args.keep) for i in cases]
            for future in concurrent.futures.as_completed(futures):
                results.append(future.result())
                if len(results) % 500 == 0:
                    print(f"{len(results)} of {len(cases)} files, "
                          f"{sum(len(r[4]) for r in results)} finding(s) so far", file=sys.stderr,
                          flush=True)
    # Table cases first, then the random ones, each in their order.
    results.sort(key=lambda r: (r[0][0] != "s", int(r[0].lstrip("s"))))

    unexpected, expected = [], []
    families = {}
    for index, family, what, main, findings in results:
        families[family] = families.get(family, 0) + 1
        for command, check, detail in findings:
            reason = expected_reason(command, check, detail)
            entry = (index, family, what, main, command, check, detail, reason)
            (expected if reason else unexpected).append(entry)

    def show(entries, label, key):
        groups = {}
        for e in entries:
            groups.setdefault(key(e), []).append(e)
        for group, items in sorted(groups.items()):
            print(f"{label} {group}: {len(items)} finding(s)")
            for index, family, what, _, command, check, detail, _ in \
                    items[:None if args.verbose else 3]:
                print(f"    case {index}, {family} ({what}): {command} / {check}: {detail}")

    show(unexpected, "FAIL", lambda e: f"{e[4]} / {e[5]} / {e[1]}")
    show(expected, "XFAIL", lambda e: f"expected, {e[7]}")
    used = {e[7] for e in expected}
    for _, _, _, reason in EXPECTED:
        if reason not in used:
            print(f"note: no case showed the expected fault '{reason}' in this run")
    print(f"{len(results)} files ({', '.join(f'{k} {v}' for k, v in sorted(families.items()))}), "
          f"{len(unexpected)} finding(s), {len(expected)} expected, seed {args.seed}, "
          f"{time.monotonic() - started:.0f} s")
    sys.exit(1 if unexpected else 0)


if __name__ == "__main__":
    main()
