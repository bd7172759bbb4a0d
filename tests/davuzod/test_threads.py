"""Objects used from several threads: one object per thread, or one object shared, stem correctly; sharing never crashes."""

import random
import threading
from pathlib import Path

import pytest

import Davuzod
from conftest import cache_state, run_child

Stemmer = Davuzod.Davuzod
WORDS_PER_THREAD = 200_000
DICTIONARY = Path("/usr/share/dict/american-english")


def word_list():
    if DICTIONARY.exists():
        return DICTIONARY.read_text(encoding="utf-8").split()
    # Without a word list, regular inflections of made-up roots still give the stemmers work.
    roots = [a + b + c for a in "bcdfglmnprst" for b in ("a", "e", "o", "ou", "ai") for c in "dklmnrst"]
    return [root + ending for root in roots for ending in ("", "s", "ing", "ed", "ation", "ness")]


# One thread per line: its algorithm, its cache bound, whether it passes bytes, and where it starts in the list.
THREADS = [
    ("english", 10000, False, 0),
    ("english", 0, True, 0),
    ("porter", 100, False, 5000),
    ("french", 3, True, 11000),
    ("german", 1, False, 23000),
    ("russian", -1, False, 37000),
    ("spanish", 2147483647, True, 51000),
    ("dutch", 7, False, 70000),
]


