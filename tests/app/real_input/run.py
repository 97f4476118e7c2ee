#!/usr/bin/python3
"""Runs the real-input tests against a tamix executable.

    run.py [--tamix PATH] [--tamix-file PATH] [--tamix-record PATH] [TEST ...]

TEST names a module (test_runs), a class or a case (test_runs.Runs.test_...);
without one every test_*.py here runs. The programs default to the build
tree's; scripts/check-package.sh names the packaged ones. Ends with a line
"N passed, N failed" and exits 1 when anything failed or could not run.
TAMIX_REAL_INPUT_KEEP=1 keeps every case's scratch folder (a failed case's is
always kept, with a screenshot at the failure)."""
import argparse
import importlib.util
import os
import shutil
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# What the layer needs on the machine; scripts/install-deps.sh installs it.
COMMANDS = ["Xvfb", "openbox", "xdotool", "xwininfo", "xprop", "import", "dbus-daemon"]
MODULES = ["PIL", "numpy", "pyatspi"]


class TimedResult(unittest.TextTestResult):
    """Prints each case's wall time after its verdict."""

    def startTest(self, test):
        self._started = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.writeln(f"    ({time.monotonic() - self._started:.1f} s)")
        self.stream.flush()


def missing_prerequisites():
    missing = [c for c in COMMANDS if shutil.which(c) is None]
    missing += [m for m in MODULES if importlib.util.find_spec(m) is None]
    return missing


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tamix", help="the desktop program under test")
    parser.add_argument("--tamix-file", help="the reader of recordings")
    parser.add_argument("--tamix-record", help="the recorder that makes review fixtures")
    parser.add_argument("tests", nargs="*")
    args = parser.parse_args()
    for variable, value in (("TAMIX_REAL_INPUT_TAMIX", args.tamix),
                            ("TAMIX_REAL_INPUT_FILE", args.tamix_file),
                            ("TAMIX_REAL_INPUT_RECORD", args.tamix_record)):
        if value:
            os.environ[variable] = os.path.abspath(value)
    sys.path.insert(0, HERE)
    import programs

    missing = missing_prerequisites()
    for variable in ("TAMIX_REAL_INPUT_TAMIX", "TAMIX_REAL_INPUT_FILE", "TAMIX_REAL_INPUT_RECORD"):
        if not os.access(programs.program(variable), os.X_OK):
            missing.append(programs.program(variable))
    if missing:
        print(f"real-input tests cannot run; missing: {', '.join(missing)}", file=sys.stderr)
        print("0 passed, 1 failed")
        return 1

    loader = unittest.TestLoader()
    suite = (loader.loadTestsFromNames(args.tests) if args.tests
             else loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE))
    print(f"tamix under test: {programs.tamix()}", flush=True)
    started = time.monotonic()
    runner = unittest.TextTestRunner(verbosity=2, stream=sys.stdout, resultclass=TimedResult)
    result = runner.run(suite)
    # A case counts once however many of its rows (subtests) failed.
    failing = {id(getattr(t, "test_case", t)) for t, _ in result.failures + result.errors}
    failed = len(failing) + len(result.unexpectedSuccesses)
    passed = result.testsRun - failed - len(result.skipped)
    print(f"real-input tests took {time.monotonic() - started:.0f} s")
    print(f"{passed} passed, {failed} failed")
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
