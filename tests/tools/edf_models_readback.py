#!/usr/bin/env python3
"""Records each of the seven simulated models with the built tamix-record (all
eight inputs, calibrations from 1e-6 to 1e6, markers typed while it records),
exports the recordings to EDF+ and CSV with tamix-file and reads the EDF+ back
with MNE-Python: the rate within a millionth of the recording's, every value
within half an EDF digital step of the CSV's (one step for a text recording,
whose values are stored as 16-bit samples), the markers within half a sample,
"Recording ends" where the last data record is padded, the duration, the start,
a file about the size of its samples, and --from moving the annotations.
Exits 77 (skipped) when MNE cannot be imported."""
import json
import os
import subprocess
import sys
import tempfile
import time

try:
    import numpy as np
    import mne
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

RECORD, TOOL = sys.argv[1], sys.argv[2]
KEYS = ["A30008SN", "A3000B6G", "A3000B6H", "A30008SG", "A3000B6u", "A60089Rz", "A4001lsz"]
INPUTS = ["1", "2", "3", "4", "A", "B", "C", "D"]
# (1 V =, 0 V =, unit) per input; None keeps the profile's unit.
CALS = [(1e-6, 0, None), (1e-4, 5e-4, None), (0.01, 0, None), (1, 0, None), (100, -50, None),
        (1e4, 0, None), (1e6, 0, "\u00b5V"), (1e6, 2e6, None)]
PREFIX = {"p": -12, "n": -9, "u": -6, "m": -3, "": 0, "k": 3, "M": 6, "G": 9}
MNE_SCALE = {"uV": 1e-6, "\u00b5V": 1e-6, "mV": 1e-3}  # what MNE turns into volts
MARKERS = ["first marker", "zweiter \u00b5"]


def run(*args):
    r = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, f"{args}: status {r.returncode}, stderr {r.stderr}"
    return r


def ascii_unit(unit):
    return unit.strip().replace("\u00b5", "u")


def exponent(header_unit, own_unit):
    """Powers of ten between the channel's own unit and the unit of the header."""
    base, own = own_unit, 0
    if len(own_unit) >= 2 and own_unit[0] in PREFIX and own_unit[1:] == "V":
        base, own = own_unit[1:], PREFIX[own_unit[0]]
    assert header_unit.endswith(base), (header_unit, own_unit)
    return PREFIX[header_unit[: len(header_unit) - len(base)]] - own


def header_fields(path):
    """Record duration, each signal's physical dimension and range, read as the
    format lays them out."""
    with open(path, "rb") as f:
        head = f.read(256)
        ns = int(head[252:256])
        sig = f.read(256 * ns)
    field = lambda at, k: sig[at * ns + 8 * k: at * ns + 8 * k + 8].decode().strip()
    phys = [(float(field(104, k)), float(field(112, k))) for k in range(ns)]
    return float(head[244:252]), [field(96, k) for k in range(ns)], phys


