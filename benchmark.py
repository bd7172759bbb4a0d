#!/usr/bin/env python3
"""Measure the speed of Davuzod's stemming with various cache sizes.

For each algorithm and cache size this times ``stemWords`` over a whole text
and ``stemWord`` called in a Python loop, and prints nanoseconds per word,
words per second, the cache's hit rate and size, and every figure as a ratio
to two floors measured in the same run on the same words:

* libstemmer alone (``sb_stemmer_stem`` and ``sb_stemmer_length`` in a tight
  C++ loop, the ``stem_floor`` program built beside the module), and
* for the per-call path, the same Python loop calling ``dict.get`` on a
  prebuilt dictionary of stems.

Two more floors come from the ``capi_floor`` module, built beside the module
by ``make bench``: C loops on the interpreter's API that do only what stemWords
cannot avoid. On text whose every word is cached, the hit's floor (make the
bytes key, look it up, store the counter in the entry, hand back the stem),
measured in stages against ``list(map(d.get, words))`` and ``stemWords``; with
the cache off, libstemmer with each stem made into a new str, against
``stemWords``.

The default text is the running English of Debian's ``fortunes`` package;
``--text`` takes any text file and ``--words`` a list of one word per line.
Run it with ``make bench`` in this repository.
"""

import argparse
import gc
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import tracemalloc
from pathlib import Path

import Davuzod

sys.path.insert(0, str(Path(__file__).resolve().parent / "tools"))
from fortunes import fortune_files, read_text  # noqa: E402

DEFAULT_WORD_LISTS = {
    "french": "/usr/share/dict/french",
    "german": "/usr/share/dict/ngerman",
    "spanish": "/usr/share/dict/spanish",
    "italian": "/usr/share/dict/italian",
    "portuguese": "/usr/share/dict/portuguese",
    "dutch": "/usr/share/dict/dutch",
    "swedish": "/usr/share/dict/swedish",
    "danish": "/usr/share/dict/danish",
    "norwegian": "/usr/share/dict/norsk",
}
DEFAULT_CACHE_SIZES = [0, 100, 1000, 10000, 100000]
INTERRUPTED_WORDS = 20_000_000
WORD = re.compile(r"[^\W\d_]+(?:'[^\W\d_]+)*")


# ---- input


def words_of_text(text):
    return WORD.findall(text.lower())


def default_english_text():
    files = fortune_files()
    if not files:
        raise SystemExit(f"no default text: install Debian's fortunes package, or give --text FILE")
    return "\n".join(read_text(p) for p in files), f"Debian fortunes ({len(files)} files)"


def load_words(args, algorithm):
    if args.text:
        return words_of_text(read_text(args.text)), args.text
    if args.words:
        return [w.lower() for w in read_text(args.words).split()], args.words
    if algorithm in ("english", "porter", "en", "eng"):
        text, source = default_english_text()
        return words_of_text(text), source
    if algorithm in DEFAULT_WORD_LISTS and Path(DEFAULT_WORD_LISTS[algorithm]).exists():
        path = DEFAULT_WORD_LISTS[algorithm]
        return [w.lower() for w in read_text(path).split() if "'" not in w], path
    raise SystemExit(f"no default words for {algorithm}: give --text FILE or --words FILE")


# ---- measurement


class Progress:
    """A progress line on stderr, shown once the run has lasted a few seconds."""

    def __init__(self, total):
        self.total, self.done, self.start = total, 0, time.monotonic()

    def step(self, label):
        self.done += 1
        if time.monotonic() - self.start > 3 and sys.stderr.isatty():
            print(f"\r[{self.done}/{self.total}] {label:<50}", end="", file=sys.stderr, flush=True)

    def finish(self):
        if sys.stderr.isatty():
            print("\r" + " " * 70 + "\r", end="", file=sys.stderr, flush=True)


def best_time(action, repeats):
    """The best of several runs, in seconds; the collector is kept out of the timing.

    `action` returns what it made; it is dropped after the clock stops, so that
    freeing a large result is not counted as the work that produced it.
    """
    best = float("inf")
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            start = time.perf_counter()
            made = action()
            best = min(best, time.perf_counter() - start)
            del made
    finally:
        if enabled:
            gc.enable()
    return best


def cache_of(stemmer):
    cache, counter = gc.get_referents(stemmer)[-2:]
    return cache, counter


class MissCounter(Davuzod.Davuzod):
    """Counts misses: the trimming method runs once after each."""

    misses = 0

    def _Stemmer__purgeCache(self):
        self.misses += 1
        return super()._Stemmer__purgeCache()


def cache_statistics(algorithm, size, words):
    counting = MissCounter(algorithm, size)
    counting.stemWords(words)
    cache, _ = cache_of(counting)
    hit_rate = 1 - counting.misses / len(words) if size > 0 else 0.0
    return hit_rate, len(cache)


def find_floor_program(explicit):
    candidates = [explicit] if explicit else []
    here = Path(__file__).resolve().parent
    candidates += [here / "build" / "release" / "stem_floor", shutil.which("stem_floor")]
    for candidate in candidates:
        if candidate and Path(candidate).is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    return None


def libstemmer_floor(program, algorithm, words, repeats):
    """ns per word of libstemmer alone, on the same words."""
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".words", delete=False) as handle:
        handle.write("\n".join(words))
        handle.write("\n")
        path = handle.name
    try:
        output = subprocess.run(
            [program, algorithm, path, str(repeats)], capture_output=True, text=True, check=True
        ).stdout
    finally:
        os.unlink(path)
    return float(output.split()[0])


def interleaved_best_times(actions, repeats):
    """The best time of each action in seconds, the actions taking turns so that
    a slow spell of a shared machine falls on all of them alike."""
    best = dict.fromkeys(actions, float("inf"))
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            for name, action in actions.items():
                start = time.perf_counter()
                made = action()
                best[name] = min(best[name], time.perf_counter() - start)
                del made
    finally:
        if enabled:
            gc.enable()
    return best


def find_capi_floor():
    try:
        import capi_floor
    except ImportError:
        return None
    return capi_floor


