"""Measuring in the review window with real input: a cursor put by Ctrl+G and
a typed time, a second one by the key 2 over the traces, moved by the comma
key, the statistics of their span (S) and its psd (F), read back from the
window's measurement panel and checked against the recording's own values as
`tamix-file export` writes them, computed here with NumPy; a marker added with
M and saved with Ctrl+S, read back by `tamix-file info`."""
import os
import re
import shutil
import tempfile

import numpy as np

from case import RealInputCase, programs, wait_until

TITLE = "fix.wdq - Review - Tamix Windows Application"
CURSOR = re.compile(r"Cursor (\d): \S+ \(([\d.]+) s, scan (\d+)\)")
DELTA = re.compile("\u0394t = (\\S+) s")


class Measure(RealInputCase):
    @classmethod
    def setUpClass(cls):
        cls.fixture_dir = tempfile.mkdtemp(prefix="tamix-real-input-measure-")
        cls.fixture = os.path.join(cls.fixture_dir, "fix.wdq")
        cls.info = programs.record_fixture(cls.fixture, cls.fixture_dir, "1,2", 6, ["one", "two"])
        csv = os.path.join(cls.fixture_dir, "fix.csv")
        programs.export(cls.fixture, csv)
        cls.header, cls.rows = programs.read_csv(csv)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.fixture_dir, ignore_errors=True)

    def panel(self):
        """The measurement panel's text, as a screen reader reads it."""
        for role, name, text, _ in self.desktop.texts(TITLE):
            if role == "text" and "Cursor 1:" in text:
                return text
        return ""

    def cursors(self, want):
        """{cursor: scan} once the panel shows every cursor in `want`."""
        def shown():
            found = {int(n): int(scan) for n, _, scan in CURSOR.findall(self.panel())}
            return found if want <= found.keys() else None
        return wait_until(shown, 20, f"cursors {sorted(want)} in the measurement panel")

    def value_line(self, channel):
        for line in self.panel().splitlines():
            if line.startswith(channel + ":"):
                return line
        return ""

    def test_cursors_from_a_typed_time_and_a_key_read_the_recording(self):
        self.start(args=[self.fixture])
        review = self.expect_window(TITLE)
        self.desktop.move_pointer(0, 1023)
        wait_until(lambda: "Cursor 1: not placed" in self.panel(), 30, "the measurement panel")

        self.key(review, "ctrl+g")
        ask = self.expect_window("Go to time")
        self.key(ask, "ctrl+a")
        self.desktop.type(ask, "2.5")
        self.key(ask, "Return")
        self.desktop.wait_gone(ask)
        first = self.cursors({1})[1]
        period = self.info["period_s"]
        self.assertEqual(first, round(2.5 / period), "Ctrl+G puts a cursor on the typed time")

        # The second cursor where the pointer is, on the traces' right part.
        x, y, w, h = self.desktop.geometry(review)
        self.desktop.move_pointer(x + int(w * 0.6), y + int(h * 0.25))
        self.key(review, "2")
        scans = self.cursors({1, 2})
        second = scans[2]
        self.assertGreater(second, first)

        # Δt is the scans between them at the recording's rate; each value is the
        # file's own at the cursor's scan (the CSV's row of that scan).
        delta = float(DELTA.search(self.panel()).group(1))
        self.assertAlmostEqual(delta, (second - first) * period, places=5)
        line = self.value_line(self.header[1])
        self.assertTrue(line, self.panel())
        one, two = (float(self.rows[s][1]) for s in (first, second))
        numbers = [float(v) for v in re.findall(r"\d: (-?[\d.]+(?:e[-+]?\d+)?)", line)]
        self.assertEqual(len(numbers), 2, line)
        for shown, wanted in zip(numbers, (one, two)):
            self.assertAlmostEqual(shown, wanted, delta=max(abs(wanted) * 1e-3, 1e-3), msg=line)

        # The comma key moves the cursor last placed to an earlier scan.
        self.key(review, "comma")
        moved = wait_until(lambda: (lambda s: s if s.get(2, second) < second else None)(
            self.cursors({1, 2})), 20, "cursor 2 to move left")
        self.assertEqual(moved[1], first, "the other cursor stays")

    def test_statistics_psd_and_a_saved_marker(self):
        # A copy, as the marker is saved into it.
        recording = os.path.join(self.root, "fix.wdq")
        shutil.copyfile(self.fixture, recording)
        self.start(args=[recording])
        review = self.expect_window(TITLE)
        self.desktop.move_pointer(0, 1023)
        wait_until(lambda: "Cursor 1: not placed" in self.panel(), 30, "the measurement panel")
        for key, seconds in (("1", "0.5"), ("2", "4.25")):
            self.key(review, key)  # the pointer is off the traces: the view's middle
            self.key(review, "ctrl+g")
            ask = self.expect_window("Go to time")
            self.key(ask, "ctrl+a")
            self.desktop.type(ask, seconds)
            self.key(ask, "Return")
            self.desktop.wait_gone(ask)
        scans = self.cursors({1, 2})
        first, last = sorted((scans[1], scans[2]))

        self.key(review, "s")
        wait_until(lambda: "Statistics from" in self.panel(), 20, "the statistics in the panel")
        lines = self.panel().split("Statistics from", 1)[1].splitlines()
        header = lines[1].split("\t")
        rows = {cells[0]: dict(zip(header, cells)) for cells in
                (line.split("\t") for line in lines[2:]) if len(cells) == len(header)}
        values = np.array([[float(v) for v in row[1:]] for row in self.rows[first:last + 1]])
        for k, title in enumerate(self.header[1:]):
            name = title.split(" [")[0]
            self.assertIn(name, rows, self.panel())
            row, x = rows[name], values[:, k]
            self.assertEqual(int(row["scans"]), len(x))
            for key, want in (("min", x.min()), ("max", x.max()), ("mean", x.mean()),
                              ("rms", np.sqrt(np.mean(x * x))), ("sd", x.std())):
                self.assertAlmostEqual(float(row[key]), want, delta=1e-4 + 1e-4 * abs(want),
                                       msg=f"{name} {key}")
        sine = rows[self.header[1].split(" [")[0]]
        self.assertAlmostEqual(float(sine["freq_hz"]), 1.0, delta=1e-3, msg="the 1 Hz sine")

        shots = os.environ.get("TAMIX_SCREENSHOT_DIR")
        if shots:
            self.desktop.screenshot(review).save(os.path.join(shots, "review-measure.png"))
        self.key(review, "f")
        psd = self.expect_window("Power density - fix.wdq")
        self.assertTrue(self.desktop.viewable(psd))
        if shots:
            wait_until(lambda: self.desktop.texts("Power density - fix.wdq"), 20, "the power density")
            self.desktop.screenshot(psd).save(
                os.path.join(shots, "power-density.png"))
        self.key(psd, "ctrl+w")
        self.desktop.wait_gone(psd)

        # A marker at cursor 2, saved into the recording while the window is open.
        self.key(review, "m")
        ask = self.expect_window("Marker")
        self.desktop.type(ask, "added later")
        self.key(ask, "Return")
        self.desktop.wait_gone(ask)
        self.expect_window("*" + TITLE)
        self.key(self.desktop.windows("*" + TITLE)[0], "ctrl+s")
        self.expect_window(TITLE)
        info = programs.info(recording)
        comments = [(m["scan"], m["comment"]) for m in info["markers"]]
        self.assertIn((scans[2], "added later"), comments)
