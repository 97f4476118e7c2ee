#!/usr/bin/env python3
"""Fails when the include graph between source folders has a circle.

Each folder under src/ (a subfolder such as dialogs/wx counts as its own) and
tools/ is a node; an edge goes from the folder of a file to the folder of every
project header it includes. The build already refuses includes of layers a
target does not link; this keeps the links themselves a ladder. A few layers
also have a fixed list of the folders they may include, and no GUI toolkit.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
src = root / "src"
folders = {str(p.relative_to(src)) for p in src.rglob("*") if p.is_dir()}
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of_header(path):
    parts = path.split("/")
    for n in range(len(parts) - 1, 0, -1):
        candidate = "/".join(parts[:n])
        if candidate in folders:
            return candidate
    return None


# Layers that stand beside the ladder rather than on it: what each may include.
only = {"streaming": {"base"}}
wx_include = re.compile(r'^\s*#\s*include\s*<wx/', re.M)

graph = {}
for file in list(src.rglob("*.h")) + list(src.rglob("*.cpp")) + list((root / "tools").glob("*.*")):
    rel = file.parent.relative_to(root)
    node = str(rel.relative_to("src")) if rel.parts[0] == "src" else str(rel)
    for name in include.findall(file.read_text(errors="replace")):
        if name.startswith(".."):
            print(f"{file.relative_to(root)}: includes {name} by a relative path")
            sys.exit(1)
        target = folder_of_header(name)
        if target and target != node:
            graph.setdefault(node, set()).add(target)
            if node in only and target not in only[node]:
                print(f"{file.relative_to(root)}: the {node} layer includes {name} of {target}")
                sys.exit(1)
    if node in only and wx_include.search(file.read_text(errors="replace")):
        print(f"{file.relative_to(root)}: the {node} layer includes a wxWidgets header")
        sys.exit(1)

state = {}


def visit(node, path):
    state[node] = "open"
    for nxt in sorted(graph.get(node, ())):
        if state.get(nxt) == "open":
            cycle = path[path.index(nxt):] + [nxt] if nxt in path else [node, nxt]
            print("circle between source folders: " + " -> ".join(cycle))
            sys.exit(1)
        if nxt not in state:
            visit(nxt, path + [nxt])
    state[node] = "done"


for node in sorted(graph):
    if node not in state:
        visit(node, [node])
for node in sorted(graph):
    print(f"{node} -> {', '.join(sorted(graph[node]))}")
