#!/usr/bin/env python3
"""Checks that every include of the program's code points down the floors of
the rooms: a room includes only its own headers and those of rooms on lower
floors, never a sibling of its own floor or a room above. Prints each
include that does not and exits 1; exits 0 when there is none.

Usage: check_layers.py [SOURCE_ROOT]
"""
import pathlib
import re
import sys

# Room -> floor, from the ground up (README, "Layout").
FLOORS = {
    "platform": 0,
    "records": 1,
    "keyfile": 2, "tessil": 2, "install": 2,
    "sites": 3,
    "net": 4, "alerts": 4,
    "engine": 5,
    "screens": 6,
    "app": 7,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = {".h", ".cpp", ".inc", ".rc"}


def faults(root):
    for room, floor in FLOORS.items():
        for path in sorted((root / room).rglob("*")):
            if path.suffix not in SOURCES or not path.is_file():
                continue
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1).split("/")[0]
                if target == room or target not in FLOORS:
                    continue  # its own header, or a file beside it
                if FLOORS[target] >= floor:
                    where = "a sibling" if FLOORS[target] == floor else "a room above"
                    yield (f"{path.relative_to(root)}:{number}: {room}/ (floor {floor}) includes "
                           f"{where}: {match.group(1)} ({target}/, floor {FLOORS[target]})")


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    found = list(faults(root.resolve()))
    for fault in found:
        print(fault)
    print(f"{len(found)} include(s) against the floors" if found else "every include points down")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
