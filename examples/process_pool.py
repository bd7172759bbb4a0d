"""Stemming running text in a pool of worker processes.

The analyzer goes to the workers as it is: it pickles as its settings, and
each worker process stems through a stemmer of its own, made on first use.
No initializer, no global, no function of our own.

    python3 examples/process_pool.py FILE...
"""

import sys
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import lexvale


def paragraphs(text):
    return [paragraph for paragraph in text.split("\n\n") if paragraph.strip()]


def stem_in_pool(texts, language="english", workers=2, chunksize=64):
    """The stems of each text, in order, computed by `workers` processes."""
    analyzer = lexvale.Analyzer(language)
    with ProcessPoolExecutor(max_workers=workers) as pool:
        # Texts travel in chunks, so each worker stems many per message.
        return list(pool.map(analyzer, texts, chunksize=chunksize))


def main(paths):
    texts = []
    for path in paths:
        texts += paragraphs(Path(path).read_text(encoding="utf-8"))
    stems = stem_in_pool(texts)
    words = [stem for text_stems in stems for stem in text_stems]
    print(f"{len(texts)} paragraphs, {len(words)} words, {len(set(words))} distinct stems")


if __name__ == "__main__":
    main(sys.argv[1:] or [str(Path(__file__).with_name("texts") / "english.txt")])
