"""Checks that every folder of src/ includes only the layers below it, and that
platform code reaches another subsystem's platform code only through core's.

    python3 scripts/check_layers.py        # prints each breach; exit 1 if any

Layers, lowest first: core; settings and link (side by side, neither includes
the other); keys (typing keys); shape (what a record becomes); wedge (the road
of a record); shell. A file in a win/ or linux/ folder may include its own
subsystem's twins and core's (core/win, core/linux); only shell's, which put
the program together, include the twins of the layers below.
"""
import re
import sys
from pathlib import Path

RANK = {"core": 1, "settings": 2, "link": 2, "keys": 3, "shape": 4, "wedge": 5, "shell": 6}
PLATFORMS = ("win", "linux")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def breaches(src):
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        parts = path.relative_to(src).parts
        own = parts[0]
        own_platform = parts[1] if len(parts) > 2 and parts[1] in PLATFORMS else None
        for target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            tparts = target.split("/")
            if tparts[0] not in RANK:
                continue  # a header of the same folder, or generated
            layer = tparts[0]
            where = f"{path.relative_to(src.parent)}: includes {target}"
            if layer != own and RANK[layer] >= RANK[own]:
                yield f"{where} ({layer} is not below {own})"
            platform = tparts[1] if len(tparts) > 2 and tparts[1] in PLATFORMS else None
            if platform and own_platform != platform and layer != "core":
                yield f"{where} (platform code outside {layer}/{platform})"
            if platform and layer not in (own, "core") and own != "shell":
                yield f"{where} (another subsystem's {platform} code, not through core/{platform})"


def main():
    src = Path(__file__).resolve().parent.parent / "src"
    found = list(breaches(src))
    for line in found:
        print(line)
    print(f"{len(found)} includes against the layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
