"""Snowball stemming where it is used: text analysis, pipelines, the shell.

``lexvale`` builds on the ``Davuzod`` module of the same distribution:

* ``Analyzer``: running text in, stems out, after Unicode normalisation,
  lower-casing, stop words, protected words and overrides; picklable,
  tunable through scikit-learn's parameter protocol, and safe to share
  between threads and processes;
* ``stemmer()``: the calling thread's own ``Davuzod`` object for a language;
* ``stopwords()`` and ``read_word_list()``: Snowball's stop lists, built in,
  and word lists in their format;
* ``surface_forms()``: a readable word for each stem;
* ``CountVectorizer``, ``TfidfVectorizer``, ``HashingVectorizer``:
  scikit-learn's vectorizers with an analyzer's settings, counted natively
  (they import scikit-learn);
* ``algorithms()`` and ``iso_codes()``: the algorithms and the codes each accepts;
* ``python -m lexvale`` (or the ``lexvale`` command): word lists and text
  stemmed from the shell, as libstemmer's ``stemwords`` does.

The names are loaded on first use, so that ``import lexvale`` (and the
command line's start-up) pays only for what is used.
"""

import importlib

import Davuzod as _Davuzod

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .analyzer import Analyzer, Token
    from .languages import algorithms, iso_codes, resolve
    from ._patterns import DEFAULT_PATTERN
    from .stemmers import stemmer
    from .stoplists import read_word_list, stopwords
    from .surface import surface_forms
    from .vectorizers import CountVectorizer, HashingVectorizer, TfidfVectorizer

__all__ = [
    "DEFAULT_PATTERN", "Analyzer", "CountVectorizer", "HashingVectorizer", "TfidfVectorizer", "Token", "algorithms", "iso_codes", "read_word_list", "resolve", "stemmer",
    "stopwords", "surface_forms", "__version__",
]

#: The distribution's version, which the module's is.
__version__ = _Davuzod.version()

_HOMES = {
    "DEFAULT_PATTERN": "_patterns",
    "Analyzer": "analyzer",
    "Token": "analyzer",
    "algorithms": "languages",
    "iso_codes": "languages",
    "resolve": "languages",
    "stemmer": "stemmers",
    "stopwords": "stoplists",
    "read_word_list": "stoplists",
    "surface_forms": "surface",
    "CountVectorizer": "vectorizers",
    "TfidfVectorizer": "vectorizers",
    "HashingVectorizer": "vectorizers",
}


def __getattr__(name: str) -> object:
    home = _HOMES.get(name)
    if home is None:
        raise AttributeError(f"module 'lexvale' has no attribute {name!r}")
    value = getattr(importlib.import_module(f".{home}", __name__), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted({*globals(), *_HOMES})
