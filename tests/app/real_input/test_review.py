"""The review window's keys pressed on the X keyboard: I, O, W, Home, End, N
and P, judged by the window's pixels and the marker list's selected row
(Ctrl+E is exercised on a recording made through the menus, in test_runs)."""
import os
import shutil
import tempfile

import numpy as np

from case import RealInputCase, holds_for, programs, wait_until

MARKERS = ["first", "second", "third"]
MARKER_LIST_WIDTH = 240  # the list of markers at the window's right


class Review(RealInputCase):
    @classmethod
    def setUpClass(cls):
        cls.fixture_dir = tempfile.mkdtemp(prefix="tamix-real-input-fixture-")
        cls.fixture = os.path.join(cls.fixture_dir, "fix.wdq")
        cls.info = programs.record_fixture(cls.fixture, cls.fixture_dir, "1,2", 6, MARKERS)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.fixture_dir, ignore_errors=True)

    def open_review(self):
        self.start(args=[self.fixture])
        review = self.expect_window("fix.wdq - Review - Tamix Windows Application")
        # Keep the pointer off the traces: the readout follows it.
        self.desktop.move_pointer(0, 1023)
        self.review = review
        return review

    def picture(self):
        """The review window's traces, time axis and header, once they stand still."""
        def steady():
            first = self._traces()
            same = holds_for(lambda: np.array_equal(self._traces(), first), 0.5)
            return [first] if same else None
        return wait_until(steady, 20, "the review window's picture to settle")[0]

    def _traces(self):
        image = np.asarray(self.desktop.screenshot(self.review))
        return image[:, : image.shape[1] - MARKER_LIST_WIDTH - 10]

    def press(self, key):
        """Presses `key` in the review window; returns the settled picture."""
        self.key(self.review, key)
        return self.picture()

    def selected_marker(self):
        rows = [name or text for role, name, text, selected in
                self.desktop.texts(self.desktop.title(self.review))
                if selected and role in ("table cell", "list item")]
        return rows

    def assert_differs(self, a, b, what):
        changed = np.any(a != b, axis=2).mean()
        self.assertGreater(changed, 0.005, f"{what}: {changed:.2%} of the pixels changed")

    def test_zoom_and_end_keys(self):
        self.open_review()
        whole = self.picture()
        zoomed = self.press("i")
        self.assert_differs(whole, zoomed, "I")
        closer = self.press("i")
        self.assert_differs(zoomed, closer, "I again")
        self.assertTrue(np.array_equal(zoomed, self.press("o")), "O undoes the second I")
        start = self.press("Home")
        self.assert_differs(start, self.press("End"), "End after Home")
        self.assertTrue(np.array_equal(start, self.press("Home")), "Home shows the start again")
        # Zoomed in fourfold, one step out would not show the whole.
        self.assert_differs(start, self.press("i"), "I at the start")
        self.assertTrue(np.array_equal(whole, self.press("w")),
                        "W brings back the whole-recording picture")

    def test_n_and_p_step_through_the_markers(self):
        self.open_review()
        self.assertEqual(self.selected_marker(), [])
        # Zoomed in at the start, the middle of the view lies before marker 1.
        for key in ("i", "i", "i", "Home"):
            self.press(key)
        for key, comment in (("n", "first"), ("n", "second"), ("p", "first")):
            with self.subTest(key=key):
                before = self.picture()
                self.assert_differs(before, self.press(key), key)
                rows = wait_until(self.selected_marker, 10, f"a marker row selected after {key}")
                self.assertEqual(len(rows), 1, rows)
                self.assertTrue(rows[0].endswith(comment), rows)
