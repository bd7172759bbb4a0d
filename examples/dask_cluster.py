"""The process-pool job on a Dask cluster: the analyzer travels with the tasks.

A local cluster of worker processes stems the partitions of a collection of
texts. The analyzer is shipped to the workers inside the tasks (it pickles as
its settings); on each worker, every thread stems through a stemmer of its
own, made the first time it is needed and kept for the later partitions.

    python3 examples/dask_cluster.py FILE...
"""

import sys
from pathlib import Path

import lexvale


def paragraphs(text):
    return [paragraph for paragraph in text.split("\n\n") if paragraph.strip()]


def stem_on(client, texts, language="english", partitions=8):
    """The stems of each text, in order, computed on the cluster that `client` is a client of."""
    import dask.bag

    analyzer = lexvale.Analyzer(language)
    return dask.bag.from_sequence(texts, npartitions=partitions).map(analyzer).compute(scheduler=client)


def stem_on_cluster(texts, language="english", workers=2, partitions=8):
    """The same on a local cluster of `workers` processes, started for the call."""
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=workers, threads_per_worker=2, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            return stem_on(client, texts, language, partitions)


def main(paths):
    texts = []
    for path in paths:
        texts += paragraphs(Path(path).read_text(encoding="utf-8"))
    stems = stem_on_cluster(texts)
    words = [stem for text_stems in stems for stem in text_stems]
    print(f"{len(texts)} paragraphs, {len(words)} words, {len(set(words))} distinct stems")


if __name__ == "__main__":
    main(sys.argv[1:] or [str(Path(__file__).with_name("texts") / "english.txt")])
