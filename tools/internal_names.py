#!/usr/bin/env python3
"""Finds the interpreter's private names in the C++ sources outside the one file allowed them.

Usage: internal_names.py [CHECKOUT]

The private fields and types that the module uses (a bytes object's cached
hash, a thread's stack of handled exceptions, a wrapper descriptor's
description record) and any name starting with _Py may appear only in
ext/davuzod/interpreter_internals.h, where each use has its public fallback.
Every C and C++ file under ext/, bench/ and tests/support/ is read: a field
use leaves no symbol for tools/private_symbols.py to see, and the benchmark's
floors must build on the same footing as the module. Exits 1, naming each
place, when a name appears elsewhere.
"""

import re
import sys
from pathlib import Path

ALLOWED = Path("ext/davuzod/interpreter_internals.h")
SEARCHED = ("ext", "bench", "tests/support")
SUFFIXES = {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp"}
PRIVATE = re.compile(r"\b(?:ob_shash|exc_info|_PyErr_StackItem|d_base|wrapperbase|_Py\w*)\b")


def findings(checkout: Path) -> list[str]:
    found = []
    for top in SEARCHED:
        for path in sorted((checkout / top).rglob("*")):
            relative = path.relative_to(checkout)
            if path.suffix not in SUFFIXES or not path.is_file() or relative == ALLOWED:
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
                for match in PRIVATE.finditer(line):
                    found.append(f"{relative}:{number}: {match.group()}")
    return found


def main(argv: list[str]) -> int:
    if len(argv) > 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    checkout = Path(argv[1]) if len(argv) == 2 else Path(__file__).resolve().parent.parent
    found = findings(checkout)
    for place in found:
        print(f"{place}: an interpreter internal outside {ALLOWED}; use it through that header", file=sys.stderr)
    if found:
        return 1
    print(f"interpreter internals appear only in {ALLOWED}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