STAGES = {"key": 1, "lookup": 2, "hit": 3}


def hit_path(capi_floor, algorithm, words, repeats):
    """ns per word on text whose every word is cached: dict.get mapped over the
    words, the stages of the hit's floor, and stemWords."""
    distinct = list(dict.fromkeys(words))
    stemmer = Davuzod.Davuzod(algorithm, len(distinct) + 1)
    stems = dict(zip(distinct, stemmer.stemWords(distinct)))
    cache, counter = cache_of(stemmer)
    floor_cache = {key: list(entry) for key, entry in cache.items()}
    expected = stemmer.stemWords(words)
    if capi_floor.hit(words, floor_cache, counter)[0] != expected or list(map(stems.get, words)) != expected:
        raise SystemExit("hit floor: the floors do not give stemWords's stems")
    actions = {"dict_get_map": lambda: list(map(stems.get, words))}
    for name, stage in STAGES.items():
        actions[name] = lambda stage=stage: capi_floor.hit(words, floor_cache, counter, stage)
    actions["stemWords"] = lambda: stemmer.stemWords(words)
    return {name: seconds / len(words) * 1e9 for name, seconds in interleaved_best_times(actions, repeats).items()}


def uncached_path(capi_floor, algorithm, words, repeats):
    """ns per word with the cache off: libstemmer with each stem made into a str, and stemWords."""
    stemmer = Davuzod.Davuzod(algorithm, 0)
    if capi_floor.uncached(algorithm, words) != stemmer.stemWords(words):
        raise SystemExit("uncached floor: it does not give stemWords's stems")
    actions = {"floor": lambda: capi_floor.uncached(algorithm, words), "stemWords": lambda: stemmer.stemWords(words)}
    return {name: seconds / len(words) * 1e9 for name, seconds in interleaved_best_times(actions, repeats).items()}


def dict_get_floor(algorithm, words, repeats):
    """ns per word of the Python loop with dict.get on prebuilt stems: the per-call floor."""
    stemmer = Davuzod.Davuzod(algorithm, 0)
    stems = {w: stemmer.stemWord(w) for w in set(words)}

    def loop():
        get = stems.get
        for w in words:
            get(w)

    return best_time(loop, repeats) / len(words) * 1e9


def measure(algorithm, size, words, repeats):
    def stem_words():
        return Davuzod.Davuzod(algorithm, size).stemWords(words)

    def stem_word_loop():
        stem = Davuzod.Davuzod(algorithm, size).stemWord
        for w in words:
            stem(w)

    n = len(words)
    return {
        "stemWords_ns": best_time(stem_words, repeats) / n * 1e9,
        "stemWord_ns": best_time(stem_word_loop, repeats) / n * 1e9,
    }


def distinct_stream(algorithm, bounds, count, repeats):
    """ns per word for a stream of distinct words, where every call misses and trims."""
    stream = [f"w{i}x" for i in range(count)]
    result = {}
    for bound in bounds:
        result[bound] = best_time(lambda: Davuzod.Davuzod(algorithm, bound).stemWords(stream), repeats) / count * 1e9
    return result


def cache_memory(algorithm, words):
    """Bytes per cache entry, as tracemalloc sees the cache grow."""
    distinct = list(dict.fromkeys(words))[:50000]
    stemmer = Davuzod.Davuzod(algorithm, len(distinct) + 1)
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    stemmer.stemWords(distinct)
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    return (after - before) / len(distinct)


def soak(algorithm, words, total):
    """RSS after the first million words and after `total`, through one object."""
    stemmer = Davuzod.Davuzod(algorithm)
    done, marks = 0, {}
    while done < total:
        stemmer.stemWords(words)
        done += len(words)
        if "first_million_kib" not in marks and done >= 1_000_000:
            marks["first_million_kib"] = current_rss_kib()
    marks["end_kib"] = current_rss_kib()
    marks["words"] = done
    return marks


def interrupted_early(algorithm, count, repeats):
    """Seconds from a signal handler that raises (Ctrl-C's outcome) to stemWords's
    return, for `count` words as a list, a tuple and an iterator, the handler
    running a twentieth of a second into the call: what releasing the partial
    result costs when an error ends a long call early."""
    import signal

    words = ["word"] * count
    stemmer = Davuzod.Davuzod(algorithm)
    handled = []

    def on_timer(signum, frame):
        handled.append(time.perf_counter())
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGPROF, on_timer)
    sources = {"list": lambda: words, "tuple": lambda: tuple(words), "iterator": lambda: iter(words)}
    best = {}
    try:
        for kind, make in sources.items():
            for _ in range(repeats):
                source = make()
                handled.clear()
                signal.setitimer(signal.ITIMER_PROF, 0.05)  # of this process's time
                try:
                    stemmer.stemWords(source)
                except KeyboardInterrupt:
                    returned = time.perf_counter()
                    best[kind] = min(best.get(kind, float("inf")), returned - handled[0])
                finally:
                    signal.setitimer(signal.ITIMER_PROF, 0)
                del source
    finally:
        signal.signal(signal.SIGPROF, previous)
    return best


def current_rss_kib():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") // 1024


# ---- lexvale: the analyzer and the command-line tool


