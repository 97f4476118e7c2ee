#!/usr/bin/env python3
"""Records eight inputs of the simulated unit with the built tamix-record,
exports its values with tamix-file, and checks the psd of every channel
(written by psd_dump, through the code the psd window uses) against
scipy.signal.welch with the same segments: a Hann window, half overlap, each
segment's mean removed, one-sided density. Also the 1 Hz sine's peak. Exits 77
(skipped) when NumPy or SciPy cannot be imported."""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from scipy import signal
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

RECORDER, TOOL, DUMP = sys.argv[1:4]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


with tempfile.TemporaryDirectory() as tmp:
    def at(name):
        return os.path.join(tmp, name)

    r = subprocess.run([RECORDER, "--simulate", "--unpaced", "--quiet", "--profile", at("p.INI"),
                        "--inputs", "1,2,3,4,A,B,C,D", "--time", "30", at("run.wdq")],
                       capture_output=True, timeout=120)
    if r.returncode != 0:
        sys.exit(f"tamix-record: {r.stderr.decode(errors='replace')}")
    r = subprocess.run([TOOL, "export", at("run.wdq"), at("run.csv")], capture_output=True,
                       timeout=120)
    if r.returncode != 0:
        sys.exit(f"tamix-file: {r.stderr.decode(errors='replace')}")
    data = np.loadtxt(at("run.csv"), delimiter=",", skiprows=1)
    times, values = data[:, 0], data[:, 1:]
    rate = 1.0 / (times[1] - times[0])
    scans = len(times)

    for first, last in [(0, scans), (123, scans - 7), (500, 500 + 5000), (0, 100)]:
        out = at(f"psd_{first}_{last}.csv")
        r = subprocess.run([DUMP, at("run.wdq"), str(first), str(last), out],
                           capture_output=True, timeout=120, text=True)
        if r.returncode != 0:
            sys.exit(f"psd_dump: {r.stderr}")
        length, segments = map(int, r.stdout.split())
        ours = np.loadtxt(out, delimiter=",", skiprows=1)
        with open(out, encoding="utf-8") as f:
            header = f.readline().strip()
        check(header == "frequency_hz," + ",".join(f"{label}: chn [Volt^2/Hz]" for label in
                                                   "1234ABCD"), f"header {header}")
        for c in range(8):
            freqs, theirs = signal.welch(values[first:last, c], fs=rate, window="hann",
                                         nperseg=length, noverlap=length // 2,
                                         detrend="constant", scaling="density")
            where = f"span {first}..{last}, channel {c + 1}"
            check(len(freqs) == len(ours), f"{where}: {len(ours)} bins, SciPy has {len(freqs)}")
            if len(freqs) != len(ours):
                continue
            check(np.allclose(ours[:, 0], freqs, rtol=1e-12, atol=0), f"{where}: frequencies")
            top = max(theirs.max(), 1e-300)
            worst = np.max(np.abs(ours[:, c + 1] - theirs)) / top
            check(worst < 1e-9, f"{where}: densities differ by {worst:g} of the highest")
        # A segment count SciPy would use too.
        check(segments == (last - first - length) // (length // 2) + 1, f"{first}..{last}: segments")
        if last - first >= 4 * 2048:
            sine = ours[:, 1]
            peak = int(np.argmax(sine[1:])) + 1
            check(abs(ours[peak, 0] - 1.0) <= ours[1, 0], f"{first}..{last}: the peak at {ours[peak, 0]} Hz")

if failures:
    sys.exit(f"{len(failures)} failures")
print("power densities agree with scipy.signal.welch")
