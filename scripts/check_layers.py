#!/usr/bin/env python3
"""Checks the layer rule: a folder of src/ includes only its own headers and those
of lower layers. Prints every include that points up or sideways and exits 1 when
there is one.

  scripts/check_layers.py [SOURCE_ROOT]
"""
import pathlib
import re
import sys

# Lower layers first; folders in one layer may not include each other.
LAYERS = [
    ["platform"],
    ["zip", "highlight"],
    ["store", "panes"],
    ["explorer", "shell"],
    ["clipboard", "glyphs", "finder"],
    ["app"],
    ["qt", "cli"],
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_0-9]+)/', re.MULTILINE)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    src = root / "src"
    faults = []
    for folder in sorted(p for p in src.iterdir() if p.is_dir()):
        if folder.name not in RANK:
            faults.append(f"src/{folder.name}: a folder no layer names (add it to LAYERS in {__file__})")
            continue
        for path in sorted(folder.rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for target in INCLUDE.findall(path.read_text(errors="replace")):
                if target == folder.name or target not in RANK:
                    continue
                if RANK[target] >= RANK[folder.name]:
                    faults.append(f"{path.relative_to(root)}: includes {target}/, "
                                  f"which is not below {folder.name}/")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
