"""Prints, as JSON, the texts a screen reader finds in the top-level windows
titled exactly argv[1]: a list of [role, name, text, selected] for every
element that carries one (labels, buttons, fields with their contents, list
rows), selected being whether the element is shown selected.

Runs in a process of its own on the desktop's session bus, so that each test
desktop has a fresh accessibility connection."""
import json
import sys

import pyatspi
from gi.repository import GLib


def text_of(element):
    try:
        text = element.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return ""


def collect(element, found, depth=0):
    if depth > 40:
        return
    # A window that rebuilds a part of itself (a list made anew as a
    # recording grows) takes its old elements away while they are read:
    # what is gone is left out, as a screen reader would skip it.
    try:
        name = element.name or ""
        text = text_of(element)
        if name or text:
            selected = element.getState().contains(pyatspi.STATE_SELECTED)
            found.append([element.getRoleName(), name, text, selected])
        children = [element.getChildAtIndex(i) for i in range(element.childCount)]
    except GLib.GError:
        return
    for child in children:
        if child is not None:
            collect(child, found, depth + 1)


def main():
    title = sys.argv[1]
    found = []
    desktop = pyatspi.Registry.getDesktop(0)
    for a in range(desktop.childCount):
        app = desktop.getChildAtIndex(a)
        if app is None:
            continue
        for w in range(app.childCount):
            window = app.getChildAtIndex(w)
            if window is not None and window.name == title:
                collect(window, found)
    json.dump(found, sys.stdout)


if __name__ == "__main__":
    main()
