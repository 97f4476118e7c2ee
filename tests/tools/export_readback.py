#!/usr/bin/env python3
"""Exports a hand-made WinDaq recording with the built tamix-file to CSV and EDF+
and reads both back with pandas (default options) and MNE-Python: names, rate,
values within one digital step, markers. Labels say which input a channel
comes from (eight channels) or its place (fewer), within EDF+'s 16 characters.
A hand-made text recording's EDF+ export starts when the recording did. Also
checks repair and exit statuses. Exits 77 (skipped) when pandas or MNE cannot
be imported."""
import datetime
import json
import os
import struct
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import pandas as pd
    import mne
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

TOOL = sys.argv[1]
PERIOD = 0.002
SCANS = 2345  # not a whole number of EDF data records
NAMES = ["Druck \u00b5", "Temp \u00b0", "caf\u00e9"]
UNITS = ["V", "bar", "degC"]
CAL = [(1.0, 0.0), (2.5, -1.0), (-250.0, 1000.0)]  # valueAt1V, valueAt0V
MARKERS = [(0, "Acquisition start"), (700, "Ventil auf, jetzt"), (2000, "caf\u00e9 \u00b0")]


def sample(scan, k):
    return (((scan * 40503 + k * 9001) % 65536) - 32768) & ~3


def make_wdq(path, names=NAMES, units=UNITS, cal=CAL, markers=MARKERS):
    n = len(names)
    h = bytearray(1156)
    struct.pack_into("<HHBBH", h, 0, n | 0x20, n * 500, 110, 36, 1156)
    struct.pack_into("<I", h, 8, SCANS * 2 * n)
    struct.pack_into("<d", h, 28, PERIOD)
    struct.pack_into("<I", h, 36, 1700000000)
    for i, ((v1, v0), unit) in enumerate(zip(cal, units)):
        e = 110 + 36 * i
        struct.pack_into("<ffdd", h, e, 8.0, 0.0, v1 / 819.2, v0)
        h[e + 24:e + 24 + len(unit)] = unit.encode("cp1252")
        h[e + 32] = i + 1
    data = bytearray()
    for s in range(SCANS):
        for k in range(n):
            data += struct.pack("<h", sample(s, k))
    names = b"".join(x.encode("cp1252") + b"\0" for x in names)
    comments = b""
    events = b""
    for scan, text in markers:
        ptr = 0x80000000 | (len(names) + len(comments))
        events += struct.pack("<II", 0, 0) if scan == 0 else struct.pack("<i", -scan)
        events += struct.pack("<I", ptr)
        comments += text.encode("cp1252") + b"\0"
    struct.pack_into("<IH", h, 12, len(events), len(names))
    with open(path, "wb") as f:
        f.write(bytes(h) + bytes(data) + events + names + comments)


def expected():
    out = np.zeros((SCANS, len(NAMES)))
    for s in range(SCANS):
        for k, (v1, v0) in enumerate(CAL):
            out[s, k] = sample(s, k) / 3276.8 * v1 + v0
    return out


def run(*args, status=0):
    r = subprocess.run([TOOL, *args], capture_output=True, text=True)
    assert r.returncode == status, f"{args}: status {r.returncode}, stderr {r.stderr}"
    return r


