"""Tools > Live numbers chosen from the menu with the X keyboard: each strip's
readout of its channel's latest value and last second's minimum, maximum and
mean, read as a screen reader reads it, checked against the simulated
signals and the recording's last second (exported by tamix-file), frozen
while the pause box is open, and the choice kept in the profile across a
restart."""
import os
import re

import numpy as np

from case import BOX_TITLE, MAIN_TITLE, RealInputCase, holds_for, profile_text, programs, wait_until

STOP_QUESTION = "Measurement will be aborted.\nWould you like to continue?"
PAUSED = "Data recording paused.\nPress OK to resume."
# "1: chn: now 4.99   last 1 s: min -5  max 5  mean 0.0001 Volt", one line a strip.
LINE = re.compile(r"^(?P<strip>.+?): now (?P<now>\S+)   last (?P<span>\S+) s: "
                  r"min (?P<min>\S+)  max (?P<max>\S+)  mean (?P<mean>\S+)(?: .*)?$")
# The simulated unit's inputs 1 and 2: a 5 V sine of 1 Hz and a ±2.5 V square
# wave of 2 Hz, each a whole number of periods in any second.
EXPECTED = [(-5.0, 5.0), (-2.5, 2.5)]


class LiveNumbers(RealInputCase):
    def readout(self):
        """The strips' live numbers as the screen reader finds them: a list of
        dicts of floats, one per strip, or None when none is shown."""
        for _, name, _, _ in self.desktop.texts(MAIN_TITLE):
            lines = [LINE.match(line) for line in name.split("\n")]
            if lines and all(lines):
                return [{k: float(v) for k, v in m.groupdict().items() if k != "strip"}
                        for m in lines]
        return None

    def full_second(self):
        numbers = self.readout()
        return numbers if numbers and all(n["span"] == 1 for n in numbers) else None

    def profile_value(self):
        with open(self.app.profile) as f:
            found = re.search(r"^LiveNumbers=(\d+)", f.read(), re.M)
        return found.group(1) if found else None

    def toggle(self):
        self.key(self.main, "alt+t", "l")

    def stop(self):
        self.key(self.main, "alt+m", "t")
        self.answer(self.expect_box(STOP_QUESTION), "Return")

    def assert_near_signal(self, numbers):
        for strip, (low, high) in zip(numbers, EXPECTED):
            self.assertAlmostEqual(strip["min"], low, delta=0.01, msg=numbers)
            self.assertAlmostEqual(strip["max"], high, delta=0.01, msg=numbers)
            self.assertAlmostEqual(strip["mean"], 0.0, delta=0.01, msg=numbers)
            self.assertTrue(low - 0.01 <= strip["now"] <= high + 0.01, numbers)

    def test_live_numbers_follow_the_signal_freeze_in_a_pause_and_survive_a_restart(self):
        self.start(profile_text(inputs=(1, 2)))
        self.desktop.move_pointer(0, 0)
        self.assertIsNone(self.readout())
        self.toggle()
        wait_until(lambda: self.profile_value() == "1", 10, "LiveNumbers=1 in the profile")
        # Idle before any run: nothing to show.
        self.assertIsNone(self.readout())

        path = self.app.path("live.wdq")
        self.start_run(path)
        numbers = wait_until(self.full_second, 30, "a second of live numbers")
        self.assertEqual(len(numbers), 2)
        self.assert_near_signal(numbers)
        # Read again once a second: the sine's latest value moves.
        wait_until(lambda: (self.readout() or numbers)[0]["now"] != numbers[0]["now"], 10,
                   "the latest value to change")

        # While the pause box is open the numbers stand still; the run goes on after it.
        self.key(self.main, "alt+m", "p")
        box = self.expect_box(PAUSED, timeout=10)
        paused = wait_until(self.readout, 10, "the numbers during the pause")
        self.assertTrue(holds_for(lambda: self.readout() == paused, 2.5),
                        f"{paused} changed while paused")
        self.answer(box, "Return")
        # Three readings after the pause: its last second holds no paused scan.
        seen = [paused]
        for _ in range(3):
            seen.append(wait_until(lambda: (lambda n: n if n and n != seen[-1] else None)(
                self.readout()), 10, "the numbers to move again after the pause"))

        self.stop()
        info = self.wait_complete(path)
        self.assertGreater(info["scans"], 1000)
        final = wait_until(self.full_second, 10, "the run's last numbers")
        self.assertTrue(holds_for(lambda: self.readout() == final, 1.5), "after the run's end")
        # The run's last second, read back from the file: the view reads the
        # same scans before their 14-bit storage (0.6 mV) and shows four digits.
        csv = os.path.join(self.root, "live.csv")
        programs.export(path, csv)
        _, rows = programs.read_csv(csv)
        second = round(1 / info["period_s"])
        values = np.array([[float(v) for v in row[1:]] for row in rows[-second:]])
        for k, strip in enumerate(final):
            column = values[:, k]
            for name, want in (("now", column[-1]), ("min", column.min()),
                               ("max", column.max()), ("mean", column.mean())):
                self.assertAlmostEqual(strip[name], want, delta=1e-3 + 5e-4 * abs(want),
                                       msg=f"strip {k + 1} {name}: {final}")

        # Restarted on the same profile: the numbers are on from the start.
        with open(self.app.profile) as f:
            kept = f.read()
        self.start(kept)
        self.desktop.move_pointer(0, 0)
        options = self.open_options()
        self.key(options, "Return")  # screen only
        self.answer(self.expect_box("WARNING: You've selected not to save data."), "Return")
        self.assert_near_signal(wait_until(self.full_second, 30, "live numbers after a restart"))
        self.toggle()
        wait_until(lambda: self.readout() is None, 10, "the numbers to go")
        wait_until(lambda: self.profile_value() == "0", 10, "LiveNumbers=0 in the profile")
        self.assertNotIn(BOX_TITLE, self.desktop.titles())
