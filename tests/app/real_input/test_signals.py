"""SIGTERM, as a logout or `kill` sends it, while one of the program's modal
boxes is open, SIGHUP and SIGINT during a run, and the X server going away
during a run: the program ends with status 0 and leaves a complete file."""
import signal

from case import BOX_TITLE, RealInputCase, programs, wait_until

HEADER_BYTES = 1156


class TerminationSignals(RealInputCase):
    def terminate(self):
        self.app.proc.send_signal(signal.SIGTERM)
        return self.wait_exit(30)

    def assert_complete_or_absent(self, path):
        """A run ended by the signal leaves a complete file; one that never
        started leaves none, or an empty one."""
        if self.size(path) <= 0:
            return
        info = programs.info(path)
        self.assertIsNotNone(info, f"{path} does not read")
        self.assertFalse(info["incomplete"], info["notes"])

    def test_sigterm_with_a_box_open_during_a_run(self):
        # (box, how it is opened from the menu, its title): menus rather than
        # plain-letter keys, so that only the signal is under test here.
        cases = [
            ("start notice", None, BOX_TITLE),
            ("add marker", ("alt+t", "a"), "Add marker"),
            ("pause", ("alt+m", "p"), BOX_TITLE),
        ]
        for name, keys, title in cases:
            with self.subTest(box=name):
                main = self.start(name=name.replace(" ", "-"))
                path = self.app.path("signalled.wdq")
                options = self.open_options()
                self.fill_options(options, path)
                self.confirm_options(options)
                if keys is not None:
                    self.answer(self.expect_window(BOX_TITLE), "Return")
                    wait_until(lambda: self.size(path) > HEADER_BYTES, 30,
                               f"{path} to hold scans")
                    self.key(main, *keys)
                self.expect_window(title)
                self.assertEqual(self.terminate(), 0, self.app.log())
                self.assert_complete_or_absent(path)
                if keys is not None:
                    self.assertGreater(programs.info(path)["scans"], 0)

    def test_sigterm_with_measurement_options_open_while_idle(self):
        self.start()
        self.open_options()
        self.assertEqual(self.terminate(), 0, self.app.log())

    def start_recording(self, name):
        main = self.start(name=name)
        path = self.app.path("ended.wdq")
        self.start_run(path)
        wait_until(lambda: self.size(path) > HEADER_BYTES, 30, f"{path} to hold scans")
        return main, path

    def assert_completed(self, path):
        info = programs.info(path)
        self.assertIsNotNone(info, f"{path} does not read")
        self.assertFalse(info["incomplete"], info["notes"])
        self.assertGreater(info["scans"], 0)

    def test_sighup_and_sigint_during_a_run(self):
        for sig in (signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal=sig.name):
                self.start_recording(sig.name.lower())
                self.app.proc.send_signal(sig)
                self.assertEqual(self.wait_exit(30), 0, self.app.log())
                self.assert_completed(self.app.path("ended.wdq"))

    def test_the_display_going_away_during_a_run(self):
        # The end of a session as the program sees it when the server goes
        # first: its connection breaks; no window can be closed any more.
        _, path = self.start_recording("display-lost")
        xvfb = self.desktop.procs[0]
        xvfb.kill()
        xvfb.wait(30)
        self.assertEqual(self.wait_exit(30), 0, self.app.log())
        self.assert_completed(path)
