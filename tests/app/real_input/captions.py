"""Whether the window manager shows a window's caption whole: the caption's
width in the frame's title bar, measured on the screen's pixels, against the
same caption on a wide window of our own, which the window manager draws with
the same font and never has to shorten."""
import subprocess
import sys

import numpy as np

from desktop import wait_until

_WINDOW_SCRIPT = r'''
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
    [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
window = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), 0, 0, 1000, 60, 0, 0,
                               0xFFFFFF)
x.XStoreName(display, window, sys.argv[1].encode("latin-1"))
x.XMapWindow(display, window)
x.XFlush(display)
print(window, flush=True)
sys.stdin.read()
'''


def caption_width(desktop, window):
    """Width in pixels of the caption's text in `window`'s title bar: the
    widest run of columns that differ from the bar's background (the icon and
    the buttons are narrower runs, apart from it)."""
    extents = desktop.frame_extents(window)
    if extents is None:
        raise AssertionError(f"window {window} has no frame extents")
    left, right, top, _ = extents
    x, y, w, _ = desktop.geometry(window)
    shot = desktop.screenshot()
    bar = np.asarray(shot.crop((x - left, y - top + 2, x + w + right, y - 2)), dtype=np.int16)
    background = np.median(bar, axis=1, keepdims=True)
    ink = (np.abs(bar - background).sum(axis=2) > 90).any(axis=0)
    columns = np.flatnonzero(ink)
    if len(columns) == 0:
        raise AssertionError(f"no caption drawn in the title bar of window {window}")
    runs = np.split(columns, np.flatnonzero(np.diff(columns) > 6) + 1)
    widest = max(runs, key=lambda r: r[-1] - r[0])
    return int(widest[-1] - widest[0] + 1)


def reference_width(desktop, caption):
    """The caption's width on a wide window of our own, active as the
    measured window is."""
    proc = subprocess.Popen([sys.executable, "-c", _WINDOW_SCRIPT, caption], env=desktop.env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        window = int(proc.stdout.readline())
        wait_until(lambda: desktop.viewable(window) and desktop.frame_extents(window), 30,
                   f"the reference window {caption!r} to be framed")
        desktop.activate(window)
        return caption_width(desktop, window)
    finally:
        proc.stdin.close()
        proc.wait(30)
        proc.stdout.close()
