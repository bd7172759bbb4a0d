"""A tiny search index: documents and queries meet on stems, not on word forms.

The analyzer gives each word's stem and its place in the original text, so
a hit is shown with the words that matched marked, whatever their form.

    python3 examples/search_index.py "connections"
"""

import sys
from collections import defaultdict

import lexvale

DOCUMENTS = {
    "d1": "The router connected to the network after three retries.",
    "d2": "A stable connection needs good cables.",
    "d3": "She is connecting the printer to the laptop.",
    "d4": "Running shoes for the marathon.",
    "d5": "He runs every morning before work.",
}


class Index:
    """An inverted index from stem to the documents that contain it."""

    def __init__(self, language="english"):
        self._analyzer = lexvale.Analyzer(language, stopwords=["the", "a", "to", "for", "is"])
        self._postings = defaultdict(set)
        self._documents = {}

    def add(self, name, text):
        self._documents[name] = text
        for stem in self._analyzer(text):
            self._postings[stem].add(name)

    def search(self, query):
        """Names of the documents holding every word of the query, in any of its forms."""
        stems = self._analyzer(query)
        if not stems:
            return []
        found = set.intersection(*(self._postings.get(stem, set()) for stem in stems))
        return sorted(found)

    def highlight(self, name, query, mark=("[", "]")):
        """The document's text with the words that match the query marked."""
        wanted = set(self._analyzer(query))
        text = self._documents[name]
        pieces, done = [], 0
        for token in self._analyzer.tokens(text):
            if token.stem in wanted:
                pieces += [text[done : token.start], mark[0], token.word, mark[1]]
                done = token.end
        return "".join(pieces) + text[done:]


def build(documents=DOCUMENTS):
    index = Index()
    for name, text in documents.items():
        index.add(name, text)
    return index


def main(argv):
    index = build()
    for query in argv or ["connections", "run"]:
        print(f"{query!r}:")
        for name in index.search(query):
            print(f"  {name}: {index.highlight(name, query)}")


if __name__ == "__main__":
    main(sys.argv[1:])
