"""Writes lexvale's built-in stop lists from Snowball's published ones.

    python3 tools/stopwords.py [--check]

Snowball publishes a stop list beside 16 of its algorithms (kept as published
in tools/snowball_stopwords/, with their licence). In their format a vertical
bar starts a comment that runs to the end of the line, and the words are what
is left, separated by white space. The package ships only the words: one file
per list in src/lexvale/data/stopwords/, one word per line in the list's order,
each once (German's with the reformed spelling of a word with "ß" too), with
the licence notice beside them. With --check, nothing is
written and the exit status says whether the shipped files are what this
script would write.
"""

from __future__ import annotations

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCES = HERE / "snowball_stopwords"
TARGET = HERE.parent / "src" / "lexvale" / "data" / "stopwords"
NOTICE_HEADER = (
    "The stop lists in this folder are derived from those that the Snowball project\n"
    "publishes beside its stemming algorithms (algorithms/LANGUAGE/stop.txt): the\n"
    "words only, comments removed, and in German's list the spelling since the 1996\n"
    "reform beside the older one (\"dass\" beside \"daß\"). They are covered by the\n"
    "licence below.\n\n"
)


def words_of(source: str) -> list[str]:
    """The words of a list in Snowball's format, in order, each once."""
    seen: dict[str, None] = {}
    for line in source.split("\n"):
        for word in line.partition("|")[0].split():
            seen.setdefault(word)
    return list(seen)


def licence() -> str:
    readme = (SOURCES / "README.md").read_text(encoding="utf-8")
    start = readme.index("Copyright")
    return NOTICE_HEADER + readme[start:].strip() + "\n"


def with_reformed_spellings(language: str, words: list[str]) -> list[str]:
    """German's list, written before the 1996 spelling reform, also gets each word's "ss" spelling.

    The list has "daß", which text since the reform writes "dass" (and any
    text in capitals "DASS", which lower-cases to "dass"); the stemmer treats
    the two alike, and so must the stop list.
    """
    if language != "german":
        return words
    seen = dict.fromkeys(words)
    for word in words:
        seen.setdefault(word.replace("ß", "ss"))
    return list(seen)


def expected_files() -> dict[str, str]:
    """File name -> content of what the package should ship."""
    files = {
        f"{source.stem}.txt": "".join(
            f"{word}\n" for word in with_reformed_spellings(source.stem, words_of(source.read_text(encoding="utf-8"))))
        for source in sorted(SOURCES.glob("*.txt"))
    }
    files["NOTICE"] = licence()
    return files


def main(argv: list[str]) -> int:
    check = argv == ["--check"]
    if argv and not check:
        print(__doc__, file=sys.stderr)
        return 2
    expected = expected_files()
    shipped = {path.name for path in TARGET.iterdir()} if TARGET.is_dir() else set()
    stale = sorted(shipped - set(expected))
    different = sorted(
        name for name, content in expected.items()
        if not (TARGET / name).is_file() or (TARGET / name).read_text(encoding="utf-8") != content
    )
    if check:
        for name in stale + different:
            print(f"stopwords: {TARGET / name} differs from what tools/stopwords.py writes", file=sys.stderr)
        return 1 if stale or different else 0
    TARGET.mkdir(parents=True, exist_ok=True)
    for name in stale:
        (TARGET / name).unlink()
    for name in different:
        (TARGET / name).write_text(expected[name], encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
