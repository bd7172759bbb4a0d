"""The running English text of Debian's fortunes, as the benchmark and the suite read it.

The text is the files that the packages ``fortunes`` and ``fortunes-min``
installed in /usr/share/games/fortunes, as dpkg lists them: not every file
in that folder, where other packages (``fortunes-de``, ``fortunes-es``...)
put their own languages' fortunes.
"""

from __future__ import annotations

from pathlib import Path

FOLDER = Path("/usr/share/games/fortunes")
PACKAGES = ("fortunes-min", "fortunes")
_DPKG_LISTS = Path("/var/lib/dpkg/info")


def fortune_files() -> list[Path]:
    """The packages' fortune files, sorted (their index files left out); [] where they are not installed."""
    files = set()
    for package in PACKAGES:
        listing = _DPKG_LISTS / f"{package}.list"
        if not listing.is_file():
            continue
        for line in listing.read_text(encoding="utf-8").splitlines():
            path = Path(line)
            if (path.parent == FOLDER and path.suffix not in (".dat", ".u8") and path.is_file()
                    and not path.is_symlink()):
                files.add(path)
    return sorted(files)


def read_text(path: str | Path) -> str:
    """A file's text: UTF-8, or Latin-1 where it is not (a few fortunes are)."""
    raw = Path(path).read_bytes()
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")
