"""The base of every real-input test: a fresh desktop and scratch folder per
case, the program started on it, the Measurement Options dialog filled in by
clicks and typing, and everything ended afterwards, also after a failure."""
import os
import shutil
import sys
import unittest

import captions
import programs
from desktop import (BOX_TITLE, FILE_TIMEOUT, MAIN_TITLE, WINDOW_TIMEOUT, Desktop, Tamix,
                     holds_for, profile_text, scratch_dir, stop_process, wait_until)

OPTIONS = "Measurement Options"
POPUP = "tamix"

# Centres of the Measurement Options controls as fractions of the dialog's
# client area, from their template rectangles (the dialog is laid out in
# dialog units of its font, so the fractions hold for any font size).
_TEMPLATE = (352, 245)


def _at(x, y, w, h):
    return ((x + w / 2) / _TEMPLATE[0], (y + h / 2) / _TEMPLATE[1])


FILE_NAME_FIELD = _at(165, 120, 170, 12)
TYPE_CHOICE = _at(260, 140, 75, 12)
SAVE_TO_FILE = (267 / _TEMPLATE[0], 95 / _TEMPLATE[1])  # the radio button's circle
OK_BUTTON = _at(85, 221, 50, 14)

WINDAQ, TEXT = 0, 1


class RealInputCase(unittest.TestCase):
    def setUp(self):
        self.root = scratch_dir()
        self.desktop = Desktop(self.root)
        self.addCleanup(self._end)
        self.app = None

    def _end(self):
        result = self._outcome.result
        failed = not self._outcome.success or any(
            getattr(test, "test_case", test) is self for test, _ in result.failures + result.errors)
        if failed:
            try:
                self.desktop.screenshot().save(os.path.join(self.root, "at-failure.png"))
                print(f"\n  windows at the failure: {self.desktop.titles()}", file=sys.stderr)
            except Exception as e:  # the display may be what failed
                print(f"\n  no screenshot: {e}", file=sys.stderr)
        self.desktop.close()
        if failed or os.environ.get("TAMIX_REAL_INPUT_KEEP"):
            if self.app is not None:
                print(f"  tamix output:\n{self.app.log()}", file=sys.stderr)
            print(f"  kept {self.root}", file=sys.stderr)
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    # --- the program ------------------------------------------------------

    def start(self, profile=None, args=(), name=None):
        """Starts tamix on this desktop; returns its main window. A case of a
        table gives each row a `name`: a process and folders of its own, the
        previous row's process ended first."""
        if self.app is not None and self.app.alive():
            stop_process(self.app.proc)
        root = self.root if name is None else os.path.join(self.root, name)
        self.app = Tamix(self.desktop, programs.tamix(), root,
                         profile if profile is not None else profile_text(), args)
        self.main = self.app.main_window()
        return self.main

    def key(self, window, *keys):
        self.desktop.key(window, *keys)

    def expect_window(self, title, timeout=WINDOW_TIMEOUT):
        return self.desktop.wait_for_window(title, timeout)

    def expect_box(self, text, timeout=WINDOW_TIMEOUT):
        """Waits for the program's message box and checks its message."""
        box = self.expect_window(BOX_TITLE, timeout)
        labels = wait_until(lambda: self.desktop.labels(BOX_TITLE), WINDOW_TIMEOUT,
                            "the message box's text")
        # A message of several lines may reach the screen reader line by line.
        self.assertIn(text, labels + ["\n".join(labels)], f"the message box shows {labels}")
        return box

    def assert_caption_whole(self, window, caption=BOX_TITLE):
        """The window manager shows `window`'s caption whole, as wide as on a
        window with room to spare."""
        whole = captions.reference_width(self.desktop, caption)
        self.desktop.activate(window)
        shown = captions.caption_width(self.desktop, window)
        self.assertLessEqual(abs(shown - whole), 2,
                             f"the caption spans {shown} pixels, {whole} when whole")

    def answer(self, window, *keys):
        """Presses `keys` in a dialog and waits for it to close."""
        self.key(window, *keys)
        self.desktop.wait_gone(window)

    def press_enter_in_chooser(self, chooser):
        """Enter in a GTK file chooser's typed path. When the name typed matches
        a file, the chooser's completion list may take the first Enter; a
        second one then accepts the path (both are the toolkit's, not the
        program's)."""
        self.key(chooser, "Return")
        if holds_for(lambda: self.desktop.viewable(chooser), 3.0):
            self.key(chooser, "Return")
        self.desktop.wait_gone(chooser)

    def open_with_ctrl_o(self, path):
        """File > Open by Ctrl+O, the path typed into the file chooser's
        location field; returns the review window."""
        self.key(self.main, "ctrl+o")
        chooser = self.expect_window("Open", timeout=20)
        self.key(chooser, "ctrl+l")
        self.desktop.type(chooser, path)
        self.press_enter_in_chooser(chooser)
        return self.expect_window(os.path.basename(path) + " - Review - Tamix Windows Application")

    def export_with_ctrl_e(self, review, out):
        """File > Export by Ctrl+E in `review`, `out` typed over the suggested
        name; returns once `out` and its markers file stand complete."""
        self.key(review, "ctrl+e")
        chooser = self.expect_window("Export", timeout=20)
        self.key(chooser, "ctrl+a")
        self.desktop.type(chooser, out)
        self.key(chooser, "Return")
        markers = out[: -len(".csv")] + "_markers.csv"
        sizes = lambda: (self.size(out), self.size(markers))  # noqa: E731
        wait_until(lambda: min(sizes()) > 0 and holds_for(lambda s=sizes(): sizes() == s, 0.5),
                   FILE_TIMEOUT, f"{out} and its markers file to be written")

    def assert_export_matches(self, recording, out):
        """`out` (with its markers file) holds what tamix-file exports of `recording`."""
        reference = os.path.join(self.root, "reference.csv")
        programs.export(recording, reference)
        self.assertEqual(programs.read_csv(out), programs.read_csv(reference))
        self.assertEqual(programs.read_csv(out[: -len(".csv")] + "_markers.csv"),
                         programs.read_csv(reference[: -len(".csv")] + "_markers.csv"))

    def wait_exit(self, timeout=60.0):
        return self.app.wait_exit(timeout)

    # --- Measurement Options -------------------------------------------------

    def open_options(self):
        """Measurement > Start through the menu's keys (Alt+M, S)."""
        self.key(self.main, "alt+m", "s")
        return self.expect_window(OPTIONS)

    def fill_options(self, dialog, file_name=None, file_type=None):
        """Types `file_name` into the file-name field, then picks the type."""
        if file_name is not None:
            self.type_file_name(dialog, file_name)
        if file_type is not None:
            self.choose_type(dialog, file_type)

    def type_file_name(self, dialog, file_name):
        """Clicks into the file-name field and types `file_name` over its text."""
        self.desktop.click(dialog, *FILE_NAME_FIELD)
        self.key(dialog, "ctrl+a")
        self.desktop.type(dialog, file_name)
        self._expect_field(FILE_NAME_FIELD, file_name)

    def choose_type(self, dialog, file_type):
        """Opens the Type choice with a click and picks an entry with the keys."""
        self.desktop.click(dialog, *TYPE_CHOICE)
        # The opened list (a pop-up window named after the program) holds the
        # keyboard; Home and End go to its first and last entry (the arrow
        # keys would wrap around).
        popup = self.expect_window(POPUP)
        self.desktop.xdo("key", "--delay", "80", "Home" if file_type == WINDAQ else "End",
                         "Return")
        self.desktop.wait_gone(popup)
        wanted = "WINDAQ binary" if file_type == WINDAQ else "TEXT"
        wait_until(lambda: self._choice_shows(wanted), WINDOW_TIMEOUT,
                   f"the Type choice to show {wanted!r}")

    def _expect_field(self, where, value):
        texts = [t for role, _, t, _ in self.desktop.texts(OPTIONS) if role == "text"]
        self.assertIn(value, texts, f"the dialog's fields read {texts}")

    def _choice_shows(self, wanted):
        return any(role == "combo box" and name == wanted
                   for role, name, _, _ in self.desktop.texts(OPTIONS))

    def confirm_options(self, dialog):
        self.desktop.click(dialog, *OK_BUTTON)

    def start_run(self, file_name, file_type=None, notice=None):
        """Measurement > Start, the file name typed in, OK, and the notice
        confirmed; returns the path the program should write."""
        dialog = self.open_options()
        self.fill_options(dialog, file_name, file_type)
        self.confirm_options(dialog)
        self.desktop.wait_gone(dialog)
        box = self.expect_box(notice) if notice else self.expect_window(BOX_TITLE)
        self.answer(box, "Return")

    # --- files --------------------------------------------------------------

    def size(self, path):
        try:
            return os.path.getsize(path)
        except OSError:
            return -1

    def wait_growing(self, path, beyond=None, timeout=FILE_TIMEOUT):
        """Waits until `path` is larger than `beyond` (default: its size now)."""
        start = self.size(path) if beyond is None else beyond
        wait_until(lambda: self.size(path) > start, timeout, f"{path} to grow beyond {start}")
        return self.size(path)

    def assert_still(self, path, seconds):
        """`path` keeps its size for `seconds` (after the last second's flush)."""
        first = self.size(path)
        self.assertTrue(holds_for(lambda: self.size(path) == first, seconds),
                        f"{path} changed size from {first} to {self.size(path)}")

    def wait_complete(self, path, timeout=FILE_TIMEOUT):
        """Waits until the run has ended and its recording reads complete;
        returns its info. A running recording grows at least once a second (a
        text recording reads complete all along)."""
        def ended():
            size = self.size(path)
            if not holds_for(lambda: self.size(path) == size, 2.5):
                return None
            info = programs.info(path)
            return info if info and not info["incomplete"] else None
        return wait_until(ended, timeout, f"{path} to be complete")


__all__ = ["RealInputCase", "BOX_TITLE", "MAIN_TITLE", "OPTIONS", "WINDAQ", "TEXT",
           "profile_text", "wait_until", "holds_for", "programs", "SAVE_TO_FILE"]
