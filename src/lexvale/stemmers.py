"""Per-thread, per-process stemmers.

A ``Davuzod`` object serves one thread at a time (its libstemmer handle keeps
the last stem between calls) and cannot be pickled. ``stemmer()`` hands each
thread of each process an object of its own, made on first use and kept for
the thread's life, so that code holding only a configuration (an ``Analyzer``,
a language name) can be shared by threads and shipped to processes.
"""

from __future__ import annotations

import os
import threading

import Davuzod

from .languages import resolve

__all__ = ["CACHE_SIZES", "TEXT_CACHE_SIZE", "cache_size_error", "stemmer"]

#: The cache bounds a ``Davuzod`` object takes (a C int); 0 or less means no cache.
CACHE_SIZES = range(-(2**31), 2**31)

#: The stem cache bound of analyzers and of the command's running text. It
#: holds the distinct words of most collections of running text: Debian's
#: fortunes have 32,448, and a bound of 10000 made the analyzer a third
#: slower over them, while 50000 remembered stems take at most about 9 MB.
TEXT_CACHE_SIZE = 50000


def cache_size_error(name: str, value: int) -> str | None:
    """The message for a cache bound `value` outside ``CACHE_SIZES``, or None when it is inside."""
    if value in CACHE_SIZES:
        return None
    return f"{name} must be between {CACHE_SIZES.start} and {CACHE_SIZES.stop - 1}, not {value}"


class _PerThread(threading.local):
    def __init__(self) -> None:
        self.stemmers: dict[tuple[str, int], Davuzod.Davuzod] = {}


_local = _PerThread()


def _forget_after_fork() -> None:
    # The forking thread's objects would otherwise be inherited by the child's
    # main thread: the child starts again with objects of its own.
    global _local
    _local = _PerThread()


os.register_at_fork(after_in_child=_forget_after_fork)


def stemmer(language: str = "english", cache_size: int = 10000) -> Davuzod.Davuzod:
    """The calling thread's own stemmer for `language` and `cache_size` in this process.

    It is created on first use and the same object is returned to the same
    thread afterwards; another thread, or a child process after ``fork``, gets
    an object of its own. `language` is an algorithm name or ISO 639 code in
    any case (see ``lexvale.languages.resolve``); `cache_size` is the object's
    ``maxCacheSize``.

    >>> stemmer("en").stemWords(["running", "cats"])
    ['run', 'cat']
    >>> stemmer("English") is stemmer("english")
    True

    The object is meant for this thread only: do not hand it to another
    thread or keep it across ``fork``; call ``stemmer()`` there instead.
    """
    stemmers = _local.stemmers
    if type(cache_size) is int:  # 10.0 and True find 10's and 1's objects, but are no bounds
        try:
            return stemmers[language, cache_size]
        except (KeyError, TypeError):
            pass
    name = resolve(language)
    if type(cache_size) is not int:
        if isinstance(cache_size, bool) or not isinstance(cache_size, int):
            raise TypeError(f"cache_size must be an int, not {type(cache_size).__name__}")
        cache_size = int(cache_size)
    made = stemmers.get((name, cache_size))
    if made is None:
        made = Davuzod.Davuzod(name, cache_size)
        stemmers[name, cache_size] = made
    stemmers[language, cache_size] = made
    return made