def wall_time(command, repeats, env=None):
    """Best wall-clock seconds of a command, its interpreter's start-up included."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=env)
        best = min(best, time.perf_counter() - start)
    return best


def lexvale_figures(repeats):
    import lexvale

    text, source = default_english_text()
    figures = {"source": source, "load_before": os.getloadavg()[0]}
    stemmer = Davuzod.Davuzod("english")
    letters_only = re.compile(r"[^\W\d_]+(?:'[^\W\d_]+)*")
    default = re.compile(lexvale.DEFAULT_PATTERN)
    analyzer = lexvale.Analyzer()
    analyzer(text)  # the language table and the thread's stemmer, made once
    figures["words"] = len(analyzer(text))
    figures["analyzer_s"] = best_time(lambda: analyzer(text), repeats)
    # The settings that add work per word, each beside the default.
    for name, settings in (("snowball", {"stopwords": "snowball"}), ("fold", {"fold_accents": True}),
                           ("bigrams", {"ngram_range": (1, 2)})):
        other = lexvale.Analyzer(**settings)
        other(text)
        figures[f"analyzer_{name}_s"] = best_time(lambda: other(text), repeats)
    figures["by_hand_s"] = best_time(lambda: stemmer.stemWords(default.findall(text.lower())), repeats)
    figures["by_hand_letters_s"] = best_time(lambda: stemmer.stemWords(letters_only.findall(text.lower())), repeats)
    try:
        from nltk.stem.snowball import SnowballStemmer
    except ImportError:
        figures["nltk_s"] = None
    else:
        nltk_stem = SnowballStemmer("english").stem
        figures["nltk_s"] = best_time(lambda: [nltk_stem(w) for w in default.findall(text.lower())], 1)

    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    figures["lookup_ms"] = language_lookup_ms(max(5, repeats), env)
    with tempfile.TemporaryDirectory() as scratch:
        words_file = Path(scratch) / "words"
        words = words_of_text(text)[:400_000]
        words_file.write_text("\n".join(words) + "\n", encoding="utf-8")
        figures["list_words"] = len(words)
        out = str(Path(scratch) / "out")
        if shutil.which("stemwords"):
            figures["stemwords_s"] = wall_time(["stemwords", "-l", "english", "-i", str(words_file), "-o", out],
                                               repeats)
        else:
            figures["stemwords_s"] = None
        figures["cli_list_s"] = wall_time([sys.executable, "-m", "lexvale", "-i", str(words_file), "-o", out],
                                          repeats, env)
        figures.update(large_word_list_figures(Path(scratch), out, max(1, repeats // 2), env))
        big_text = Path(scratch) / "text"
        # Large enough that the workers' start-up is a small part of a run.
        big_text.write_text(text * 8, encoding="utf-8")
        figures["text_mib"] = big_text.stat().st_size / 2**20
        for jobs in (1, 2):
            figures[f"cli_text_j{jobs}_s"] = wall_time(
                [sys.executable, "-m", "lexvale", "--text", "-j", str(jobs), "-i", str(big_text), "-o", out],
                max(1, repeats // 2), env)
    figures["huge_line_mib"] = 200
    figures["huge_line_peak_mib"] = huge_line_peak_mib(figures["huge_line_mib"])
    figures["load_after"] = os.getloadavg()[0]
    return figures


def vectorizer_figures(repeats):
    """Text to a feature matrix over the fortunes, one entry a document: ns per word, interleaved, best of `repeats`."""
    try:
        from sklearn.feature_extraction import text as sk
    except ImportError:
        return None
    import lexvale

    text, source = default_english_text()
    docs = [entry for entry in text.split("\n%\n") if entry.strip()]
    analyzer = lexvale.Analyzer()
    words = sum(len(analyzer(doc)) for doc in docs)
    jobs = {
        "analyzer, no counting": lambda: [analyzer(doc) for doc in docs],
        "lexvale HashingVectorizer": lambda: lexvale.HashingVectorizer().transform(docs),
        "lexvale CountVectorizer": lambda: lexvale.CountVectorizer().fit_transform(docs),
        "lexvale TfidfVectorizer": lambda: lexvale.TfidfVectorizer().fit_transform(docs),
        "scikit-learn HashingVectorizer(analyzer=Analyzer())": lambda: sk.HashingVectorizer(
            analyzer=lexvale.Analyzer()).transform(docs),
        "scikit-learn CountVectorizer(analyzer=Analyzer())": lambda: sk.CountVectorizer(
            analyzer=lexvale.Analyzer()).fit_transform(docs),
        "scikit-learn TfidfVectorizer(analyzer=Analyzer())": lambda: sk.TfidfVectorizer(
            analyzer=lexvale.Analyzer()).fit_transform(docs),
        "scikit-learn CountVectorizer() (no stemming)": lambda: sk.CountVectorizer().fit_transform(docs),
    }
    best = interleaved_best_times(jobs, repeats)
    return {"source": source, "docs": len(docs), "words": words,
            "ns_per_word": {name: seconds / words * 1e9 for name, seconds in best.items()}}


def arrow_figures(repeats):
    """Arrow columns of fortunes (each fortune a row, the corpus 8 times) to columns of stems: ns per word."""
    try:
        import pyarrow as pa
    except ImportError:
        return None
    import lexvale

    text, source = default_english_text()
    rows = [entry for entry in text.split("\n%\n") if entry.strip()] * 8
    column = pa.array(rows)
    analyzer = lexvale.Analyzer()
    words = sum(len(analyzer(row)) for row in rows)
    jobs = {
        "analyzer.arrow(column), then pa.array": lambda: pa.array(analyzer.arrow(column)),
        "column.to_pylist(), the analyzer, pa.array": lambda: pa.array([analyzer(row) for row in column.to_pylist()]),
    }
    try:
        import pandas as pd
    except ImportError:
        pass
    else:
        series = pd.Series(column, dtype=pd.ArrowDtype(pa.string()))
        jobs["pandas: analyzer.arrow(series)"] = lambda: analyzer.arrow(series)
        jobs["pandas: series.map(analyzer)"] = lambda: series.map(analyzer)
    best = interleaved_best_times(jobs, repeats)
    return {"source": source, "rows": len(rows), "words": words, "mb": sum(map(len, rows)) / 1e6,
            "ns_per_word": {name: seconds / words * 1e9 for name, seconds in best.items()}}


def print_arrow(f):
    print(f"\nArrow columns of {f['source']}, 8 times: {f['rows']:,} rows, {f['words']:,} words; ns per word")
    for name, ns in f["ns_per_word"].items():
        print(f"  {name:55s} {ns:7.1f}")


def scale_out_figures(paths, repeats):
    """examples/dask_corpus.py over `paths`: in this process, then on local clusters of 1 and 2 workers."""
    sys.path.insert(0, str(Path(__file__).with_name("examples")))
    import dask_corpus
    from distributed import Client, LocalCluster

    megabytes = sum(os.path.getsize(path) for path in paths) / 1e6
    figures = {"mb": megabytes, "ranges": len(dask_corpus.byte_ranges(paths)), "seconds": {}}
    figures["seconds"]["one process"] = best_time(lambda: dask_corpus.count_here(paths), repeats)
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            client.wait_for_workers(workers)
            dask_corpus.count_on(client, paths[:1], size=1 << 20)  # the workers import lexvale once
            figures["seconds"][f"{workers} worker{'s' if workers > 1 else ''}"] = best_time(
                lambda: dask_corpus.count_on(client, paths), repeats)
    return figures


def print_scale_out(f):
    print(f"\nexamples/dask_corpus.py over {f['mb']:,.0f} MB ({f['ranges']} ranges of 64 MB)")
    one = f["seconds"]["one process"]
    for name, seconds in f["seconds"].items():
        print(f"  {name:12s} {seconds:7.1f} s {f['mb'] / seconds:7.1f} MB/s  {one / seconds:5.2f}x one process")


def plot_scale_out(path, f):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = list(f["seconds"])
    rates = [f["mb"] / f["seconds"][name] for name in names]
    figure, axes = plt.subplots(figsize=(6, 3.2))
    bars = axes.bar(names, rates, color=["#888888", "#4c72b0", "#dd8452"])
    axes.bar_label(bars, labels=[f"{rate:.1f} MB/s" for rate in rates])
    axes.set_ylim(0, max(rates) * 1.2)
    axes.set_ylabel("MB of text per second")
    axes.set_title(f"Hashed stem counts of {f['mb']:,.0f} MB of text, Dask LocalCluster")
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def print_vectorizers(f):
    print(f"\nfeatures of {f['source']}: {f['docs']:,} documents, {f['words']:,} words; ns per word, best run")
    for name, ns in f["ns_per_word"].items():
        print(f"  {name:55s} {ns:7.1f}")


# The same English queries against each tokenizer: words whose porter stem
# runs together words of other meanings, and inflected forms.
SEARCH_QUERIES = ("news", "generously", "university", "organization", "happiness", "running", "computers",
                  "wanted", '"the meaning of life"', "comput*")
SEARCH_TOKENIZERS = ("unicode61", "porter unicode61", "lexvale english", "lexvale english stopwords snowball")


def search_figures(repeats):
    """FTS5 over the fortunes, one entry a row: index time per MB and hits, by tokenizer."""
    import sqlite3

    import lexvale.sqlite

    text, source = default_english_text()
    rows = [(entry,) for entry in text.split("\n%\n") if entry.strip()]
    megabytes = sum(len(row.encode()) for (row,) in rows) / 1e6
    figures = {"source": source, "rows": len(rows), "mb": megabytes, "tokenizers": {}}
    for tokenizer in SEARCH_TOKENIZERS:
        def build():
            db = lexvale.sqlite.connect(":memory:")
            db.execute(f"CREATE VIRTUAL TABLE docs USING fts5(body, tokenize='{tokenizer}')")
            db.executemany("INSERT INTO docs VALUES (?)", rows)
            db.commit()
            return db

        seconds = best_time(build, repeats)
        db = build()
        hits = {query: db.execute("SELECT count(*) FROM docs WHERE docs MATCH ?", (query,)).fetchone()[0]
                for query in SEARCH_QUERIES}
        db.close()
        figures["tokenizers"][tokenizer] = {"s_per_mb": seconds / megabytes, "hits": hits}
    return figures


def print_search(f):
    print(f"\nFTS5 over {f['source']}: {f['rows']:,} rows, {f['mb']:.1f} MB; index time and hits by tokenizer")
    names = list(f["tokenizers"])
    print("  " + " | ".join(["query", *names]))
    print("  index s/MB | " + " | ".join(f"{f['tokenizers'][n]['s_per_mb']:.3f}" for n in names))
    for query in SEARCH_QUERIES:
        print(f"  {query} | " + " | ".join(str(f["tokenizers"][n]["hits"][query]) for n in names))


# In a fresh interpreter, after `import lexvale`: the first lookups of a
# name, a locale tag and a misspelling, each with what it imports.
LANGUAGE_LOOKUP_CHILD = """
import json, time
import lexvale
def timed(name):
    start = time.perf_counter()
    try:
        lexvale.resolve(name)
    except ValueError:
        pass
    return time.perf_counter() - start
