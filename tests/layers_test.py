#!/usr/bin/env python3
"""Checks that the house stands the right way up: every #include "..." of src/ and apps/ goes to
the same folder or to a lower floor, and the header includes form no cycle.

Floors, bottom up: base; text; acquisition and network (side by side, neither uses the other);
control; the platforms (posix, win32, side by side); the faces (the public API, the COM server,
the tool).

Inside the tool (apps/tolvak) the rooms stand the same way, top down: main, tool, commands/,
serve/, detect/ (serve settles --format auto with it), publish/, cli/, feed/ and simulator/,
output/ and platform/; rooms on one floor do not use each other. No file of apps/ passes MAX_LINES
lines."""
import pathlib
import re
import sys

FLOORS = {
    "base": 0,
    "text": 1,
    "acquisition": 2,
    "network": 2,
    "control": 3,
    "platform/posix": 4,
    "platform/win32": 4,
    "api": 5,
    "ocx": 5,
    "tolvak": 5,  # include/tolvak: the public API's own headers, the same room as src/api
    "apps/tolvak": 6,
}
# The tool's rooms and their floors, bottom up.
TOOL_ROOMS = {
    "output": 0,
    "platform": 0,
    "feed": 1,
    "simulator": 1,
    "cli": 2,
    "publish": 3,
    "detect": 4,
    "serve": 5,
    "commands": 6,
    "tool": 7,
    "main": 8,
}
TOOL = pathlib.PurePosixPath("apps/tolvak")
MAX_LINES = 400
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room(path):
    """The folder an include path or a source path belongs to."""
    for name in sorted(FLOORS, key=len, reverse=True):
        if path.startswith(name + "/"):
            return name
    return None


def tool_room(path):
    """The tool's room of a path under apps/tolvak: its folder, or main/tool for the top files."""
    parts = pathlib.PurePosixPath(path).relative_to(TOOL).parts
    return parts[0] if len(parts) > 1 else pathlib.PurePosixPath(parts[0]).stem


def tool_faults(root):
    faults = []
    for path in sorted((root / TOOL).rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(root).as_posix()
        text = path.read_text(encoding="utf-8", errors="replace")
        lines = text.count("\n")
        if lines > MAX_LINES:
            faults.append(f"{relative}: {lines} lines, more than {MAX_LINES}")
        source = tool_room(relative)
        if source not in TOOL_ROOMS:
            faults.append(f"{relative}: in no room of the tool")
            continue
        for target in INCLUDE.findall(text):
            if not (root / "apps" / target).exists():
                continue  # not the tool's own (the public API's, src/'s)
            room = tool_room("apps/" + target)
            if room not in TOOL_ROOMS:
                faults.append(f"{relative}: includes {target}, in no room of the tool")
            elif room != source and TOOL_ROOMS[room] >= TOOL_ROOMS[source]:
                faults.append(f"{relative} ({source}) includes {target} ({room}): not below it")
    return faults


def main(root):
    root = pathlib.Path(root)
    faults = []
    graph = {}
    files = [p for top in ("src", "apps", "include") for p in (root / top).rglob("*")
             if p.suffix in (".h", ".cpp")]
    for path in files:
        relative = path.relative_to(root).as_posix()
        source = room(relative.split("/", 1)[1]) if relative.startswith(("src/", "include/")) \
            else room(relative)
        if source is None:
            faults.append(f"{relative}: in no floor")
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            # In apps/, "tolvak/x.h" is the tool's own header unless the public API has it.
            floor = room(target)
            if floor == "tolvak":
                floor = "api" if (root / "include" / target).exists() else "apps/tolvak"
            if source == "tolvak":
                source = "api"
            if floor is None:
                faults.append(f"{relative}: includes {target}, in no floor")
            elif floor != source and FLOORS[floor] >= FLOORS[source]:
                faults.append(f"{relative} ({source}) includes {target} ({floor}): not below it")
            graph.setdefault(relative, []).append(target)

    faults += tool_faults(root)

    # Cycles among headers: a depth-first walk over the paths as written.
    def resolve(include):
        for base in ("src", "include", "apps"):
            if (root / base / include).exists():
                return f"{base}/{include}"
        return None

    state = {}

    def visit(node, trail):
        state[node] = "open"
        for include in graph.get(node, []):
            target = resolve(include)
            if target is None or not target.endswith(".h"):
                continue
            if state.get(target) == "open":
                faults.append("cycle: " + " -> ".join(trail + [target]))
            elif target not in state:
                visit(target, trail + [target])
        state[node] = "done"

    for node in list(graph):
        if node.endswith(".h") and node not in state:
            visit(node, [node])

    for fault in faults:
        print(fault)
    print(f"{len(files)} files, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
