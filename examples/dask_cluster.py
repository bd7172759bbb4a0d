"""The process-pool job on a Dask cluster: one stemmer per worker, made once.

A local cluster of worker processes stems the partitions of a word list. The
stemmer cannot travel to the workers (it refuses to be pickled), so each
worker creates its own the first time a task needs it and keeps it for every
later partition.

    python3 examples/dask_cluster.py FILE...
"""

import re
import sys
from pathlib import Path

import Davuzod


def worker_stemmer(algorithm):
    """This worker's stemmer for `algorithm`, created on first use."""
    from distributed import get_worker

    worker = get_worker()
    # Kept on the worker object, which lives as long as the worker process.
    # Workers run one task at a time (threads_per_worker=1), so no two tasks
    # use a stemmer at once.
    stemmers = worker.__dict__.setdefault("davuzod_stemmers", {})
    if algorithm not in stemmers:
        stemmers[algorithm] = Davuzod.Davuzod(algorithm)
    return stemmers[algorithm]


def stem_partition(words, algorithm):
    return worker_stemmer(algorithm).stemWords(words)


def stem_on_cluster(words, algorithm="english", workers=2, partition_size=10000):
    from distributed import Client, LocalCluster

    partitions = [words[i : i + partition_size] for i in range(0, len(words), partition_size)]
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            futures = client.map(stem_partition, partitions, algorithm=algorithm, pure=False)
            stems = []
            for part in client.gather(futures):
                stems.extend(part)
            return stems


def main(paths):
    words = []
    for path in paths:
        words += re.findall(r"[^\W\d_]+", Path(path).read_text(encoding="utf-8").lower())
    stems = stem_on_cluster(words)
    print(f"{len(words)} words, {len(set(stems))} distinct stems")


if __name__ == "__main__":
    main(sys.argv[1:] or [str(Path(__file__).with_name("texts") / "english.txt")])
