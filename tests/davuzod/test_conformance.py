"""Conformance: the stems of whole word lists equal those of libstemmer's own stemwords program.

Each installed list of /usr/share/dict goes through stemwords once and through
every way of stemming with Davuzod: stemWords and stemWord, with the default
cache bound, a small bound that trims every few words, and no cache, with the
words as text and as UTF-8 bytes. A list longer than a path's word budget is
taken in strides, each path starting at a different offset; on the release
build the twelve paths together still cover every word of every list.
"""

import functools
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

import Davuzod
from conftest import stemwords_program

DICTIONARIES = Path("/usr/share/dict")
WORD_LISTS = {  # list file: algorithm
    "american-english": "english",
    "british-english": "english",
    "french": "french",
    "ngerman": "german",
    "spanish": "spanish",
    "italian": "italian",
    "portuguese": "portuguese",
    "dutch": "dutch",
    "swedish": "swedish",
    "danish": "danish",
    "norsk": "norwegian",
    "catalan": "catalan",
    "polish": "polish",
    "irish": "irish",
}

DEBUG_INTERPRETER = hasattr(sys, "gettotalrefcount")
# On the release build the lists up to half a million words go whole through
# every path; slower builds (debug, sanitizers) take a sample of each list,
# for what their own checks see: the release run compares every word.
WORDS_PER_PATH = int(os.environ.get("DAVUZOD_CONFORMANCE_WORDS", 10_000 if DEBUG_INTERPRETER else 500_000))

SMALL_BOUND = 10  # trims after every third new word
PATHS = [
    (method, bound, kind)
    for bound in (None, SMALL_BOUND, 0)
    for method in ("stemWords", "stemWord")
    for kind in ("text", "bytes")
]

# stemwords lowers A to Z before stemming; Davuzod stems what it is given. Both get the lowered list.
ASCII_LOWER = bytes.maketrans(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", b"abcdefghijklmnopqrstuvwxyz")


def path_id(path):
    method, bound, kind = path
    cache = "default-cache" if bound is None else "uncached" if bound == 0 else f"cache-{bound}"
    return f"{method}-{cache}-{kind}"


class WordList:
    def __init__(self, name, algorithm, words, stems):
        self.name, self.algorithm = name, algorithm
        self.words, self.stems = words, stems  # UTF-8 lines, in order
        self.stride = math.ceil(len(words) / WORDS_PER_PATH)

    def sample(self, offset):
        start = offset % self.stride
        return self.words[start :: self.stride], self.stems[start :: self.stride]


@functools.lru_cache(maxsize=1)  # the tests take one list after another
def load(name):
    algorithm = WORD_LISTS[name]
    source = DICTIONARIES / name
    if not source.exists():
        pytest.skip(f"{source} is not installed")
    if algorithm not in Davuzod.algorithms():
        pytest.skip(f"no {algorithm} algorithm in this libstemmer")
    stemwords = stemwords_program()
    raw = source.read_bytes()
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        raw = raw.decode("latin-1").encode("utf-8")
    words = raw.translate(ASCII_LOWER).split(b"\n")
    if words[-1] == b"":
        words.pop()
    with tempfile.TemporaryDirectory() as scratch:
        given, stemmed = Path(scratch, "words"), Path(scratch, "stems")
        given.write_bytes(b"\n".join(words) + b"\n")
        subprocess.run([stemwords, "-l", algorithm, "-i", given, "-o", stemmed], check=True, timeout=300)
        stems = stemmed.read_bytes().split(b"\n")
    assert stems.pop() == b""
    assert len(stems) == len(words), f"stemwords gave {len(stems)} stems for {len(words)} words"
    return WordList(name, algorithm, words, stems)


def as_text(lines):
    return b"\n".join(lines).decode("utf-8").split("\n") if lines else []


@pytest.mark.parametrize(
    "name, path_number",
    [(name, number) for name in WORD_LISTS for number in range(len(PATHS))],
    ids=[f"{name}-{path_id(path)}" for name in WORD_LISTS for path in PATHS],
)
def test_stems_equal_stemwords(name, path_number):
    word_list = load(name)
    method, bound, kind = PATHS[path_number]
    words, expected = word_list.sample(path_number)
    if kind == "text":
        words, expected = as_text(words), as_text(expected)
    stemmer = Davuzod.Davuzod(word_list.algorithm) if bound is None else Davuzod.Davuzod(word_list.algorithm, bound)
    if method == "stemWords":
        stems = stemmer.stemWords(words)
    else:
        stems = list(map(stemmer.stemWord, words))
    compared = f"{len(words)} of {len(word_list.words)} {name} words ({word_list.algorithm})"
    print(f"{path_id(PATHS[path_number])}: {compared}")
    if stems != expected:
        wrong = [(w, s, e) for w, s, e in zip(words, stems, expected) if s != e]
        shown = "\n".join(f"  {w!r}: {s!r}, stemwords {e!r}" for w, s, e in wrong[:10])
        pytest.fail(f"{len(wrong)} stems differ, {len(stems)} stems for {compared}:\n{shown}")
