"""Measurements run the way a user runs them: Measurement > Start from the
menu keys, the file name typed into Measurement Options, markers with Space,
a pause with P, Stop through its question, the recording opened with Ctrl+O
and exported with Ctrl+E, and the window closed during a run; every result
read back from the files with tamix-file."""
import os

from case import (BOX_TITLE, MAIN_TITLE, SAVE_TO_FILE, TEXT, RealInputCase, holds_for,
                  profile_text, programs, wait_until)

HEADER_BYTES = 1156  # a WinDaq file without scans
STOP_QUESTION = "Measurement will be aborted.\nWould you like to continue?"
PAUSED = "Data recording paused.\nPress OK to resume."
QUIT_DURING_RUN = "A measurement is running."


class Runs(RealInputCase):
    def notice_opens_before_the_run(self, path, notice):
        """Confirms Measurement Options and checks that the run waits for its notice."""
        box = self.expect_box(notice)
        # Nothing is recorded while the notice is open.
        self.assertTrue(holds_for(lambda: self.size(path) <= 0, 1.5),
                        f"{path} has {self.size(path)} bytes while the notice is open")
        self.answer(box, "Return")

    def stop(self):
        self.key(self.main, "alt+m", "t")
        box = self.expect_box(STOP_QUESTION)
        self.answer(box, "Return")  # Yes is the default

    def test_windaq_run_with_three_markers_a_pause_and_stop(self):
        main = self.start(profile_text(inputs=(1, 2, 3, 4), minutes=1))
        path = self.app.path("run.wdq")
        options = self.open_options()
        self.fill_options(options, path)
        self.confirm_options(options)
        self.notice_opens_before_the_run(
            path, "Recording will be stopped automatically after 1 minute")
        self.wait_growing(path, HEADER_BYTES)

        for n in (1, 2, 3):
            self.wait_growing(path)
            self.key(main, "space")
            dialog = self.expect_window("Add marker", timeout=10)
            self.assertIn(f"{n}. marker comment:", self.desktop.labels("Add marker"))
            self.desktop.type(dialog, f"stimulus {n}")
            self.answer(dialog, "Return")

        # Ctrl+S and F6 during the run neither write nor disturb it (the
        # pointer kept off the traces, whose markers show tips).
        self.desktop.move_pointer(0, 0)
        for keys in ("ctrl+s", "F6"):
            self.key(main, keys)
            self.assertTrue(holds_for(lambda: self.desktop.titles() == [MAIN_TITLE], 1.0))
        self.wait_growing(path)

        self.key(main, "p")
        box = self.expect_box(PAUSED, timeout=10)
        # Once the last buffered scans are out, the file stands still.
        wait_until(lambda: holds_for(lambda s=self.size(path): self.size(path) == s, 1.5), 20,
                   f"{path} to stop growing during the pause")
        self.answer(box, "Return")
        self.wait_growing(path)

        self.stop()
        info = self.wait_complete(path)
        self.assertLess(info["duration_s"], 55)  # stopped, not ended by the time limit
        self.assertEqual(info["format"], "wdq")
        self.assertEqual(len(info["channels"]), 4)
        self.assertEqual(info["scans"] % 8, 0)
        comments = [m["comment"] for m in info["markers"]]
        self.assertEqual(comments[:4], ["Acquisition start", "stimulus 1", "stimulus 2",
                                        "stimulus 3"], comments)
        self.assertEqual(len(comments), 5, comments)
        # Paused for at least 1.5 s: whole seconds, truncated.
        self.assertRegex(comments[4], r"^Pause time:00:00:0[1-9]$")
        scans = [m["scan"] for m in info["markers"]]
        self.assertEqual(scans, sorted(scans))

        # The recording opened for review and exported, as tamix-file exports it.
        review = self.open_with_ctrl_o(path)
        csv_path = os.path.join(self.root, "run.csv")
        self.export_with_ctrl_e(review, csv_path)
        self.assert_export_matches(path, csv_path)
        header, rows = programs.read_csv(csv_path)
        self.assertEqual(len(rows), info["scans"])
        # The simulated unit's inputs 1 and 2: a 5 V sine and a ±2.5 V square.
        sine = [float(r[1]) for r in rows]
        square = {round(float(r[2]), 3) for r in rows}
        self.assertAlmostEqual(max(sine), 5.0, delta=0.01)
        self.assertAlmostEqual(min(sine), -5.0, delta=0.01)
        self.assertEqual(square, {-2.5, 2.5})
        self.key(review, "ctrl+w")
        self.desktop.wait_gone(review)

        self.key(main, "alt+f", "x")
        self.assertEqual(self.wait_exit(), 0)

    def test_the_type_and_the_typed_name_agree(self):
        # (what the user does in order, file written, its format, file that
        # must not appear, total time in minutes and the notice it gives)
        half = (0.5, "after 30 seconds")
        cases = [
            ([("type", TEXT), ("name", "run.dat")], "run.dat", "text", "run.dat.dat", half),
            # A typed ".wdq" chooses the WinDaq type over the TEXT chosen before.
            ([("type", TEXT), ("name", "run5.wdq")], "run5.wdq", "wdq", "run5.wdq.dat", half),
            # A type chosen after the name renames its extension.
            ([("name", "run7.wdq"), ("type", TEXT)], "run7.dat", "text", "run7.wdq",
             (2, "after 2 minutes")),
        ]
        for steps, written, file_format, absent, (minutes, after) in cases:
            with self.subTest(written=written):
                self.start(profile_text(inputs=(1, 3), minutes=minutes), name=written)
                path = self.app.path(written)
                options = self.open_options()
                for what, value in steps:
                    if what == "type":
                        self.choose_type(options, value)
                    else:
                        self.type_file_name(options, value)
                self.confirm_options(options)
                self.notice_opens_before_the_run(
                    path, "Recording will be stopped automatically " + after)
                self.wait_growing(path, HEADER_BYTES if file_format == "wdq" else 0)
                self.wait_growing(path)
                self.stop()
                info = self.wait_complete(path)
                # Stopped, not ended by the time limit.
                self.assertLess(info["duration_s"], 25)
                self.assertEqual(info["format"], file_format)
                self.assertEqual(len(info["channels"]), 2)
                self.assertFalse(os.path.exists(self.app.path(absent)))
                if file_format == "text":
                    with open(path, "rb") as f:
                        lines = f.read().split(b"\r\n")
                    self.assertEqual(lines[-1], b"")
                    self.assertEqual(len(lines) - 1, info["scans"])
                    info_file = self.app.path(written[: -len(".dat")] + "_info.txt")
                    self.assertTrue(os.path.exists(info_file))

    def test_an_existing_file_is_kept_unless_overwriting_is_confirmed(self):
        self.start()
        path = self.app.path("keep.wdq")
        with open(path, "w") as f:
            f.write("precious")
        options = self.open_options()
        self.fill_options(options, "keep.wdq")
        self.confirm_options(options)
        box = self.expect_box("File exists. Overwrite?")
        self.assert_caption_whole(box)
        self.answer(box, "Return")  # No is the default
        self.assertTrue(holds_for(lambda: BOX_TITLE not in self.desktop.titles(), 1.5),
                        "a notice follows the declined overwrite")
        with open(path) as f:
            self.assertEqual(f.read(), "precious")
        # No run: Start opens its dialog again.
        self.answer(self.open_options(), "Escape")

    def test_saving_without_a_file_name_asks_for_one_and_writes_nothing(self):
        self.start()
        options = self.open_options()
        self.desktop.click(options, *SAVE_TO_FILE)
        self.confirm_options(options)
        box = self.expect_box("Please enter a name for the output file.")
        self.assert_caption_whole(box)
        self.answer(box, "Return")
        self.assertTrue(self.desktop.viewable(options), "the dialog stays open for the name")
        self.answer(options, "Escape")
        self.assertEqual(os.listdir(self.app.data), [])

    def test_closing_the_window_during_a_run_asks_then_completes_the_file(self):
        main = self.start()
        path = self.app.path("closed.wdq")
        self.start_run(path)
        self.wait_growing(path, HEADER_BYTES)
        # The window manager's Alt+F4 asks the window to close: No keeps the run.
        self.key(main, "alt+F4")
        box = self.expect_window(BOX_TITLE)
        self.assertTrue(any(t.startswith(QUIT_DURING_RUN) for t in self.desktop.labels(BOX_TITLE)),
                        self.desktop.labels(BOX_TITLE))
        self.answer(box, "alt+n")
        self.wait_growing(path)
        self.assertTrue(self.desktop.viewable(main))
        # The close box in the frame, clicked: Yes completes the file and quits.
        x, y, w, _ = self.desktop.geometry(main)
        extents = self.desktop.frame_extents(main)
        self.assertIsNotNone(extents, "the window manager gives the frame's extents")
        self.desktop.move_pointer(x + w - 10, y - extents[2] // 2)
        self.desktop.xdo("click", "1")
        box = self.expect_window(BOX_TITLE)
        self.answer(box, "alt+y")
        self.assertEqual(self.wait_exit(), 0)
        info = programs.info(path)
        self.assertIsNotNone(info)
        self.assertFalse(info["incomplete"], info["notes"])
        self.assertGreater(info["scans"], 0)
        self.assertEqual(info["scans"] % 8, 0)

