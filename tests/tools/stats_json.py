#!/usr/bin/env python3
"""Runs the built `tamix-file stats --json` on recordings made by
`tamix-record --simulate` (WinDaq and text, all eight inputs) over the whole
recording, a part of it and a choice of channels, and compares every key with
NumPy over the scans read back here from the files themselves: min, max, p-p,
mean, rms, the population sd, the scans, and the frequency with the period of
the autocorrelation's highest peak (null for the constant input). Also the
text table and the command's help. Exits 77 (skipped) without NumPy.
  stats_json.py TAMIX_FILE TAMIX_RECORD"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

TOOL, RECORDER = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def strict_json(text):
    def refuse(constant):
        raise ValueError(f"not JSON: {constant}")
    return json.loads(text, parse_constant=refuse)


def read_wdq(path):
    """Values (scans x channels) and the period, from the file's own fields."""
    with open(path, "rb") as f:
        b = f.read()
    n = b[0] & 0x1F
    header = struct.unpack_from("<H", b, 6)[0]
    size = struct.unpack_from("<I", b, 8)[0]
    period = struct.unpack_from("<d", b, 28)[0]
    hires = struct.unpack_from("<H", b, 100)[0] & 0x0002
    words = np.frombuffer(b, dtype="<i2", count=size // 2, offset=header).reshape(-1, n)
    if not hires:
        words = words & ~3  # the two lowest bits are event flags
    values = np.empty(words.shape)
    for k in range(n):
        slope, intercept = struct.unpack_from("<dd", b, 110 + 36 * k + 8)
        values[:, k] = words[:, k] * (slope / 4) + intercept
    return values, period


def read_text(path):
    """Values (scans x channels) of the lines; the period comes from the info file."""
    return np.loadtxt(path, ndmin=2)[:, 1:], None


def autocorrelation_hz(x, period):
    x = x - x.mean()
    if not np.any(x):
        return None
    psd = np.fft.rfft(x, 2 * len(x))
    ac = np.fft.irfft(psd * np.conj(psd))[:len(x) // 2]
    # The highest peak after the correlation first goes negative.
    below = np.nonzero(ac < 0)[0]
    if len(below) == 0:
        return None
    lag = below[0] + int(np.argmax(ac[below[0]:]))
    return 1.0 / (lag * period)


def stats(path, *options):
    r = subprocess.run([TOOL, "stats", path, "--json", *options], capture_output=True, timeout=120)
    check(r.returncode == 0, f"{path} {options}: exit {r.returncode}: {r.stderr.decode()}")
    return strict_json(r.stdout.decode("utf-8"))


def close(a, b, scale):
    return a is not None and abs(a - b) <= 1e-9 * scale + 1e-12


def compare(label, got, values, period, first, end, chosen, labels, units):
    check(got["first_scan"] == first and got["last_scan"] == end,
          f"{label}: scans {got['first_scan']}..{got['last_scan']}, not {first}..{end}")
    check(len(got["channels"]) == len(chosen), f"{label}: {len(got['channels'])} channels")
    keys = ["name", "unit", "scans", "min", "max", "pp", "mean", "rms", "sd", "freq_hz"]
    for c, k in zip(got["channels"], chosen):
        what = f"{label} channel {k + 1}"
        check(list(c.keys()) == keys, f"{what}: keys {list(c.keys())}")
        x = values[first:end, k]
        scale = max(abs(x.min()), abs(x.max()), 1e-300)
        check(c["name"] == labels[k], f"{what}: name {c['name']!r}, not {labels[k]!r}")
        check(c["unit"] == units[k], f"{what}: unit {c['unit']!r}, not {units[k]!r}")
        check(c["scans"] == len(x), f"{what}: scans {c['scans']}, not {len(x)}")
        want = {"min": x.min(), "max": x.max(), "pp": np.ptp(x), "mean": x.mean(),
                "rms": math.sqrt(np.mean(x * x)), "sd": x.std(ddof=0)}
        for key, value in want.items():
            check(close(c[key], value, scale), f"{what}: {key} {c[key]}, NumPy {value}")
        hz = autocorrelation_hz(x, period)
        if hz is None:
            check(c["freq_hz"] is None, f"{what}: freq_hz {c['freq_hz']} for a constant")
        elif c["freq_hz"] is not None:
            check(abs(c["freq_hz"] - hz) <= 0.02 * hz,
                  f"{what}: freq_hz {c['freq_hz']}, autocorrelation {hz}")
        if c["freq_hz"] is None and hz is not None:
            print(f"note: {what}: not periodic for tamix, autocorrelation {hz:.4f} Hz")


def main():
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
        os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
        for key, inputs, seconds, kind in [("A30008SN", "1,2,3,4,A,B,C,D", 10, "wdq"),
                                           ("KPR-T310", "1,B", 5, "text")]:
            path = os.path.join(work, f"{key}.{'wdq' if kind == 'wdq' else 'dat'}")
            r = subprocess.run([RECORDER, "--simulate", key, "--unpaced", "--inputs", inputs,
                                "--time", f"{seconds}s", "--format", kind, path],
                               stdin=subprocess.DEVNULL, capture_output=True, env=env,
                               timeout=120)
            check(r.returncode == 0, f"tamix-record {key}: {r.stderr.decode()}")
            if r.returncode != 0:
                continue
            values, period = read_wdq(path) if kind == "wdq" else read_text(path)
            info = strict_json(subprocess.run([TOOL, "info", path, "--json"], capture_output=True,
                                              timeout=60).stdout.decode())
            period = period or info["period_s"]
            labels = [c["label"] for c in info["channels"]]
            units = [c["unit"] for c in info["channels"]]
            scans, n = values.shape
            check(info["scans"] == scans, f"{key}: {info['scans']} scans, read {scans}")
            everything = list(range(n))
            compare(f"{key} whole", stats(path), values, period, 0, scans, everything, labels,
                    units)
            # Half a period off the scans, so that no time sits on a scan's.
            first, end = scans // 7, scans - scans // 5
            part = stats(path, "--from", repr((first - 0.5) * period),
                         "--to-time", repr((end - 0.5) * period))
            compare(f"{key} part", part, values, period, first, end, everything, labels, units)
            chosen = [n - 1, 0]
            some = stats(path, "--channels", ",".join(str(k + 1) for k in chosen))
            compare(f"{key} channels", some, values, period, 0, scans, chosen, labels, units)
            if kind == "wdq":
                # The 1 Hz sine of input 1 and the constant of input C.
                sine = some["channels"][1]["freq_hz"]
                check(sine is not None and abs(sine - 1.0) < 1e-3, f"{key}: sine at {sine} Hz")
                whole = stats(path)
                check(whole["channels"][6]["freq_hz"] is None, f"{key}: the constant is periodic")
            table = subprocess.run([TOOL, "stats", path], capture_output=True, timeout=120)
            lines = table.stdout.decode("utf-8").splitlines()
            check(table.returncode == 0 and len(lines) == n + 1 and
                  lines[0] == "name\tunit\tscans\tmin\tmin_at_s\tmax\tmax_at_s\tp-p\tmean"
                              "\trms\tsd\tfreq_hz",
                  f"{key}: table {lines[:2]}")
            check(all(len(line.split("\t")) == 12 for line in lines),
                  f"{key}: table rows {lines}")
            # The times of each channel's first minimum and maximum.
            for k in range(n):
                cells = lines[k + 1].split("\t")
                for cell, at in ((4, np.argmin(values[:, k])), (6, np.argmax(values[:, k]))):
                    check(abs(float(cells[cell]) - at * period) < 1e-6 * max(1.0, at * period),
                          f"{key}: channel {k + 1} column {cell} is {cells[cell]}, not "
                          f"{at * period}")
            if kind == "wdq":
                check(lines[7].endswith("\t\u2014"), f"{key}: constant row {lines[7]!r}")
    r = subprocess.run([TOOL, "stats", "--help"], capture_output=True, timeout=60)
    check(r.returncode == 0 and b"stats FILE" in r.stdout, "stats --help")
    r = subprocess.run([TOOL, "stats"], capture_output=True, timeout=60)
    check(r.returncode == 2, f"stats without FILE: exit {r.returncode}")
    if failures:
        print(f"{len(failures)} failures")
        sys.exit(1)
    print("ok")


main()
