#!/usr/bin/env python3
"""A split run read back with the built tamix-file: hand-made chains of three
WinDaq files and of three text files (run.wdq, run-0002.wdq, run-0003.wdq,
each later file beginning with its "Continued from" marker). From any of its
files, `info` names the chain and its files and counts every scan, `stats`
takes every scan of every file, `export` to CSV gives the parts exported one
by one with --only-this-file put one after the other, with the time running
on across the switches, and the values are those this script wrote. A broken
link ends the chain with a note; repair works on the one file named.
  chain_readback.py TAMIX_FILE"""
import csv
import json
import os
import struct
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
PERIOD = 0.002
LENGTHS = [1234, 700, 901]
NAMES = ["Druck", "Temp"]
CAL = [(1.0, 0.0), (2.5, -1.0)]  # value at 1 V, value at 0 V
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def sample(scan, k):
    """The run's sample of channel k at scan `scan`, event bits clear."""
    return (((scan * 40503 + k * 9001) % 65536) - 32768) & ~3


def file_names(ext):
    return ["run" + ext] + ["run-%04d%s" % (i, ext) for i in range(2, len(LENGTHS) + 1)]


def first_markers(ext):
    """Each file's own markers, with scans counted from its first scan."""
    names = file_names(ext)
    out, before = [], 0
    for i, length in enumerate(LENGTHS):
        head = "Acquisition start" if i == 0 else f"Continued from {names[i - 1]} at scan {before}"
        out.append([(0, head), (100 + i, f"mark {i + 1}")])
        before += length
    return out


def make_wdq(path, first, scans, markers, channels=2):
    h = bytearray(1156)
    struct.pack_into("<HHBBH", h, 0, channels | 0x20, channels * 500, 110, 36, 1156)
    struct.pack_into("<I", h, 8, scans * 2 * channels)
    struct.pack_into("<d", h, 28, PERIOD)
    struct.pack_into("<I", h, 36, 1700000000 + first // 500)
    for i in range(channels):
        v1, v0 = CAL[i % 2]
        e = 110 + 36 * i
        struct.pack_into("<ffdd", h, e, 8.0, 0.0, v1 / 819.2, v0)
        h[e + 24:e + 25] = b"V"
        h[e + 32] = i + 1
    data = b"".join(struct.pack("<h", sample(first + s, k))
                    for s in range(scans) for k in range(channels))
    names = b"".join(NAMES[i % 2].encode() + b"\0" for i in range(channels))
    comments = events = b""
    for scan, text in markers:
        ptr = 0x80000000 | (len(names) + len(comments))
        events += struct.pack("<II", 0, 0) if scan == 0 else struct.pack("<i", -scan)
        events += struct.pack("<I", ptr)
        comments += text.encode() + b"\0"
    struct.pack_into("<IH", h, 12, len(events), len(names))
    with open(path, "wb") as f:
        f.write(bytes(h) + data + events + names + comments)


def make_text(path, first, scans, markers):
    with open(path, "wb") as f:
        for s in range(scans):
            volts = [sample(first + s, k) / 3276.8 for k in range(2)]
            f.write(("%.3f " % (s * PERIOD) + "".join("%.4g " % v for v in volts)).encode()
                    + b"\r\n")
    with open(path[:-len(".dat")] + "_info.txt", "wb") as f:
        for name in NAMES:
            f.write(f"Channel name: {name}\r\n".encode())
        for m, (scan, text) in enumerate(markers):
            f.write(f"Marker #{m}: {text} at {scan * PERIOD:.3f} sec\r\n".encode())


def make_chain(folder, ext):
    paths, first = [], 0
    for name, length, markers in zip(file_names(ext), LENGTHS, first_markers(ext)):
        path = os.path.join(folder, name)
        (make_wdq if ext == ".wdq" else make_text)(path, first, length, markers)
        paths.append(path)
        first += length
    return paths


def run(*args):
    r = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=120)
    check(r.returncode == 0, f"{' '.join(args)}: exit {r.returncode}: {r.stderr}")
    return r.stdout


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], [[float(x) for x in row] for row in rows[1:]]


