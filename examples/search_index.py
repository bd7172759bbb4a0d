"""A tiny search index: documents and queries meet on stems, not on word forms.

    python3 examples/search_index.py "connections"
"""

import re
import sys
from collections import defaultdict

import Davuzod

DOCUMENTS = {
    "d1": "The router connected to the network after three retries.",
    "d2": "A stable connection needs good cables.",
    "d3": "She is connecting the printer to the laptop.",
    "d4": "Running shoes for the marathon.",
    "d5": "He runs every morning before work.",
}

_TOKEN = re.compile(r"[^\W\d_]+")


def tokenize(text):
    return _TOKEN.findall(text.lower())


class Index:
    """An inverted index from stem to the documents that contain it."""

    def __init__(self, algorithm="english"):
        self._stemmer = Davuzod.Davuzod(algorithm)
        self._postings = defaultdict(set)

    def add(self, name, text):
        for stem in self._stemmer.stemWords(tokenize(text)):
            self._postings[stem].add(name)

    def search(self, query):
        """Names of the documents holding every word of the query, in any of its forms."""
        stems = self._stemmer.stemWords(tokenize(query))
        if not stems:
            return []
        found = set.intersection(*(self._postings.get(stem, set()) for stem in stems))
        return sorted(found)


def build(documents=DOCUMENTS):
    index = Index()
    for name, text in documents.items():
        index.add(name, text)
    return index


def main(argv):
    index = build()
    for query in argv or ["connections", "run"]:
        print(f"{query!r}: {index.search(query)}")


if __name__ == "__main__":
    main(sys.argv[1:])
