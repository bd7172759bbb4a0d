"""Readable stems: for each stem, the word that most often gave it."""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable

from .analyzer import Analyzer

__all__ = ["surface_forms"]


def surface_forms(analyzer: Analyzer, texts: Iterable[str]) -> dict[str, str]:
    """For each stem `analyzer` finds in `texts`, the word (as prepared) that most often gave it.

    Stems make poor labels ("chocol", "gener"); this maps them back to a word
    of the texts, for feature names, topic words and facets. Ties go to the
    word seen first. One pass, through ``analyzer.tokens``.

    >>> surface_forms(Analyzer("english"), ["Running runs", "RUN run. ran", "running"])
    {'run': 'running', 'ran': 'ran'}
    """
    if not isinstance(analyzer, Analyzer):
        raise TypeError(f"analyzer must be a lexvale.Analyzer, not {type(analyzer).__name__}")
    if isinstance(texts, (str, bytes)):
        raise TypeError(f"texts must be an iterable of str, not a single {type(texts).__name__}")
    counts: dict[str, Counter[str]] = {}
    prepare = analyzer.prepare
    for text in texts:
        for token in analyzer.tokens(text):
            counts.setdefault(token.stem, Counter())[prepare(token.word)] += 1
    # Counter.most_common keeps first-seen order among equal counts.
    return {stem: words.most_common(1)[0][0] for stem, words in counts.items()}