def check_chain(folder, ext):
    paths = make_chain(folder, ext)
    total = sum(LENGTHS)
    starts = [sum(LENGTHS[:i]) for i in range(len(LENGTHS))]
    for given in paths:
        info = json.loads(run("info", given, "--json"))
        check(info.get("chain") == paths, f"{given}: chain {info.get('chain')}")
        check(info["scans"] == total, f"{given}: {info['scans']} scans, not {total}")
        check(info["file"] == given, f"{given}: file {info['file']}")
        want = [(s + start, text)
                for start, marks in zip(starts, first_markers(ext)) for s, text in marks]
        got = [(m["scan"], m["comment"]) for m in info["markers"]]
        check(got == want, f"{given}: markers {got}")
        text = run("info", given)
        check(f"Chain:     {len(paths)} files\n" in text, f"{given}: info text\n{text}")
        for k, path in enumerate(paths, 1):
            check(f"  {k}  {path}\n" in text, f"{given}: info text lacks {path}")
    for path, length in zip(paths, LENGTHS):
        alone = json.loads(run("info", path, "--json", "--only-this-file"))
        check("chain" not in alone and alone["scans"] == length,
              f"{path} alone: {alone.get('chain')} {alone['scans']}")

    whole = os.path.join(folder, "whole.csv")
    run("export", paths[1], whole)
    header, rows = read_csv(whole)
    parts = []
    for i, path in enumerate(paths):
        out = os.path.join(folder, f"part{i + 1}.csv")
        run("export", path, out, "--only-this-file")
        part_header, part_rows = read_csv(out)
        check(part_header == header, f"{out}: header {part_header} against {header}")
        check(len(part_rows) == LENGTHS[i], f"{out}: {len(part_rows)} rows")
        parts.append(part_rows)
    concatenated = [row[1:] for part in parts for row in part]
    check([row[1:] for row in rows] == concatenated,
          f"{ext}: the chain's values are not the parts' put one after the other")
    check(len(rows) == total, f"{ext}: {len(rows)} rows, not {total}")
    # Times run on across the switches: every row one period after the last.
    for i, row in enumerate(rows):
        if abs(row[0] - i * PERIOD) > 1e-9:
            check(False, f"{ext}: row {i} at {row[0]} s, not {i * PERIOD} s")
            break
    # The values the script wrote, calibrated: WinDaq's within a rounding of
    # its printed digits, text's within the four significant digits it keeps.
    for i, row in enumerate(rows):
        for k, (v1, v0) in enumerate(CAL):
            volts = sample(i, k) / 3276.8
            want = volts * v1 + v0 if ext == ".wdq" else volts
            if abs(row[1 + k] - want) > 1e-6 + 6e-4 * abs(want):
                check(False, f"{ext}: row {i} channel {k + 1} is {row[1 + k]}, not {want}")
                return
    # stats take the whole chain as well: every scan of every file.
    stats = json.loads(run("stats", paths[2], "--json"))
    for k, channel in enumerate(stats["channels"]):
        column = [row[1 + k] for row in rows]
        mean = sum(column) / len(column)
        check(channel["scans"] == total and abs(channel["mean"] - mean) < 1e-6 * (1 + abs(mean))
              and channel["min"] == min(column) and channel["max"] == max(column),
              f"{ext}: stats of channel {k + 1}: {channel}, mean {mean}")
    markers_csv = whole[:-4] + "_markers.csv"
    with open(markers_csv, newline="") as f:
        marker_rows = list(csv.reader(f))[1:]
    continued = [r for r in marker_rows if any("Continued from" in c for c in r)]
    check(len(continued) == len(paths) - 1, f"{markers_csv}: {marker_rows}")
    for r, start in zip(continued, starts[1:]):
        check(r[0] == str(start) and abs(float(r[1]) - start * PERIOD) < 1e-9,
              f"{markers_csv}: {r} is not at scan {start}, {start * PERIOD} s")


def check_broken(folder):
    paths = make_chain(folder, ".wdq")
    marks = first_markers(".wdq")[2]
    marks[0] = (0, "Continued from run-0002.wdq at scan 1")
    make_wdq(paths[2], sum(LENGTHS[:2]), LENGTHS[2], marks)
    info = json.loads(run("info", paths[0], "--json"))
    check(info.get("chain") == paths[:2], f"broken: chain {info.get('chain')}")
    check(info["scans"] == sum(LENGTHS[:2]), f"broken: {info['scans']} scans")
    check(any(n.startswith("The chain ends before run-0003.wdq: ") for n in info["notes"]),
          f"broken: notes {info['notes']}")
    alone = json.loads(run("info", paths[2], "--json"))
    check("chain" not in alone and alone["scans"] == LENGTHS[2], f"broken: {alone}")
    # repair works per file: a whole file of a chain has nothing to repair.
    out = run("repair", paths[1])
    check(out == f"{paths[1]}: nothing to repair\n", f"repair: {out}")


def check_repair(folder):
    """repair works on the one file named: a chain's first file cut short is
    repaired alone, the files after it keep every byte, and the chain holds."""
    paths = make_chain(folder, ".wdq")
    with open(paths[0], "r+b") as f:
        f.truncate(1156 + LENGTHS[0] * 4)  # the trailer is lost
    after = [open(p, "rb").read() for p in paths[1:]]
    # The names it lost with its trailer are those of the files after it.
    info = json.loads(run("info", paths[1], "--json"))
    check(info["incomplete"] and info.get("chain") == paths, f"cut: {info}")
    check([c["name"] for c in info["channels"]] == NAMES, f"cut: {info['channels']}")
    out = run("repair", paths[0])
    check(out.startswith(paths[0] + ": "), f"repair: {out}")
    check(os.path.exists(paths[0] + ".bak"), "repair: no backup of the file named")
    check([open(p, "rb").read() for p in paths[1:]] == after, "repair: other files changed")
    check(not any(os.path.exists(p + ".bak") for p in paths[1:]), "repair: other files kept")
    alone = json.loads(run("info", paths[0], "--json", "--only-this-file"))
    check(not alone["incomplete"] and alone["scans"] == LENGTHS[0], f"repaired: {alone}")


def main():
    for ext in (".wdq", ".dat"):
        with tempfile.TemporaryDirectory() as folder:
            check_chain(folder, ext)
    with tempfile.TemporaryDirectory() as folder:
        check_broken(folder)
    with tempfile.TemporaryDirectory() as folder:
        check_repair(folder)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