def main():
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAILED:", what)

    with tempfile.TemporaryDirectory(prefix="tamix-export-") as d:
        wdq = os.path.join(d, "run.wdq")
        make_wdq(wdq)
        want = expected()

        info = json.loads(run("info", wdq, "--json").stdout)
        check([c["name"] for c in info["channels"]] == NAMES, "info names")
        check(info["scans"] == SCANS and not info["incomplete"], "info scans")
        check([m["comment"] for m in info["markers"]] == [t for _, t in MARKERS], "info markers")

        csv = os.path.join(d, "run.csv")
        run("export", wdq, csv)
        frame = pd.read_csv(csv)
        # Three channels do not say their inputs: the labels give their places.
        titles = ["time_s"] + [f"#{k + 1}: {n} [{u}]" for k, (n, u) in enumerate(zip(NAMES, UNITS))]
        check(list(frame.columns) == titles, f"CSV titles {list(frame.columns)}")
        check(len(frame) == SCANS, f"CSV rows {len(frame)}")
        check(np.allclose(frame["time_s"].to_numpy(), np.arange(SCANS) * PERIOD, atol=1e-9),
              "CSV times")
        check(np.allclose(frame.iloc[:, 1:].to_numpy(), want, rtol=0, atol=1e-9), "CSV values")
        marks = pd.read_csv(os.path.join(d, "run_markers.csv"))
        check(list(marks["comment"]) == [t for _, t in MARKERS], "CSV markers")
        check(list(marks["scan"]) == [s for s, _ in MARKERS], "CSV marker scans")

        edf = os.path.join(d, "run.edf")
        run("export", wdq, edf)
        raw = mne.io.read_raw_edf(edf, preload=True, verbose="error")
        check(raw.ch_names == ["#1: Druck u", "#2: Temp deg", "#3: cafe"],
              f"EDF names {raw.ch_names}")
        check(raw.info["meas_date"] == datetime.datetime.fromtimestamp(1700000000,
                                                                       datetime.timezone.utc),
              f"EDF start {raw.info['meas_date']}")
        check(abs(raw.info["sfreq"] - 1 / PERIOD) < 1e-9, f"EDF rate {raw.info['sfreq']}")
        data = raw.get_data()
        check(data.shape[1] >= SCANS, "EDF length")
        for k, (v1, v0) in enumerate(CAL):
            step = abs(v1) * 65535 / 3276.8 / 65535
            err = np.max(np.abs(data[k, :SCANS] - want[:, k]))
            check(err <= step, f"EDF channel {k}: error {err} above one step {step}")
        onsets = list(raw.annotations.onset)
        texts = list(raw.annotations.description)
        check(texts == [t for _, t in MARKERS], f"EDF annotations {texts}")
        check(np.allclose(onsets, [s * PERIOD for s, _ in MARKERS], atol=1e-4), "EDF onsets")

        # Eight channels are inputs 1 to D; EDF+ cuts the names, never the input.
        eight = os.path.join(d, "eight.wdq")
        long_name = "Blutdruck linker Arm"
        make_wdq(eight, names=[long_name] + ["chn"] * 6 + ["D"], units=["mmHg"] + ["V"] * 7,
                 cal=[(1.0, 0.0)] * 8, markers=[(0, "Acquisition start")])
        info = json.loads(run("info", eight, "--json").stdout)
        inputs = ["1", "2", "3", "4", "A", "B", "C", "D"]
        check([c["input"] for c in info["channels"]] == inputs, f"info inputs {info['channels']}")
        labels = [f"1: {long_name}"] + [f"{i}: chn" for i in inputs[1:7]] + ["D"]
        check([c["label"] for c in info["channels"]] == labels, "info labels")
        csv8 = os.path.join(d, "eight.csv")
        run("export", eight, csv8)
        want8 = ["time_s", f"1: {long_name} [mmHg]"] + [f"{i}: chn [V]" for i in inputs[1:7]] + [
            "D [V]"]
        check(list(pd.read_csv(csv8).columns) == want8, f"CSV titles {list(pd.read_csv(csv8).columns)}")
        edf8 = os.path.join(d, "eight.edf")
        run("export", eight, edf8)
        names8 = mne.io.read_raw_edf(edf8, verbose="error").ch_names
        check(names8 == ["1: Blutdruck lin"] + [f"{i}: chn" for i in inputs[1:7]] + ["D"],
              f"EDF names {names8}")
        edf_part = os.path.join(d, "part.edf")
        run("export", eight, edf_part, "--channels", "5,8")
        names_part = mne.io.read_raw_edf(edf_part, verbose="error").ch_names
        check(names_part == ["A: chn", "D"], f"EDF names of a choice {names_part}")
        run("export", eight, edf_part, "--channels", "A,D")
        names_part = mne.io.read_raw_edf(edf_part, verbose="error").ch_names
        check(names_part == ["A: chn", "D"], f"EDF names of a choice by input {names_part}")

        # A text recording stores no start time: it is the file's last change
        # less the recorded duration, and its EDF+ export starts then.
        dat = os.path.join(d, "text.dat")
        with open(dat, "wb") as f:
            for s in range(SCANS):
                f.write(f"{s * PERIOD:.3f} {s % 100 / 10:.4g} \r\n".encode())
        with open(os.path.join(d, "text_info.txt"), "wb") as f:
            f.write(b"Channel name: chn\r\nMarker #0: Acquisition start at 0.000 sec\r\n")
        ended = 1750000000.0 + SCANS * PERIOD
        os.utime(dat, (ended, ended))
        info = json.loads(run("info", dat, "--json").stdout)
        check(info["startTime"] == 1750000000 and info["startTimeEstimated"],
              f"text start {info['startTime']}")
        edf_text = os.path.join(d, "text.edf")
        run("export", dat, edf_text)
        start = mne.io.read_raw_edf(edf_text, verbose="error").info["meas_date"]
        check(start == datetime.datetime.fromtimestamp(1750000000, datetime.timezone.utc),
              f"text EDF start {start}")

        # A recording cut short: repair makes it whole, a second run changes nothing.
        cut = os.path.join(d, "cut.wdq")
        with open(wdq, "rb") as f:
            whole = f.read()
        with open(cut, "wb") as f:
            f.write(whole[:1156 + 6 * 1000 + 3])
        check(json.loads(run("info", cut, "--json").stdout)["incomplete"], "cut file incomplete")
        run("repair", cut)
        check(os.path.exists(cut + ".bak"), "repair keeps a backup")
        again = run("repair", cut).stdout
        check("nothing to repair" in again, f"second repair: {again}")
        check(json.loads(run("info", cut, "--json").stdout)["scans"] == 1000, "repaired scans")

        garbage = os.path.join(d, "garbage.wdq")
        with open(garbage, "wb") as f:
            f.write(b"\xa5" * 3000)
        err = run("info", garbage, status=1).stderr
        check(garbage in err, f"error names the file: {err}")
        run("repair", garbage, status=1)
        run(status=2)
        run("export", wdq, status=2)
        run("export", wdq, os.path.join(d, "x.txt"), status=2)
        check("Exit status" in run("--help").stdout, "help lists exit statuses")

    if failures:
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
