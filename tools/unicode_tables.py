"""Writes lexvale's Unicode data, for both of its paths, from the interpreter's Unicode database.

    python3 tools/unicode_tables.py [--check]

Two files, from one run and so from one Unicode version:

* src/lexvale/_tables/unicode.py: the character classes that the word
  pattern is made of (combining marks, Han, Hiragana) and UNICODE_VERSION;
* ext/analysis/unicode_tables.h: the native pass's record of every code
  point, classified by those same classes, the digit separators of
  lexvale._patterns, the joiners of lexvale._rules and
  the characters that lexvale._preparation drops, so that the native pass
  and the pure-Python path classify every character alike (a test checks all
  of them through the native module).

Run it after a build (it imports lexvale from src/ and the build in
build/release), with the interpreter whose Unicode the package is to follow;
then build again. With
--check, nothing is written and the exit status says whether the shipped
files are what this script would write.

Each code point gets a record: its class bits and its lower case, when that
is one other code point. A character the native pass cannot prepare alone
(its lower case is several characters or depends on context, or its class
changes when it is lower-cased) is marked so, and text holding it takes the
pure-Python path.
"""

from __future__ import annotations

import re
import sys
import unicodedata
from pathlib import Path

CHECKOUT = Path(__file__).resolve().parent.parent
sys.path += [str(CHECKOUT / "src"), str(CHECKOUT / "build" / "release")]  # unless lexvale is found first

from lexvale._preparation import IGNORABLE as IGNORABLE_CLASS  # noqa: E402
from lexvale._patterns import DIGIT_SEPARATORS  # noqa: E402
from lexvale._rules import JOINERS  # noqa: E402

HEADER = CHECKOUT / "ext" / "analysis" / "unicode_tables.h"
MODULE = CHECKOUT / "src" / "lexvale" / "_tables" / "unicode.py"
BLOCK = 128

# Characters of the Han script that are no ideograph by name: the iteration
# and closing marks, the ideographic zero, and the Hangzhou numerals.
HAN_SYMBOLS = [*range(0x3005, 0x3008), *range(0x3021, 0x302A), *range(0x3038, 0x303C)]


def _ranges(codes: list[int]) -> str:
    """A regular-expression class body for the sorted code points `codes`, in escapes."""
    def escape(code: int) -> str:
        return f"\\u{code:04x}" if code <= 0xFFFF else f"\\U{code:08x}"

    parts = []
    start = previous = codes[0]
    for code in [*codes[1:], -1]:
        if code == previous + 1:
            previous = code
            continue
        parts.append(escape(start) if start == previous else f"{escape(start)}-{escape(previous)}")
        start = previous = code
    return "".join(parts)


def classes() -> dict[str, str]:
    """The classes the word pattern is made of, as regular-expression class bodies."""
    everything = [chr(code) for code in range(sys.maxunicode + 1)]
    names = [unicodedata.name(character, "") for character in everything]
    marks = [code for code, character in enumerate(everything) if unicodedata.category(character).startswith("M")]
    han = sorted({*HAN_SYMBOLS, *(code for code, name in enumerate(names)
                                  if name.startswith(("CJK UNIFIED IDEOGRAPH-", "CJK COMPATIBILITY IDEOGRAPH-")))})
    hiragana = [code for code, name in enumerate(names) if name.startswith(("HIRAGANA ", "HENTAIGANA "))]
    return {"MARKS": _ranges(marks), "HAN": _ranges(han), "HIRAGANA": _ranges(hiragana)}


_CLASS_DOCS = {
    "MARKS": "The combining marks (general categories Mn, Mc and Me).",
    "HAN": "Han ideographs (the CJK unified and compatibility ideographs, and the iteration\n#: and numeral ideographs of U+3005-U+3007, U+3021-U+3029, U+3038-U+303B).",
    "HIRAGANA": "Hiragana and Hentaigana letters and Hiragana's iteration marks.",
}


def module_source(found: dict[str, str]) -> str:
    lines = [
        '"""Unicode character classes of the word pattern; written by tools/unicode_tables.py, do not edit.',
        "",
        "Computing them takes a pass over all of Unicode, too slow for every process",
        "that imports lexvale: they are written out here, with the native pass's",
        "tables, from one Unicode version.",
        '"""',
        "",
        "#: The version of Unicode the classes (and the native pass's tables) were written from.",
        f'UNICODE_VERSION = "{unicodedata.unidata_version}"',
    ]
    for name, body in found.items():
        lines += ["", f"#: {_CLASS_DOCS[name]}", f"{name} = ("]
        chunk = ""
        for piece in re.findall(r"\\[uU][0-9a-f]+(?:-\\[uU][0-9a-f]+)?", body):
            if len(chunk) + len(piece) > 100:
                lines.append(f'    "{chunk}"')
                chunk = ""
            chunk += piece
        lines += [f'    "{chunk}"', ")"]
    return "\n".join(lines) + "\n"

