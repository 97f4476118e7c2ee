"""The programs under test, and recordings read back with the project's own
reader (tamix-file), which the desktop program does not share a process with.

The paths come from the environment, which run.py fills from its command line:
TAMIX_REAL_INPUT_TAMIX (the desktop program), TAMIX_REAL_INPUT_FILE (tamix-file)
and TAMIX_REAL_INPUT_RECORD (tamix-record, which makes review fixtures)."""
import csv
import json
import os
import subprocess
import time

_REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
_DEFAULTS = {
    "TAMIX_REAL_INPUT_TAMIX": os.path.join(_REPO, "build", "src", "app", "tamix"),
    "TAMIX_REAL_INPUT_FILE": os.path.join(_REPO, "build", "tools", "tamix-file"),
    "TAMIX_REAL_INPUT_RECORD": os.path.join(_REPO, "build", "tools", "tamix-record"),
}


def program(variable):
    return os.environ.get(variable) or _DEFAULTS[variable]


def tamix():
    return program("TAMIX_REAL_INPUT_TAMIX")


def info(path):
    """`tamix-file info PATH --json` as a dict; None when the file does not read."""
    done = subprocess.run([program("TAMIX_REAL_INPUT_FILE"), "info", path, "--json"],
                          capture_output=True, text=True, timeout=60)
    return json.loads(done.stdout) if done.returncode == 0 else None


def export(path, out):
    """`tamix-file export PATH OUT`; raises with its message on failure."""
    done = subprocess.run([program("TAMIX_REAL_INPUT_FILE"), "export", path, out],
                          capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(f"tamix-file export {path} {out}: {done.stderr}")


def read_csv(path):
    """Header and rows of a CSV file, the rows as lists of strings."""
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def record_fixture(path, root, inputs, seconds, markers):
    """A paced recording by tamix-record with `markers` (comments) typed on its
    standard input one second apart from the first second on; returns its info."""
    config = os.path.join(root, "record-config")
    os.makedirs(config, exist_ok=True)
    proc = subprocess.Popen(
        [program("TAMIX_REAL_INPUT_RECORD"), "--simulate", "--quiet", "--inputs", inputs,
         "--time", str(seconds), path],
        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
        env=dict(os.environ, XDG_CONFIG_HOME=config))
    start = time.monotonic()
    for n, comment in enumerate(markers, start=1):
        time.sleep(max(0.0, start + n - time.monotonic()))
        proc.stdin.write(comment + "\n")
        proc.stdin.flush()
    proc.stdin.close()
    if proc.wait(seconds + 60) != 0:
        raise AssertionError(f"tamix-record failed: {proc.stderr.read()}")
    result = info(path)
    if result is None or len(result["markers"]) != len(markers) + 1:
        raise AssertionError(f"fixture {path} has not the markers asked for: {result}")
    return result
