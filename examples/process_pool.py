"""Stemming in a pool of worker processes.

Stemmers refuse to be pickled, so none is sent to the workers: each worker
creates its own, once, in the pool's initializer, and reuses it for every
batch it is given.

    python3 examples/process_pool.py FILE...
"""

import re
import sys
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import Davuzod

_stemmer = None


def _start_worker(algorithm):
    global _stemmer
    _stemmer = Davuzod.Davuzod(algorithm)


def _stem_batch(words):
    return _stemmer.stemWords(words)


def batches(words, size):
    return [words[i : i + size] for i in range(0, len(words), size)]


def stem_in_pool(words, algorithm="english", workers=2, batch_size=10000):
    """The stems of `words`, in order, computed by `workers` processes."""
    with ProcessPoolExecutor(max_workers=workers, initializer=_start_worker, initargs=(algorithm,)) as pool:
        stems = []
        for part in pool.map(_stem_batch, batches(words, batch_size)):
            stems.extend(part)
        return stems


def main(paths):
    words = []
    for path in paths:
        words += re.findall(r"[^\W\d_]+", Path(path).read_text(encoding="utf-8").lower())
    stems = stem_in_pool(words)
    print(f"{len(words)} words, {len(set(stems))} distinct stems")


if __name__ == "__main__":
    main(sys.argv[1:] or [str(Path(__file__).with_name("texts") / "english.txt")])
