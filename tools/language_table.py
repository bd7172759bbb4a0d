"""Writes lexvale's table of languages: libstemmer's algorithms and the ISO 639 codes each accepts.

    python3 tools/language_table.py [--check]

Run it inside the development root after a build, with src/ and the build on
PYTHONPATH (the module must import):
libstemmer has no call that lists the names it accepts, so they are learnt
from libstemmer itself. A name is accepted when libstemmer opens a stemmer
for it, and its algorithm is the one whose stems agree with that stemmer's on
a fixed set of probe words. Every two- and three-letter name is tried, and
the few longer aliases of LONG_ALIASES; the short ones that ISO 639-1 or ISO 639-2 define (Debian's iso-codes tables) are the
language's codes, the others (such as "esl") are kept as aliases that resolve
but are not listed. With --check, nothing is written and the exit status says
whether the shipped table is what this script would write.
"""

from __future__ import annotations

import itertools
import json
import string
import sys
from pathlib import Path

import Davuzod
from lexvale._probes import probe_words

# Longer names libstemmer is known to accept beside its algorithms' own
# (a name of the algorithm's authors); tried too, and kept when accepted.
LONG_ALIASES = ("kraaij_pohlmann",)

TARGET = Path(__file__).resolve().parent.parent / "src" / "lexvale" / "_tables" / "languages.py"
ISO_TABLE = Path("/usr/share/iso-codes/json/iso_639-2.json")

def accepted_names() -> tuple[tuple[str, ...], dict[str, str]]:
    """libstemmer's algorithms, and every two- and three-letter name it accepts with its algorithm.

    Raises RuntimeError when the probes cannot tell two algorithms apart, or
    when a name opens a stemmer that agrees with none of them.
    """
    words = list(probe_words())
    algorithms = tuple(Davuzod.algorithms())
    fingerprints: dict[tuple[str, ...], str] = {}
    for name in algorithms:
        stems = tuple(Davuzod.Davuzod(name, 0).stemWords(words))
        if stems in fingerprints:
            raise RuntimeError(f"the probe words stem alike in {fingerprints[stems]} and {name}: add probes")
        fingerprints[stems] = name
    names: dict[str, str] = {}
    short = ("".join(letters) for length in (2, 3) for letters in itertools.product(string.ascii_lowercase,
                                                                                     repeat=length))
    for code in itertools.chain(short, LONG_ALIASES):
        try:
            opened = Davuzod.Davuzod(code, 0)
        except KeyError:
            continue
        algorithm = fingerprints.get(tuple(opened.stemWords(words)))
        if algorithm is None:
            raise RuntimeError(f"{code!r} opens a stemmer that stems like no algorithm")
        names[code] = algorithm
    return algorithms, names


def iso_639_codes() -> frozenset[str]:
    """The codes of ISO 639-1 and ISO 639-2 (terminology and bibliographic)."""
    entries = json.loads(ISO_TABLE.read_text(encoding="utf-8"))["639-2"]
    codes = set()
    for entry in entries:
        for key in ("alpha_2", "alpha_3", "bibliographic"):
            if key in entry:
                codes.add(entry[key])
    return frozenset(codes)


def table_source() -> str:
    algorithms, names = accepted_names()
    iso = iso_639_codes()
    codes = {name: tuple(code for code, home in names.items() if home == name and code in iso) for name in algorithms}
    aliases = {code: home for code, home in names.items() if code not in iso}
    lines = [
        '"""libstemmer\'s algorithms and the names it accepts for them; written by tools/language_table.py."""',
        "",
        "#: The canonical algorithm names, in libstemmer's order.",
        f"ALGORITHMS = {algorithms!r}",
        "",
        "#: Each algorithm's ISO 639-1 and ISO 639-2 codes that libstemmer accepts.",
        "ISO_CODES = {",
        *(f"    {name!r}: {found!r}," for name, found in codes.items()),
        "}",
        "",
        "#: Other names libstemmer accepts, which are no ISO 639 code.",
        "ALIASES = {",
        *(f"    {code!r}: {home!r}," for code, home in aliases.items()),
        "}",
        "",
    ]
    return "\n".join(lines)


def main(argv: list[str]) -> int:
    check = argv == ["--check"]
    if argv and not check:
        print(__doc__, file=sys.stderr)
        return 2
    source = table_source()
    current = TARGET.read_text(encoding="utf-8") if TARGET.exists() else None
    if check:
        if current != source:
            print(f"language_table: {TARGET} differs from what tools/language_table.py writes", file=sys.stderr)
            return 1
        return 0
    if current != source:
        TARGET.write_text(source, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
