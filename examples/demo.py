"""Stems a few sentences in three languages and shows what Davuzod offers.

Run it with ``make demo``; the texts are Article 1 of the Universal
Declaration of Human Rights, in examples/texts/.
"""

import re
from pathlib import Path

import Davuzod

TEXTS = Path(__file__).with_name("texts")
LANGUAGES = {"english.txt": "english", "french.txt": "french", "german.txt": "german"}


def words_of(text):
    return re.findall(r"\w+", text.lower())


def show(algorithm, text):
    stemmer = Davuzod.Davuzod(algorithm)
    words = words_of(text)
    stems = stemmer.stemWords(words)
    print(f"== {algorithm} ==")
    width = max(map(len, words))
    for word, stem in zip(words, stems):
        marker = "" if word == stem else "  <- stemmed"
        print(f"  {word:<{width}}  {stem}{marker}")
    print()


def main():
    for filename, algorithm in LANGUAGES.items():
        show(algorithm, (TEXTS / filename).read_text(encoding="utf-8"))
    print("Algorithms:", ", ".join(Davuzod.algorithms()))
    print("Davuzod version:", Davuzod.version())


if __name__ == "__main__":
    main()
