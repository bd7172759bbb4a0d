"""Snowball stemming where it is used: text analysis, pipelines, the shell.

``lexvale`` builds on the ``Davuzod`` module of the same distribution:

* ``Analyzer``: running text in, stems out, after Unicode normalisation,
  lower-casing, stop words, protected words and overrides; picklable,
  immutable and safe to share between threads and processes;
* ``stemmer()``: the calling thread's own ``Davuzod`` object for a language;
* ``algorithms()`` and ``iso_codes()``: the algorithms and the codes each accepts;
* ``python -m lexvale`` (or the ``lexvale`` command): word lists and text
  stemmed from the shell, as libstemmer's ``stemwords`` does.
"""

import Davuzod as _Davuzod

from .analyzer import DEFAULT_PATTERN, Analyzer, Token
from .languages import algorithms, iso_codes, resolve
from .stemmers import stemmer

__all__ = ["DEFAULT_PATTERN", "Analyzer", "Token", "algorithms", "iso_codes", "resolve", "stemmer", "__version__"]

#: The distribution's version, which the module's is.
__version__ = _Davuzod.version()
