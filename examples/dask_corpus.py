"""A corpus larger than memory, counted on a Dask cluster: each task reads its own part of the files.

Each file is cut into byte ranges (64 MB by default: large enough that the
scheduler's cost per task and the size of a task's result are small beside
its work). A task opens the file, reads its range itself (a line belongs to
the range that holds its first byte), hashes the stems of its lines with
``lexvale.HashingVectorizer`` and returns their counts: the columns that
occur and how often. Nothing but file names and offsets goes to the
workers, and a few hundred kilobytes come back; the counts are added at the
end into the counts of every hashed stem of the corpus.

    python3 examples/dask_corpus.py [--workers N] [--language LANGUAGE] FILE...
"""

import argparse
import os
import time

import numpy as np

import lexvale

RANGE_BYTES = 64 << 20
N_FEATURES = 2**20


def byte_ranges(paths, size=RANGE_BYTES):
    """(path, start, end) for each range of about `size` bytes of each file."""
    ranges = []
    for path in paths:
        total = os.path.getsize(path)
        ranges += [(path, start, min(start + size, total)) for start in range(0, total, size)]
    return ranges


def read_range(path, start, end):
    """The lines whose first byte lies in [start, end) of the file, as text."""
    with open(path, "rb") as file:
        if start > 0:
            file.seek(start - 1)
            file.readline()  # the end of the line that began in the range before
        begin = file.tell()
        data = file.read(max(end - begin, 0)) if begin < end else b""
        if data and not data.endswith(b"\n"):
            data += file.readline()  # the rest of the range's last line
    return data.decode("utf-8", errors="replace").splitlines()


def count_range(path, start, end, language="english"):
    """The hashed stems of a range's lines: (columns, counts) of those that occur."""
    vectorizer = lexvale.HashingVectorizer(language, n_features=N_FEATURES, alternate_sign=False, norm=None)
    lines = read_range(path, start, end)
    if not lines:
        return np.empty(0, dtype=np.int64), np.empty(0)
    totals = np.asarray(vectorizer.transform(lines).sum(axis=0)).ravel()
    columns = np.flatnonzero(totals)
    return columns, totals[columns]


def add_counts(parts):
    """The counts of the whole corpus, by column, from the ranges' counts."""
    totals = np.zeros(N_FEATURES)
    for columns, counts in parts:
        np.add.at(totals, columns, counts)
    return totals


def count_here(paths, language="english", size=RANGE_BYTES):
    """The corpus's counts in this process, range after range."""
    return add_counts(count_range(path, start, end, language) for path, start, end in byte_ranges(paths, size))


def count_on(client, paths, language="english", size=RANGE_BYTES):
    """The corpus's counts, its ranges counted on the cluster that `client` is a client of."""
    # The workers need this module's code, which they may not have (another
    # machine, or a path without examples/): Dask sends it to them. Run as a
    # program, its functions travel by value with the tasks instead.
    if __name__ != "__main__":
        client.upload_file(__file__)
    futures = [client.submit(count_range, path, start, end, language, pure=False)
               for path, start, end in byte_ranges(paths, size)]
    return add_counts(future.result() for future in futures)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("--workers", type=int, default=0, help="worker processes of a local cluster (0: none)")
    parser.add_argument("--language", default="english")
    args = parser.parse_args(argv)
    started = time.perf_counter()
    if args.workers:
        from distributed import Client, LocalCluster

        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            totals = count_on(client, args.files, args.language)
    else:
        totals = count_here(args.files, args.language)
    seconds = time.perf_counter() - started
    megabytes = sum(os.path.getsize(path) for path in args.files) / 1e6
    print(f"{int(totals.sum()):,} stems, {np.count_nonzero(totals):,} hashed columns; "
          f"{megabytes:,.0f} MB in {seconds:.1f} s ({megabytes / seconds:.1f} MB/s)")


if __name__ == "__main__":
    main()