def start_recording(key, path, extra):
    args = [RECORD, "--simulate", key, "--profile", path + ".ini", "--inputs", ",".join(INPUTS),
            "--time", "4", "--quiet"] + extra
    for inp, (v1, v0, unit) in zip(INPUTS, CALS):
        args += ["--cal", f"{inp}={v1!r},{v0!r}"]
        if unit:
            args += ["--unit", f"{inp}={unit}"]
    proc = subprocess.Popen(args + [path], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc


def type_markers(jobs):
    """Types one marker into each recorder whenever its file has grown again (the
    recorder hands its scans to the system once a second), so the markers land
    at different scans, seconds before the end of the run."""
    sizes = {path: 0 for _, path in jobs}
    typed = {path: 0 for _, path in jobs}
    deadline = time.monotonic() + 60
    while any(typed[p] < len(MARKERS) for p in typed) and time.monotonic() < deadline:
        for proc, path in jobs:
            size = os.path.getsize(path) if os.path.exists(path) else 0
            if typed[path] < len(MARKERS) and size > sizes[path] and size > 2000:
                try:
                    proc.stdin.write((MARKERS[typed[path]] + "\n").encode())
                    proc.stdin.flush()
                except BrokenPipeError:
                    pass  # the run is over: the marker check reports it
                typed[path] += 1
                sizes[path] = size
        time.sleep(0.02)
    for proc, path in jobs:
        try:
            proc.stdin.close()
        except BrokenPipeError:
            pass
        proc.wait(timeout=60)
        err = proc.stderr.read()
        assert proc.returncode == 0, f"{path}: status {proc.returncode}: {err.decode()}"


def main():
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAILED:", what)

    with tempfile.TemporaryDirectory(prefix="tamix-edf-") as d:
        jobs = [(start_recording(k, os.path.join(d, k + ".wdq"), []), os.path.join(d, k + ".wdq"))
                for k in KEYS]
        text = os.path.join(d, "text.dat")
        jobs.append((start_recording(KEYS[0], text, ["--format", "text"]), text))
        type_markers(jobs)

        for path in [p for _, p in jobs]:
            name = os.path.basename(path)
            info = json.loads(run("info", path, "--json").stdout)
            period, scans = info["period_s"], info["scans"]
            edf = path + ".edf"
            csv = path + ".csv"
            note = run("export", path, edf).stderr
            run("export", path, csv)
            want = np.loadtxt(csv, delimiter=",", skiprows=1, ndmin=2)[:, 1:]
            raw = mne.io.read_raw_edf(edf, preload=True, verbose="error")
            sfreq = raw.info["sfreq"]
            check(abs(sfreq * period - 1) <= 1e-6, f"{name}: rate {sfreq} for {1 / period}")
            if abs(sfreq * period - 1) > 1e-12:
                check("drift per hour" in note, f"{name}: the note tells the drift: {note}")
            duration, dims, phys = header_fields(edf)
            spr = round(duration * sfreq)
            check(scans <= raw.n_times < scans + spr, f"{name}: {raw.n_times} samples, {scans} scans")
            check(abs(scans / sfreq - info["duration_s"]) <= 1e-6 * info["duration_s"],
                  f"{name}: duration {scans / sfreq} for {info['duration_s']}")
            check(raw.info["meas_date"].timestamp() == info["startTime"],
                  f"{name}: start {raw.info['meas_date']}")
            size = os.path.getsize(edf)
            limit = 256 * (len(INPUTS) + 2) + 1.3 * 2 * len(INPUTS) * scans
            check(size <= limit, f"{name}: {size} bytes for {scans} scans")

            # Values in the header's unit, against the CSV's in the channel's own.
            data = raw.get_data()
            for k, ch in enumerate(raw.ch_names):
                unit = dims[k]
                got = data[k, :scans] / MNE_SCALE.get(unit, 1)
                own = ascii_unit(info["channels"][k]["unit"])
                e = exponent(unit, own)
                expected = want[:, k] * 10.0 ** -e
                if info["format"] == "wdq":
                    step, allowed = abs(info["channels"][k]["valueAt1V"]) / 3276.8 * 10.0 ** -e, 0.5
                else:
                    step, allowed = abs(phys[k][1] - phys[k][0]) / 65535, 1.0
                err = np.max(np.abs(got - expected)) / step
                check(err <= allowed, f"{name} {ch}: {err:.3f} steps off in {unit} for {own}")

            # Markers on their samples; where the last record is padded, the end.
            ann = list(zip(raw.annotations.onset, raw.annotations.description))
            marks = [(m["scan"], m["comment"]) for m in info["markers"]]
            check(len(marks) == 1 + len(MARKERS), f"{name}: markers {marks}")
            check(len({s for s, _ in marks[1:]}) == len(MARKERS), f"{name}: marker scans {marks}")
            for (scan, text), (onset, desc) in zip(marks, ann):
                check(desc == text and abs(onset * sfreq - scan) <= 0.5,
                      f"{name}: {desc} at {onset * sfreq} for {text} at {scan}")
            ends = ann[len(marks):]
            if raw.n_times > scans:
                check(len(ends) == 1 and ends[0][1] == "Recording ends" and
                      abs(ends[0][0] * sfreq - scans) <= 0.5, f"{name}: end {ends}")
            else:
                check(not ends, f"{name}: annotations after the markers {ends}")

            # From one second on, the annotations move with the start.
            part = path + ".part.edf"
            run("export", path, part, "--from", "1")
            first = int(np.ceil(1 / period - 1e-6))  # the first scan at or after 1 s
            raw = mne.io.read_raw_edf(part, verbose="error")
            ann = list(zip(raw.annotations.onset, raw.annotations.description))
            later = [(s - first, t) for s, t in marks if s >= first]
            check([t for _, t in later] == [t for _, t in ann[: len(later)]],
                  f"{name} --from 1: {ann}")
            for (scan, _), (onset, _) in zip(later, ann):
                check(abs(onset * raw.info["sfreq"] - scan) <= 0.5,
                      f"{name} --from 1: onset {onset} for scan {scan}")

    if failures:
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
