"""The main window's keys pressed on the X keyboard: H, A, Ctrl+N, Ctrl+O,
Ctrl+S, F6 and Shift+F6, each judged by what the user then sees."""
import os

import numpy as np

from case import (BOX_TITLE, MAIN_TITLE, RealInputCase, holds_for, profile_text, programs,
                  wait_until)

HELP = "Help Dialog"


def files_under(root):
    """Every file below `root` with its size, except the logs of this layer."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if not name.endswith(".log") and os.path.isfile(path):
                found[os.path.relpath(path, root)] = os.path.getsize(path)
    return found


def trace_rows(image, left, right):
    """Rows of `image` holding trace pixels (saturated colours) between the
    columns `left` and `right`, clear of the strip's labels and icons."""
    a = np.asarray(image, dtype=np.int16)[:, left:right]
    saturated = (a.max(axis=2) - a.min(axis=2)) > 80
    return np.flatnonzero(saturated.any(axis=1))


class MainWindowKeys(RealInputCase):
    def test_h_opens_the_simple_help(self):
        main = self.start()
        self.key(main, "h")
        help_dialog = self.expect_window(HELP, timeout=10)
        self.answer(help_dialog, "Return")
        self.assertEqual(self.desktop.title(main), MAIN_TITLE)

    def test_a_autoscales_a_small_trace_to_fill_its_strip(self):
        # Input 2 alone: a ±2.5 V square wave, a quarter of the ±10 V strip.
        main = self.start(profile_text(inputs=(2,)))
        options = self.open_options()
        self.key(options, "Return")  # OK has the focus; no file: a screen-only run
        self.answer(self.expect_box("WARNING: You've selected not to save data."), "Return")
        self.desktop.move_pointer(0, 0)
        _, _, width, height = self.desktop.geometry(main)
        left, right = width // 8, width * 7 // 8

        def drawn_rows():
            # At least 100 columns of the sweep on screen, so Autoscale has data.
            rows = trace_rows(self.desktop.screenshot(main), left, left + 120)
            return list(rows) if len(rows) > 0 else None

        rows = wait_until(drawn_rows, 30, "the trace to be drawn across 120 columns")
        before = rows[-1] - rows[0]
        self.key(main, "a")

        def grown():
            rows = trace_rows(self.desktop.screenshot(main), left, right)
            return rows[-1] - rows[0] if len(rows) and rows[-1] - rows[0] > 2 * before else None

        after = wait_until(grown, 10, f"the trace to grow beyond twice its {before} rows")
        # Unscaled, a ±2.5 V signal spans a quarter of the strip; Autoscale
        # fits the range on screen to 0.8 of it, three times as much here.
        self.assertLess(before, 0.3 * height)
        self.assertGreater(after, 2.5 * before)
        self.assertGreater(after, 0.55 * height)

    def test_ctrl_o_opens_a_recording_and_ctrl_n_keeps_the_main_window(self):
        path = os.path.join(self.root, "open me.wdq")
        programs.record_fixture(path, self.root, "1,2", 3, ["one"])
        main = self.start()
        review = self.open_with_ctrl_o(path)
        self.key(main, "ctrl+n")
        self.assertTrue(holds_for(lambda: self.desktop.title(main) == MAIN_TITLE, 1.0))
        self.assertTrue(self.desktop.viewable(review))
        self.key(review, "ctrl+w")
        self.desktop.wait_gone(review)
        self.assertTrue(self.app.alive())

    def test_ctrl_s_and_f6_change_nothing(self):
        main = self.start()
        self.desktop.move_pointer(0, 0)  # off the strips' icons, which show tips
        before = files_under(self.root)
        windows = self.desktop.titles()
        for keys in (["ctrl+s"], ["F6"], ["shift+F6"]):
            with self.subTest(keys=keys):
                self.key(main, *keys)
                self.assertTrue(holds_for(lambda: self.desktop.titles() == windows, 1.0),
                                f"windows after {keys}: {self.desktop.titles()}")
                self.assertEqual(files_under(self.root), before)
        # The window still answers its keys.
        self.key(main, "alt+h", "h")
        self.answer(self.expect_window(HELP), "Return")
        self.assertNotIn(BOX_TITLE, self.desktop.titles())