# Class bits; the C++ header names them the same way.
WORD = 1          # a letter or digit of a run ([^\W_] less Han and Hiragana)
DIGIT = 2         # a decimal digit (\d), which a point or comma may join
MARK = 4          # a combining mark, which stays inside a run
SINGLE = 8        # Han or Hiragana: a word of its own
NFC_UNSURE = 16   # not known to be in NFC whatever its neighbours
NFKC_UNSURE = 32  # not known to be in NFKC whatever its neighbours
IGNORABLE = 64    # dropped before words are cut (but the joiners, see JOINER)
SPECIAL = 128     # lower case the native pass leaves to the pure-Python path
JOINER = 256      # U+200C and U+200D: inside words in some languages, dropped in others
SURROGATE = 512   # not encodable: the pure-Python path raises as the stemmer does
NFC_HARMLESS = 1024   # outside NFC, but NFC makes it separators that change no word
NFKC_HARMLESS = 2048  # the same for NFKC (a no-break space, an ellipsis)
DIGIT_SEPARATOR = 4096  # joins two digits into one number (lexvale._patterns.DIGIT_SEPARATORS)


def _second_elements() -> set[int]:
    """Code points that canonical composition may join to the character before them."""
    seconds = set(range(0x1161, 0x1176)) | set(range(0x11A8, 0x11C3))  # Hangul vowels and trailing consonants
    for code in range(sys.maxunicode + 1):
        decomposition = unicodedata.decomposition(chr(code))
        if decomposition and not decomposition.startswith("<"):
            parts = decomposition.split()
            if len(parts) == 2:
                seconds.add(int(parts[1], 16))
    return seconds


def records(found: dict[str, str]) -> list[tuple[int, int]]:
    """For each code point: (class bits, lower-case code point or 0)."""
    marks = re.compile(f"[{found['MARKS']}]")
    single = re.compile(f"[{found['HAN']}{found['HIRAGANA']}]")
    ignorable = re.compile(f"[{IGNORABLE_CLASS}]")
    seconds = _second_elements()
    result = []
    for code in range(sys.maxunicode + 1):
        character = chr(code)
        bits = 0
        if 0xD800 <= code <= 0xDFFF:
            result.append((SURROGATE | SPECIAL | NFC_UNSURE | NFKC_UNSURE, 0))
            continue
        if single.fullmatch(character):
            bits |= SINGLE
        elif character.isalnum():
            bits |= WORD
        if character.isdecimal():
            bits |= DIGIT
        if marks.fullmatch(character):
            bits |= MARK
        if character in DIGIT_SEPARATORS:
            bits |= DIGIT_SEPARATOR
        if character in JOINERS:
            bits |= JOINER
        elif ignorable.fullmatch(character):
            bits |= IGNORABLE
        unsure = code in seconds or unicodedata.combining(character) != 0
        if unsure or not unicodedata.is_normalized("NFC", character):
            bits |= NFC_UNSURE
        if unsure or not unicodedata.is_normalized("NFKC", character):
            bits |= NFKC_UNSURE
        if not unsure and not bits & (WORD | SINGLE | MARK | JOINER | IGNORABLE):
            for form, flag in (("NFC", NFC_HARMLESS), ("NFKC", NFKC_HARMLESS)):
                if _harmless(unicodedata.normalize(form, character), marks, single, ignorable):
                    bits |= flag
        lowered = character.lower()
        lower = 0
        if lowered != character:
            if len(lowered) != 1 or character == "Σ" or _class(lowered, marks, single) != _class(character, marks, single):
                bits |= SPECIAL
            else:
                lower = ord(lowered)
                # Lower case that leaves the normal form would need normalising again.
                for form, flag in (("NFC", NFC_UNSURE), ("NFKC", NFKC_UNSURE)):
                    if not bits & flag and not unicodedata.is_normalized(form, lowered):
                        bits |= SPECIAL
        result.append((bits, lower))
    return result