print(json.dumps([timed("en"), timed("pt_BR.UTF-8"), timed("englsh")]))
"""


def language_lookup_ms(repeats, env):
    """Best of `repeats` fresh interpreters: ms for the first lookup, a locale tag after it, and a typo's message."""
    runs = [json.loads(subprocess.run([sys.executable, "-c", LANGUAGE_LOOKUP_CHILD], check=True, capture_output=True,
                                      text=True, env=env).stdout) for _ in range(repeats)]
    return [min(run[i] for run in runs) * 1e3 for i in range(3)]


LARGE_LIST_WORDS = 4_000_000


def large_word_list_figures(scratch, out, repeats, env):
    """Seconds for a Debian word list repeated to LARGE_LIST_WORDS words: stemwords, lexvale -j 1 and -j 2."""
    dictionary = Path("/usr/share/dict/american-english")
    if not dictionary.exists() or not shutil.which("stemwords"):
        return {}
    lines = dictionary.read_bytes().split(b"\n")[:-1]
    lines = (lines * -(-LARGE_LIST_WORDS // len(lines)))[:LARGE_LIST_WORDS]
    words_file = scratch / "large-list"
    words_file.write_bytes(b"\n".join(lines) + b"\n")
    halves = [scratch / "large-list-1", scratch / "large-list-2"]
    halves[0].write_bytes(b"\n".join(lines[: len(lines) // 2]) + b"\n")
    halves[1].write_bytes(b"\n".join(lines[len(lines) // 2 :]) + b"\n")
    del lines
    commands = {"stemwords": ["stemwords", "-l", "english", "-i", str(words_file), "-o", out]}
    for jobs in (1, 2):
        commands[f"j{jobs}"] = [sys.executable, "-m", "lexvale", "-j", str(jobs), "-i", str(words_file), "-o", out]

    def two_stemwords():
        # The floor of two jobs on this machine: two stemwords at once, each on
        # its half of the list, with nothing to share out or gather.
        start = time.perf_counter()
        runs = [subprocess.Popen(["stemwords", "-l", "english", "-i", str(half), "-o", f"{out}.{n}"])
                for n, half in enumerate(halves)]
        for run in runs:
            run.wait()
        return time.perf_counter() - start

    best = {name: float("inf") for name in [*commands, "halves"]}
    for _ in range(repeats):  # alternated, so that a busy moment of the machine is shared out
        for name, command in commands.items():
            best[name] = min(best[name], wall_time(command, 1, env))
        best["halves"] = min(best["halves"], two_stemwords())
    return {"large_list_words": LARGE_LIST_WORDS, "large_list_s": best}


def catalogue_text(code):
    """Running text in a language: the translated messages of the root's gettext catalogues."""
    import gettext

    texts = []
    for path in sorted(Path(f"/usr/share/locale/{code}/LC_MESSAGES").glob("*.mo")):
        try:
            with open(path, "rb") as file:
                catalogue = gettext.GNUTranslations(file)._catalog
        except (OSError, UnicodeDecodeError):
            continue
        texts += [message for key, message in catalogue.items() if key and isinstance(message, str)]
    return "\n".join(texts)


def find_analysis_floor():
    try:
        import analysis_floor
    except ImportError:
        return None
    return analysis_floor


ANALYSIS_MEMORY_CHILD = """
import sys
import lexvale

def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1])

text = open(sys.argv[1], encoding="utf-8").read()
analyzer = lexvale.Analyzer()
analyzer("warm up")
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as refs:
    refs.write("5")  # the peak starts again from here
stems = analyzer(text)
print(status("VmHWM") - before, sys.getsizeof(stems) // 1024, len(stems))
"""


def analysis_figures(repeats):
    """ns per word of the analyzer's native pass and its contenders, interleaved; other languages; peak memory."""
    import lexvale
    from lexvale import _native as native

    text, source = default_english_text()
    entries = [entry for entry in text.split("\n%\n") if entry.strip()]
    fast = lexvale.Analyzer("english")
    with native.disabled():
        slow = lexvale.Analyzer("english")
    words = len(fast(text))
    figures = {"source": source, "words": words, "native": fast._state.native is not None,
               "load_before": os.getloadavg()[0]}
    actions = {
        "native": lambda: fast(text),
        "native_per_text": lambda: [fast(entry) for entry in entries],
        "python": lambda: slow(text),
        "split": lambda: text.split(),
    }
    try:
        from sklearn.feature_extraction.text import CountVectorizer
    except ImportError:
        pass
    else:
        sklearn = CountVectorizer().build_analyzer()
        actions["sklearn"] = lambda: sklearn(text)
        actions["sklearn_per_text"] = lambda: [sklearn(entry) for entry in entries]
    try:
        from nltk.stem.snowball import SnowballStemmer
    except ImportError:
        pass
    else:
        nltk_stem = SnowballStemmer("english").stem
        words_pattern = re.compile(r"\w+")
        actions["nltk"] = lambda: [nltk_stem(w) for w in words_pattern.findall(text.lower())]
    floor_module = find_analysis_floor()
    if floor_module is not None:
        floor_module.load(list({fast.prepare(token.word) for token in fast.tokens(text)}))
        actions["floor"] = lambda: floor_module.floor(text)
    loud = {"stopwords": "snowball", "protected": ["news", "unix", "computer"], "overrides": {"geese": "goose"}}
    settled = lexvale.Analyzer("english", **loud)
    actions["settings"] = lambda: settled(text)
    times = interleaved_best_times({name: action for name, action in actions.items() if name != "nltk"}, repeats)
    if "nltk" in actions:
        times["nltk"] = best_time(actions["nltk"], 1)
    figures["ns"] = {name: seconds / words * 1e9 for name, seconds in times.items()}
    languages = {}
    for code, algorithm in (("fr", "french"), ("de", "german"), ("ru", "russian")):
        other_text = catalogue_text(code)
        if not other_text:
            continue
        other = lexvale.Analyzer(algorithm)
        count = len(other(other_text))
        languages[algorithm] = {"words": count, "ns": best_time(lambda: other(other_text), repeats) / count * 1e9,
                                "native": other._state.native is not None}
    figures["languages"] = languages
    with tempfile.TemporaryDirectory() as scratch:
        big = Path(scratch) / "text"
        big.write_text(text * max(1, 20 * 2**20 // len(text.encode())), encoding="utf-8")
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
        run = subprocess.run([sys.executable, "-c", ANALYSIS_MEMORY_CHILD, str(big)], capture_output=True, text=True,
                             env=env, check=True)
        grown, list_kib, count = map(int, run.stdout.split())
        figures["memory"] = {"mib": big.stat().st_size / 2**20, "grown_kib": grown, "list_kib": list_kib,
                             "words": count}
    figures["nltk_rows"] = nltk_comparison()
    figures["load_after"] = os.getloadavg()[0]
    return figures


def nltk_comparison():
    """The README's comparison with NLTK, each row as both libraries stem it now."""
    import lexvale

    try:
        from nltk.stem.snowball import SnowballStemmer
    except ImportError:
        return None
    readme = (Path(__file__).resolve().parent / "README.md").read_text(encoding="utf-8")
    section = readme.partition("## Coming from NLTK")[2].partition("\n## ")[0]
    rows = re.findall(r"^\| (\w+) \| (\w+) \| (\w+) \| (\w+) \|$", section, re.MULTILINE)
    return [(language, word, lexvale.Analyzer(language)(word)[0], SnowballStemmer(language).stem(word))
            for language, word, _, _ in rows if language != "Language"]


def print_analysis(f):
    ns = f["ns"]
    print(f"\nthe analyzer's native pass on {f['source']} ({f['words']:,} words), ns per word, interleaved;"
          f" load {f['load_before']:.2f} before, {f['load_after']:.2f} after")
    if not f["native"]:
        print("  (the native pass is not built: both rows are the pure-Python path)")
    rows = [("Analyzer('english'), one big string", "native"), ("Analyzer('english'), per fortune", "native_per_text"),
            ("  the same on the pure-Python path", "python"),
            ("  stop list, protected words, overrides", "settings"),
            ("CountVectorizer().build_analyzer() (no stemming)", "sklearn"),
            ("  per fortune", "sklearn_per_text"), ("str.split()", "split"),
            ("NLTK: stem each of findall(r'\\w+', text.lower())", "nltk"),
            ("floor: scan, lower-case, look up; no objects", "floor")]
    for label, name in rows:
        if name in ns:
            print(f"  {label:<52} {ns[name]:8.1f}")
    print(f"  targets: big string {ns['native']:.0f} (at most 80), per fortune {ns['native_per_text']:.0f} (at most 100)")
    if "nltk" in ns:
        print(f"           NLTK / Analyzer {ns['nltk'] / ns['native']:.1f}x (at least 25x)")
    if "sklearn" in ns:
        print(f"           CountVectorizer / Analyzer {ns['sklearn'] / ns['native']:.2f}x (at least 1.5x)")
    if "floor" in ns:
        print(f"           Analyzer / floor {ns['native'] / ns['floor']:.2f}x (at most 2x)")
    print(f"           with settings / default {ns['settings'] / ns['native']:.2f}x (at most 1.1x)")
    for algorithm, figure in f["languages"].items():
        print(f"  {algorithm} (translated messages, {figure['words']:,} words): {figure['ns']:.1f} ns/word,"
              f" {figure['ns'] / ns['native']:.2f}x English (at most 2x)")
    if f.get("nltk_rows"):
        print("  the README's comparison with NLTK (language, word, lexvale, NLTK):")
        for row in f["nltk_rows"]:
            print("    | " + " | ".join(row) + " |")
    m = f["memory"]
    print(f"  peak memory over {m['mib']:.1f} MiB of text: {m['grown_kib'] / 1024:.1f} MiB above the start, the result"
          f" list {m['list_kib'] / 1024:.1f} MiB: {m['grown_kib'] / max(m['list_kib'], 1):.2f}x (at most 1.3x)")


def huge_line_peak_mib(line_mib=200):
    """Peak resident memory of the command on a single line of `line_mib` MiB, per mode.

    Each command runs under a fresh measuring process, whose RUSAGE_CHILDREN
    is then the command's own peak (its workers' included) and no earlier child's.
    """
    measure = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL);"
               " print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    peaks = {}
    with tempfile.TemporaryDirectory() as scratch:
        for mode, unit in (("word list", b"abcdefghij"), ("--text", b"Running ")):
            line = Path(scratch) / "line"
            with open(line, "wb") as handle:
                block = unit * ((1 << 20) // len(unit))
                for _ in range(line_mib):
                    handle.write(block)
                handle.write(b"\n")
            runs = {"lexvale -j 1": [sys.executable, "-m", "lexvale", "-i", str(line)],
                    "lexvale -j 2": [sys.executable, "-m", "lexvale", "-j", "2", "-i", str(line)]}
            if mode == "--text":
                runs = {name: [*command, "--text"] for name, command in runs.items()}
            elif shutil.which("stemwords"):
                runs["stemwords"] = ["stemwords", "-l", "english", "-i", str(line)]
            for name, command in runs.items():
                result = subprocess.run([sys.executable, "-c", measure, *command], check=True, capture_output=True,
                                        text=True, env=env)
                peaks[f"{mode}, {name}"] = int(result.stdout) / 1024
    return peaks


def print_lexvale(f):
    print(f"\nlexvale on {f['source']} ({f['words']:,} words); load average {f['load_before']:.2f} before,"
          f" {f['load_after']:.2f} after, on {os.cpu_count()} cores")
    print(f"  Analyzer(), default options          {f['analyzer_s'] * 1e3:8.1f} ms")
    for name, label in (("snowball", 'stopwords="snowball"'), ("fold", "fold_accents=True"),
                        ("bigrams", "ngram_range=(1, 2)")):
        seconds = f[f"analyzer_{name}_s"]
        print(f"  Analyzer({label + ')':<26} {seconds * 1e3:8.1f} ms   {seconds / f['analyzer_s']:.2f}x the default")
    print(f"  stemWords(findall(same pattern))     {f['by_hand_s'] * 1e3:8.1f} ms   Analyzer is"
          f" {f['analyzer_s'] / f['by_hand_s']:.2f}x (target at most 1.3x)")
    print(f"  stemWords(findall(letters only))     {f['by_hand_letters_s'] * 1e3:8.1f} ms   Analyzer is"
          f" {f['analyzer_s'] / f['by_hand_letters_s']:.2f}x")
    if f["nltk_s"] is not None:
        print(f"  NLTK SnowballStemmer, same pattern   {f['nltk_s'] * 1e3:8.1f} ms   Analyzer is"
              f" {f['nltk_s'] / f['analyzer_s']:.1f}x faster (target at least 6x)")
    first, tag, typo = f["lookup_ms"]
    print(f"  languages, first use in a fresh interpreter: resolve('en') {first:.2f} ms (target under 1 ms),"
          f" then 'pt_BR.UTF-8' {tag:.3f} ms; a typo's message {typo:.2f} ms (target under 5 ms)")
    print(f"  word-list mode, {f['list_words']:,} words, start-up included:")
    print(f"    lexvale -l english                 {f['cli_list_s'] * 1e3:8.1f} ms", end="")
    if f["stemwords_s"]:
        print(f"   stemwords {f['stemwords_s'] * 1e3:.1f} ms: {f['cli_list_s'] / f['stemwords_s']:.2f}x"
              " (target at most 1.8x)")
    else:
        print("   (stemwords not installed)")
    if f.get("large_list_s"):
        t = f["large_list_s"]
        print(f"  word-list mode, {f['large_list_words']:,} words (a Debian word list repeated), start-up included:")
        print(f"    stemwords {t['stemwords']:.2f} s; lexvale -j 1 {t['j1']:.2f} s ({t['j1'] / t['stemwords']:.2f}x,"
              f" target at most 1.05x); -j 2 {t['j2']:.2f} s ({t['j2'] / t['stemwords']:.2f}x, target at most 0.7x)")
        print(f"    floor of two jobs here: two stemwords at once on the halves {t['halves']:.2f} s"
              f" ({t['halves'] / t['stemwords']:.2f}x)")
    print(f"  --text on {f['text_mib']:.1f} MiB: -j 1 {f['cli_text_j1_s']:.2f} s, -j 2 {f['cli_text_j2_s']:.2f} s"
          f" ({f['cli_text_j1_s'] / f['cli_text_j2_s']:.2f}x)")
    if f.get("huge_line_peak_mib"):
        print(f"  peak memory on a single line of {f['huge_line_mib']} MiB (target at most about 3x the line):")
        for name, mib in f["huge_line_peak_mib"].items():
            print(f"    {name:<28} {mib:8.0f} MiB ({mib / f['huge_line_mib']:.1f}x)")


# ---- report


def print_table(algorithm, source, rows, floor_ns, dict_ns):
    print(f"\n{algorithm}: {rows[0]['words']:,} words from {source}")
    if floor_ns:
        print(f"  floor: libstemmer alone {floor_ns:8.1f} ns/word; dict.get loop {dict_ns:6.1f} ns/word")
    else:
        print(f"  floor: libstemmer alone not measured (build stem_floor); dict.get loop {dict_ns:6.1f} ns/word")
    header = (
        f"  {'cache':>7} {'hit rate':>8} {'entries':>8} | {'stemWords ns':>12} {'words/s':>11} {'x floor':>7}"
        f" | {'stemWord ns':>11} {'words/s':>11} {'x floor':>7} {'x dict.get':>10}"
    )
    print(header)
    print("  " + "-" * (len(header) - 2))
    for row in rows:
        sw, lw = row["stemWords_ns"], row["stemWord_ns"]
        ratio = (lambda ns: f"{ns / floor_ns:7.2f}") if floor_ns else (lambda ns: f"{'-':>7}")
        print(
            f"  {row['cache_size']:>7} {row['hit_rate']:>8.1%} {row['entries']:>8} |"
            f" {sw:>12.1f} {1e9 / sw:>11,.0f} {ratio(sw)} |"
            f" {lw:>11.1f} {1e9 / lw:>11,.0f} {ratio(lw)} {lw / dict_ns:>10.2f}"
        )


def plot(path, results, analysis=None):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = 2 if analysis else 1
    figure, all_axes = plt.subplots(1, panels, figsize=(8 * panels, 5), squeeze=False)
    axes = all_axes[0][0]
    for entry in results:
        rows = entry["rows"]
        sizes = [max(r["cache_size"], 1) for r in rows]
        for key, label in (("stemWords_ns", "stemWords"), ("stemWord_ns", "stemWord loop")):
            axes.plot(sizes, [1e9 / r[key] / 1e6 for r in rows], marker="o", label=f"{entry['algorithm']} {label}")
        if entry["floor_ns"]:
            axes.axhline(1e9 / entry["floor_ns"] / 1e6, linestyle="--", color="grey",
                         label=f"{entry['algorithm']} libstemmer alone")
    axes.set_xscale("log")
    axes.set_xlabel("maxCacheSize (0 plotted at 1)")
    axes.set_ylabel("million words per second")
    axes.set_title("Davuzod throughput against cache size")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend()
    if analysis:
        bars = all_axes[0][1]
        labels = {"floor": "native pass's floor", "native": "Analyzer (native pass)",
                  "native_per_text": "Analyzer, per fortune", "settings": "Analyzer, stop list etc.",
                  "python": "Analyzer, pure-Python path", "sklearn": "CountVectorizer (no stemming)",
                  "split": "str.split()", "nltk": "NLTK pipeline"}
        shown = [(label, analysis["ns"][name]) for name, label in labels.items() if name in analysis["ns"]]
        bars.barh([label for label, _ in shown], [ns for _, ns in shown], color="tab:blue")
        bars.set_xscale("log")
        bars.set_xlabel("ns per word (log scale)")
        bars.set_title(f"Running text to stems: {analysis['source']}")
        bars.invert_yaxis()
        for position, (_, ns) in enumerate(shown):
            bars.text(ns, position, f" {ns:.0f}", va="center")
        bars.grid(True, axis="x", which="both", alpha=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--text", help="running text to lower-case and split into words")
    source.add_argument("--words", help="a word list, one word per line")
    parser.add_argument("--algorithm", action="append", help="algorithm to measure (repeatable; default english)")
    parser.add_argument("--cache-sizes", default=",".join(map(str, DEFAULT_CACHE_SIZES)),
                        help="comma-separated cache sizes (default %(default)s)")
    parser.add_argument("--repeat", type=int, default=5, help="runs per measurement; the best is kept")
    parser.add_argument("--limit", type=int, default=0, help="use only the first N words")
    parser.add_argument("--floor", help="path of the stem_floor program")
    parser.add_argument("--no-extras", action="store_true", help="skip the distinct-stream, memory and interruption figures")
    parser.add_argument("--no-lexvale", action="store_true", help="skip the lexvale analyzer and tool figures")
    parser.add_argument("--scale-out", nargs="+", metavar="FILE",
                        help="measure only examples/dask_corpus.py over FILEs (1 GB or more): one process, then 1 and "
                        "2 workers")
    parser.add_argument("--scale-out-plot", metavar="FILE.png", help="with --scale-out: draw the throughputs")
    parser.add_argument("--search-only", action="store_true",
                        help="measure only FTS5 indexing and hits by tokenizer over the fortunes")
    parser.add_argument("--soak", type=int, default=0, metavar="N", help="also stream N words through one object")
    parser.add_argument("--plot", metavar="FILE.png", help="draw throughput against cache size")
    parser.add_argument("--json", metavar="FILE", help="write the raw figures")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    if args.scale_out:
        figures = scale_out_figures(args.scale_out, args.repeat)
        print_scale_out(figures)
        if args.scale_out_plot:
            plot_scale_out(args.scale_out_plot, figures)
        return
    if args.search_only:
        print_search(search_figures(args.repeat))
        return
    algorithms = args.algorithm or ["english"]
    sizes = [int(s) for s in args.cache_sizes.split(",") if s.strip()]
    floor_program = find_floor_program(args.floor)
    if floor_program is None:
        print("note: stem_floor not found; ratios to libstemmer are left out", file=sys.stderr)
    capi_floor = find_capi_floor()
    if capi_floor is None:
        print("note: the capi_floor module not found; the floors on the C API are left out", file=sys.stderr)

    print(f"Davuzod {Davuzod.version()} on Python {sys.version.split()[0]}; best of {args.repeat} runs")
    results = []
    progress = Progress(len(algorithms) * (len(sizes) + 3) + 1)
    for algorithm in algorithms:
        words, source = load_words(args, algorithm)
        if args.limit:
            words = words[: args.limit]
        floor_ns = libstemmer_floor(floor_program, algorithm, words, args.repeat) if floor_program else None
        progress.step(f"{algorithm}: floors")
        dict_ns = dict_get_floor(algorithm, words, args.repeat)
        rows = []
        for size in sizes:
            progress.step(f"{algorithm}: cache {size}")
            row = {"cache_size": size, "words": len(words)}
            row.update(measure(algorithm, size, words, args.repeat))
            row["hit_rate"], row["entries"] = cache_statistics(algorithm, size, words)
            rows.append(row)
        if floor_program:
            # Measured again after the rows: on a shared machine the better of
            # the two is the closer to the library's own speed.
            floor_ns = min(floor_ns, libstemmer_floor(floor_program, algorithm, words, args.repeat))
            dict_ns = min(dict_ns, dict_get_floor(algorithm, words, args.repeat))
        entry = {"algorithm": algorithm, "source": source, "floor_ns": floor_ns, "dict_get_ns": dict_ns, "rows": rows}
        if capi_floor is not None:
            progress.step(f"{algorithm}: floors on the C API")
            entry["hit_path_ns"] = hit_path(capi_floor, algorithm, words, args.repeat)
            entry["uncached_path_ns"] = uncached_path(capi_floor, algorithm, words, args.repeat)
        if not args.no_extras:
            progress.step(f"{algorithm}: distinct stream and memory")
            entry["distinct_stream_ns"] = distinct_stream(algorithm, [100, 1000, 10000, 100000], 200000, args.repeat)
            entry["cache_bytes_per_entry"] = cache_memory(algorithm, words)
        if args.soak:
            entry["soak"] = soak(algorithm, words, args.soak)
        results.append(entry)
    interrupted = None
    if not args.no_extras:
        progress.step(f"{algorithms[0]}: interrupted early in a long call")
        interrupted = interrupted_early(algorithms[0], INTERRUPTED_WORDS, min(args.repeat, 3))
    progress.finish()

    for entry in results:
        print_table(entry["algorithm"], entry["source"], entry["rows"], entry["floor_ns"], entry["dict_get_ns"])
        if "hit_path_ns" in entry:
            h = entry["hit_path_ns"]
            print(f"  every word cached, ns/word: list(map(dict.get)) {h['dict_get_map']:.1f};"
                  f" hit floor: key {h['key']:.1f}, + lookup {h['lookup']:.1f}, + entry and counter {h['hit']:.1f}"
                  f" ({h['hit'] / h['dict_get_map']:.2f}x dict.get); stemWords {h['stemWords']:.1f}"
                  f" ({h['stemWords'] / h['hit']:.2f}x the hit floor)")
            u = entry["uncached_path_ns"]
            print(f"  cache off, ns/word: libstemmer with the stems made str {u['floor']:.1f};"
                  f" stemWords {u['stemWords']:.1f} ({u['stemWords'] / u['floor']:.2f}x)")
        if "distinct_stream_ns" in entry:
            stream = ", ".join(f"{b}: {ns:.0f}" for b, ns in entry["distinct_stream_ns"].items())
            print(f"  distinct words, every call a miss, ns/word by cache size: {stream}")
            print(f"  cache memory: {entry['cache_bytes_per_entry']:.0f} bytes per entry (tracemalloc)")
        if "soak" in entry:
            s = entry["soak"]
            print(f"  {s['words']:,} words through one object: RSS {s.get('first_million_kib', 0):,} KiB after"
                  f" the first million, {s['end_kib']:,} KiB at the end")
    if interrupted:
        shown = ", ".join(f"{kind} {seconds * 1e3:.1f} ms" for kind, seconds in interrupted.items())
        print(f"\ninterrupted early in {INTERRUPTED_WORDS:,} words ({algorithms[0]}), from the handler to the return: {shown}")
    lexvale = None if args.no_lexvale else lexvale_figures(args.repeat)
    analysis = None if args.no_lexvale else analysis_figures(args.repeat)
    if lexvale:
        print_lexvale(lexvale)
    if analysis:
        print_analysis(analysis)
    vectorizers = None if args.no_lexvale else vectorizer_figures(args.repeat)
    if vectorizers:
        print_vectorizers(vectorizers)
    arrow = None if args.no_lexvale else arrow_figures(args.repeat)
    if arrow:
        print_arrow(arrow)
    search = None if args.no_lexvale else search_figures(args.repeat)
    if search:
        print_search(search)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"\npeak RSS of this process: {peak:,} KiB")

    if args.json:
        Path(args.json).write_text(json.dumps(
            {"results": results, "interrupted_s": interrupted, "lexvale": lexvale, "analysis": analysis, "search": search, "vectorizers": vectorizers, "arrow": arrow,
             "peak_rss_kib": peak}, indent=2))
    if args.plot:
        plot(args.plot, results, analysis)
        print(f"plot written to {args.plot}")


if __name__ == "__main__":
    main()
