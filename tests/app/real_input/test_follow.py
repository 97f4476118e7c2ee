"""The recording reviewed while it is being made: R in the main window during a
run opens its file in a review window that reads on as the scans reach the
disk, stays where the user scrolled back to while the run goes on, and follows
the end again after End; the scans in view are read as a screen reader reads
them, and the run's file is checked with tamix-file once the run is stopped."""
import re

from case import MAIN_TITLE, RealInputCase, holds_for, profile_text, wait_until

REVIEW = "follow.wdq - Review - Tamix Windows Application"
VIEW = re.compile(r"^Scans (\d+) to (\d+) of (\d+)$")
STOP_QUESTION = "Measurement will be aborted.\nWould you like to continue?"


class Follow(RealInputCase):
    def view(self):
        """(first, end, total) scans of the review window's view, or None."""
        for _, name, _, _ in self.desktop.texts(REVIEW):
            found = VIEW.match(name or "")
            if found:
                return tuple(int(n) for n in found.groups())
        return None

    def grown_view(self, beyond):
        """The view once the recording in it has more than `beyond` scans."""
        return wait_until(lambda: (v := self.view()) and v[2] > beyond and v, 20,
                          f"the review window to read on beyond {beyond} scans")

    def test_r_opens_the_run_which_the_window_follows_unless_scrolled_back(self):
        main = self.start(profile_text(inputs=(1, 2), minutes=1))
        path = self.app.path("follow.wdq")
        self.start_run(path)
        self.wait_growing(path, 1156)

        self.key(main, "r")
        review = self.expect_window(REVIEW, timeout=20)
        self.desktop.move_pointer(0, 1023)  # off the traces, whose readout follows it
        first = wait_until(self.view, 30, "the review window's view")
        # The whole recording in view, growing with it.
        grown = self.grown_view(first[2])
        self.assertEqual(grown[0], 0, grown)
        self.assertEqual(grown[1], grown[2], f"the whole recording in view: {grown}")

        # Zoomed in and back at the start, the view stays there as the run goes on.
        for key in ("i", "i", "Home"):
            self.key(review, key)
        back = wait_until(lambda: (v := self.view()) and v[1] < v[2] and v, 10,
                          "the view to leave the end")
        self.assertEqual(back[0], 0, back)
        later = self.grown_view(back[2])
        self.assertEqual(later[:2], back[:2], f"scrolled back, the view moved: {later}")

        # End comes back to the live end, which it then keeps.
        self.key(review, "End")
        at_end = wait_until(lambda: (v := self.view()) and v[1] == v[2] and v, 10,
                            "End to show the end")
        span = at_end[1] - at_end[0]
        following = self.grown_view(at_end[2])
        self.assertEqual(following[1], following[2], f"the end is no longer in view: {following}")
        self.assertEqual(following[1] - following[0], span, "the zoom changed while following")

        # The run's end reaches the window too: it then shows every scan of the file.
        self.key(main, "alt+m", "t")
        box = self.expect_box(STOP_QUESTION)
        self.answer(box, "Return")
        info = self.wait_complete(path)
        wait_until(lambda: (v := self.view()) and v[2] == info["scans"], 20,
                   f"the review window to show all {info['scans']} scans")
        self.assertTrue(holds_for(lambda: self.view()[2] == info["scans"], 1.5))
        self.assertIn(MAIN_TITLE, self.desktop.titles())
