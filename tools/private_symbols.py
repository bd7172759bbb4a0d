#!/usr/bin/env python3
"""Lists the interpreter's private symbols (_Py...) that a built module imports.

Usage: private_symbols.py MODULE.so [ALLOW_LIST]

Each line of the allow-list names one symbol, then a colon and the reason it
cannot be avoided; '#' starts a comment. The check fails when the module
imports a private symbol the list does not name (a new dependency on the
interpreter's internals, which may change in any release), and when the list
names one the module no longer imports (so that the list stays short).
"""

import re
import subprocess
import sys
from pathlib import Path

DEFAULT_ALLOW_LIST = Path(__file__).with_name("private_symbols.allow")


def imported_private_symbols(module: Path) -> set[str]:
    listing = subprocess.run(
        ["nm", "-D", "--undefined-only", str(module)], capture_output=True, text=True, check=True
    ).stdout
    names = {line.split()[-1] for line in listing.splitlines() if line.strip()}
    return {name.split("@")[0] for name in names if name.startswith("_Py")}


def read_allow_list(path: Path) -> dict[str, str]:
    allowed = {}
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        symbol, _, reason = (part.strip() for part in line.partition(":"))
        if not re.fullmatch(r"_Py\w+", symbol) or not reason:
            raise SystemExit(f"{path}:{number}: expected '_PySymbol: reason', got {line!r}")
        allowed[symbol] = reason
    return allowed


def main(argv: list[str]) -> int:
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    module = Path(argv[1])
    allow_list = Path(argv[2]) if len(argv) == 3 else DEFAULT_ALLOW_LIST
    imported = imported_private_symbols(module)
    allowed = read_allow_list(allow_list)
    new = sorted(imported - set(allowed))
    stale = sorted(set(allowed) - imported)
    for symbol in new:
        print(f"{module.name} imports the private symbol {symbol}, which {allow_list.name} does not allow: "
              "use the public C API, or add it to the list with the reason it cannot be avoided", file=sys.stderr)
    for symbol in stale:
        print(f"{allow_list.name} allows {symbol}, which {module.name} no longer imports: remove it from the list",
              file=sys.stderr)
    if new or stale:
        return 1
    print(f"{module.name}: private symbols imported: {', '.join(sorted(imported)) or 'none'} (all allowed)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