def _harmless(normal: str, marks: re.Pattern[str], single: re.Pattern[str], ignorable: re.Pattern[str]) -> bool:
    """Whether a character's normal form `normal` parts words and joins none: separators only.

    A point or a comma joins digits only alone, so two or more of them ("...",
    an ellipsis) join nothing either.
    """
    for character in normal:
        if (character.isalnum() or marks.fullmatch(character) or single.fullmatch(character)
                or ignorable.fullmatch(character) or character in JOINERS or character in "'\u2019_"):
            return False
        if character in DIGIT_SEPARATORS and len(normal) < 2:
            return False
        if character in DIGIT_SEPARATORS and normal.strip(DIGIT_SEPARATORS):
            return False
    return True


def _class(text: str, marks: re.Pattern[str], single: re.Pattern[str]) -> tuple[bool, bool, bool]:
    first = text[0]
    return bool(single.fullmatch(first)), first.isalnum(), bool(marks.fullmatch(first))


def header_source(found: dict[str, str]) -> str:
    table = records(found)
    unique: dict[tuple[int, int], int] = {}
    entries = [unique.setdefault(record, len(unique)) for record in table]
    blocks: dict[tuple[int, ...], int] = {}
    index = []
    for start in range(0, len(entries), BLOCK):
        block = tuple(entries[start : start + BLOCK])
        index.append(blocks.setdefault(block, len(blocks)))
    assert len(unique) < 2**16 and len(blocks) < 2**16

    def rows(values: list[int], per_line: int) -> list[str]:
        return ["    " + ", ".join(map(str, values[i : i + per_line])) + "," for i in range(0, len(values), per_line)]

    flat_blocks = [value for block in blocks for value in block]
    lines = [
        "// Character classes and lower case of every code point, for the native analysis pass.",
        f"// Written by tools/unicode_tables.py from Unicode {unicodedata.unidata_version}; do not edit.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace lexvale {",
        "",
        f'inline constexpr const char* unicode_version = "{unicodedata.unidata_version}";',
        "",
        "enum CharBits : std::uint16_t {",
        f"    char_word = {WORD},",
        f"    char_digit = {DIGIT},",
        f"    char_mark = {MARK},",
        f"    char_single = {SINGLE},",
        f"    char_nfc_unsure = {NFC_UNSURE},",
        f"    char_nfkc_unsure = {NFKC_UNSURE},",
        f"    char_ignorable = {IGNORABLE},",
        f"    char_special = {SPECIAL},",
        f"    char_joiner = {JOINER},",
        f"    char_surrogate = {SURROGATE},",
        f"    char_nfc_harmless = {NFC_HARMLESS},",
        f"    char_nfkc_harmless = {NFKC_HARMLESS},",
        f"    char_digit_separator = {DIGIT_SEPARATOR},",
        "};",
        "",
        "struct CharRecord {",
        "    std::uint16_t bits;",
        "    std::uint32_t lower;  // the lower-case code point, or 0 when it is the character itself",
        "};",
        "",
        f"inline constexpr int char_block_shift = {BLOCK.bit_length() - 1};",
        "",
        f"inline constexpr CharRecord char_records[{len(unique)}] = {{",
        *(f"    {{{bits}, {lower}}}," for bits, lower in unique),
        "};",
        "",
        f"inline constexpr std::uint16_t char_block_of[{len(index)}] = {{",
        *rows(index, 24),
        "};",
        "",
        f"inline constexpr std::uint16_t char_blocks[{len(flat_blocks)}] = {{",
        *rows(flat_blocks, 24),
        "};",
        "",
        "inline constexpr const CharRecord& char_record(std::uint32_t code) noexcept {",
        "    std::uint32_t block = char_block_of[code >> char_block_shift];",
        f"    return char_records[char_blocks[(block << char_block_shift) | (code & {BLOCK - 1})]];",
        "}",
        "",
        "}  // namespace lexvale",
        "",
    ]
    return "\n".join(lines)


def main(argv: list[str]) -> int:
    check = argv == ["--check"]
    if argv and not check:
        print(__doc__, file=sys.stderr)
        return 2
    found = classes()
    stale = []
    for target, source in ((MODULE, module_source(found)), (HEADER, header_source(found))):
        current = target.read_text(encoding="utf-8") if target.exists() else None
        if current == source:
            continue
        if check:
            stale.append(target)
        else:
            target.write_text(source, encoding="utf-8")
    for target in stale:
        print(f"unicode_tables: {target} differs from what tools/unicode_tables.py writes", file=sys.stderr)
    return 1 if stale else 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
