#!/usr/bin/env python3
"""The layering check must fail on every spelling of an upward include that
the compiler accepts, not only on the quoted path from src/.

Usage: check_layers_test.py <repository root>
"""
import pathlib
import subprocess
import sys
import tempfile

SPELLINGS = [
    '#include "device/transport.h"',
    '#include <device/transport.h>',
    '#include "../device/transport.h"',
]


def main() -> int:
    root = pathlib.Path(sys.argv[1])
    missed = []
    for spelling in SPELLINGS:
        with tempfile.TemporaryDirectory() as tmp:
            tree = pathlib.Path(tmp)
            (tree / "src/api").mkdir(parents=True)
            (tree / "src/device").mkdir(parents=True)
            (tree / "src/device/transport.h").write_text("#pragma once\n")
            (tree / "src/api/frame.cpp").write_text(spelling + "\n")
            run = subprocess.run([sys.executable, str(root / "scripts/check-layers"), str(tree)],
                                 capture_output=True, text=True)
            if run.returncode == 0:
                missed.append(spelling)
    for spelling in missed:
        print(f"check-layers passes src/api/frame.cpp with: {spelling}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
