#!/usr/bin/env python3
"""Checks that the house stands the right way up: every #include "..." of src/ and apps/ goes to
the same folder or to a lower floor, and the header includes form no cycle.

Floors, bottom up: base; text; acquisition and network (side by side, neither uses the other);
control; the platforms (posix, win32, side by side); the faces (the public API, the COM server,
the tool)."""
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
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room(path):
    """The folder an include path or a source path belongs to."""
    for name in sorted(FLOORS, key=len, reverse=True):
        if path.startswith(name + "/"):
            return name
    return None


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