def test_objects_of_their_own_in_eight_threads(fast_switching):
    vocabulary = word_list()
    references = {}
    for algorithm, *_ in THREADS:
        if algorithm not in references:
            references[algorithm] = dict(zip(vocabulary, Stemmer(algorithm, 0).stemWords(vocabulary)))

    def stream(as_bytes, start):
        words = [vocabulary[(start + i) % len(vocabulary)] for i in range(WORDS_PER_THREAD)]
        return [w.encode("utf-8") for w in words] if as_bytes else words

    jobs = [(Stemmer(algorithm, bound), stream(as_bytes, start)) for algorithm, bound, as_bytes, start in THREADS]
    results, failures = [None] * len(jobs), []
    barrier = threading.Barrier(len(jobs))

    def work(index):
        stemmer, words = jobs[index]
        stems = []
        try:
            barrier.wait()
            for begin in range(0, len(words), 1000):
                chunk = words[begin : begin + 1000]
                if begin // 1000 % 2:
                    stems.extend(stemmer.stemWords(chunk))
                else:
                    stems.extend(stemmer.stemWord(word) for word in chunk)
        except BaseException as error:
            failures.append((index, error))
        results[index] = stems

    threads = [threading.Thread(target=work, args=(index,)) for index in range(len(jobs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert failures == []
    for (algorithm, bound, as_bytes, start), (stemmer, words), stems in zip(THREADS, jobs, results):
        reference = references[algorithm]
        if as_bytes:
            expected = [reference[w.decode("utf-8")].encode("utf-8") for w in words]
        else:
            expected = [reference[w] for w in words]
        assert stems == expected, algorithm
        cache, counter = cache_state(stemmer)
        if bound > 0:  # every call on the cached path counted exactly once, and the cache stayed below its bound
            assert counter == WORDS_PER_THREAD and len(cache) < bound
        else:
            assert (cache, counter) == ({}, 0)


def test_one_object_shared_by_threads_gives_the_serial_stems(fast_switching):
    # With the exact class and str or bytes words, every stemWord runs whole
    # under the interpreter's lock, and stemWords is a run of such calls: the
    # threads take turns, and every stem and every cache update is whole.
    vocabulary = word_list()[::97] + ["cafés", "naïveté", "книгами"]
    bound = 64  # small, so that the threads' misses trim the cache again and again
    stemmer, reference = Stemmer("english", bound), Stemmer("english", 0)
    threads_count, calls = 6, 300
    results, failures = [None] * threads_count, []
    barrier = threading.Barrier(threads_count)

    def work(index):
        rng = random.Random(index)
        given, stems = [], []
        try:
            barrier.wait()
            for _ in range(calls):
                batch = [rng.choice(vocabulary) for _ in range(rng.randrange(1, 40))]
                batch = [word.encode("utf-8") if rng.random() < 0.3 else word for word in batch]
                shape = rng.choice(["stemWord", "list", "tuple", "iterator", "generator"])
                if shape == "stemWord":
                    batch = batch[:1]
                    stems.append(stemmer.stemWord(batch[0]))
                elif shape == "generator":
                    stems.extend(stemmer.stemWords(word for word in batch))
                else:
                    stems.extend(stemmer.stemWords({"list": list, "tuple": tuple, "iterator": iter}[shape](batch)))
                given.extend(batch)
        except BaseException as error:
            failures.append((index, error))
        results[index] = given, stems

    threads = [threading.Thread(target=work, args=(index,)) for index in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert failures == []
    for given, stems in results:
        assert stems == reference.stemWords(given)
        assert [type(stem) for stem in stems] == [type(word) for word in given]
    cache, counter = cache_state(stemmer)
    assert counter == sum(len(given) for given, _ in results)  # every use counted exactly once
    uses = [entry[1] for entry in cache.values()]
    assert len(set(uses)) == len(uses) and all(use < counter for use in uses)
    assert 0 < len(cache) < bound
    assert all(entry[0] == reference.stemWord(key).decode("utf-8") for key, entry in cache.items())


SHARED_WITH_PYTHON_CODE = """
    import gc, random, sys, threading
    import Davuzod

    sys.setswitchinterval(1e-6)
    kind, rounds = sys.argv[1], int(sys.argv[2])


    class Key(bytes):
        # Hashing and comparing run Python code, so another thread may run in the middle of a lookup or a trim.
        def __hash__(self):
            return bytes.__hash__(self)

        def __eq__(self, other):
            return bytes.__eq__(self, other)


    class Word(str):
        def encode(self, *args):
            return Key(str.encode(self, *args))


    class Subclass(Davuzod.Davuzod):
        def _Stemmer__purgeCache(self):
            return super()._Stemmer__purgeCache()

        def stemWord(self, word):
            return super().stemWord(word)


    stemmer = (Subclass if kind == "subclass" else Davuzod.Davuzod)("english", 50)
    roots = ["connect", "run", "hope", "nation", "general", "pony", "fly", "argu", "happi", "cat"]
    words = [root + ending for root in roots for ending in ("", "s", "ing", "ed", "ation", "ness", "ly")]
    words += ["caf\\u00e9s", "na\\u00efvet\\u00e9", "\\u043a\\u043d\\u0438\\u0433\\u0430\\u043c\\u0438"]
    errors = {}


    def forms(rng):
        word = rng.choice(words)
        return rng.choice([word, word.encode("utf-8"), Word(word), Key(word.encode("utf-8"))])


    def stemming(seed):
        rng = random.Random(seed)
        for _ in range(rounds):
            try:
                if rng.random() < 0.5:
                    stemmer.stemWord(forms(rng))
                else:
                    batch = [forms(rng) for _ in range(rng.randrange(1, 40))]
                    stemmer.stemWords(batch if rng.random() < 0.5 else (w for w in batch))
            except Exception as error:  # wrong answers and errors are allowed here; only a crash is not
                errors[type(error).__name__] = errors.get(type(error).__name__, 0) + 1


    def bounding(seed):
        rng = random.Random(seed)
        bounds = [50, 1, 2, 3, 0, -3, 10000, -2147483648, 2147483647, 7]
        for _ in range(rounds):
            try:
                stemmer.maxCacheSize = rng.choice(bounds)
                stemmer._Stemmer__purgeCache()
                if rng.random() < 0.05:
                    gc.collect()
            except Exception as error:
                errors[type(error).__name__] = errors.get(type(error).__name__, 0) + 1


    threads = [threading.Thread(target=stemming, args=(seed,)) for seed in range(4)]
    threads += [threading.Thread(target=bounding, args=(seed,)) for seed in (10, 11)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    stemmer.maxCacheSize = 10
    assert stemmer.stemWords(["connections", b"connections"]) == ["connect", b"connect"]
    del stemmer
    gc.collect()
    print("finished", sorted(errors.items()))
"""


@pytest.mark.parametrize("kind", ["exact", "subclass"])
def test_one_object_shared_with_python_code_never_crashes(kind):
    # Python code inside a call (a key's __eq__, a word's encode, a subclass's
    # methods) lets another thread run in the middle of it: answers may then be
    # wrong, but nothing may crash, and the object works afterwards.
    result = run_child(SHARED_WITH_PYTHON_CODE, kind, "3000")
    assert result.stdout.startswith("finished"), result.stdout + result.stderr
