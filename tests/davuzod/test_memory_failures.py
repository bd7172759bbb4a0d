"""Exhausted memory: every allocation of an operation fails in turn.

For each operation a child interpreter runs the operation again and again,
failing its k-th allocation for k = 0, 1, ... until the operation completes
without reaching k; each k is also tried with every later allocation failing
as well. Each run must succeed with the right result or raise MemoryError;
afterwards the object still stems correctly and its cache is well formed.
Free lists are held empty during each run, so that every object the
operation creates comes from the allocator and can fail.
"""

import json

import pytest

import Davuzod
from conftest import run_child

CHILD = r'''
import faulthandler, gc, json, os, sys
import _testcapi
import Davuzod

faulthandler.enable()
gc.disable()  # a collection inside a run would take the failure meant for the operation

Stemmer = Davuzod.Davuzod
REFERENCES = {algorithm: Stemmer(algorithm, 0) for algorithm in ("english", "porter")}
REFERENCE = REFERENCES["english"]
ALGORITHMS = Davuzod.algorithms()
LAST_K = 5000

# Sixty distinct words, some of them not ASCII.
VOCABULARY = [base + ending for base in ("connect", "gener", "nation", "hope", "naïv")
              for ending in ("", "s", "ing", "ed", "ion", "ions", "ally", "ness", "er", "ers", "able", "ive")]
# Words that the English and the Porter stemmers stem differently.
SWITCHED = ["fairly", "skies", "generously", "dying", "news", "innings", "cosmos", "gently"]
PROBES = ["connections", "running", "généralement", b"hopefully", "gener".encode(), "naïvely".encode()] + SWITCHED


def reference(word, algorithm="english"):
    return REFERENCES[algorithm].stemWord(word)


def cache_of(stemmer):
    # The object's traversal visits its cache, then its counter, after any part of a subclass.
    cache, counter = gc.get_referents(stemmer)[-2:]
    return cache, counter


def prepared(bound, words, cls=Stemmer, uses=300):
    """A stemmer that has stemmed the first word many times, then each word once:
    its counter is past the integers the interpreter keeps ready-made."""
    stemmer = cls("english", bound)
    for _ in range(uses):
        stemmer.stemWord(words[0])
    for word in words:
        stemmer.stemWord(word)
    return stemmer


def cache_problems(stemmer, algorithm="english"):
    cache, counter = cache_of(stemmer)
    if type(cache) is not dict or type(counter) is not int:
        return [f"cache is {type(cache).__name__}, counter is {type(counter).__name__}"]
    problems, users = [], {}
    for key, entry in cache.items():
        if type(key) is not bytes:
            problems.append(f"key {key!r} is not bytes")
        elif not (type(entry) is list and len(entry) == 2 and type(entry[0]) is str and type(entry[1]) is int):
            problems.append(f"entry {key!r}: {entry!r}")
        else:
            if entry[0] != reference(key, algorithm).decode():
                problems.append(f"entry {key!r} holds the stem {entry[0]!r}")
            users.setdefault(entry[1], []).append(key)
            if entry[1] >= counter:
                problems.append(f"entry {key!r} has the last use {entry[1]}, not below the counter {counter}")
    problems += [f"entries {keys} share the last use {use}" for use, keys in users.items() if len(keys) > 1]
    return problems


def working_problems(stemmer, algorithm="english"):
    """Cached or not, every word stems by the object's one algorithm."""
    problems = cache_problems(stemmer, algorithm)
    for word in PROBES:
        got = stemmer.stemWord(word)
        want = reference(word, algorithm)
        if type(got) is not type(want) or got != want:
            problems.append(f"afterwards stemWord({word!r}) gives {got!r}, not {algorithm}'s {want!r}")
    return problems + cache_problems(stemmer, algorithm)


def snapshot(stemmer):
    cache, counter = cache_of(stemmer)
    return cache, {key: (entry, list(entry)) for key, entry in cache.items()}, counter


def unchanged_problems(stemmer, before):
    """A failed trim or switch-off leaves the cache and the counter exactly as they were."""
    cache, entries, counter = before
    now_cache, now_counter = cache_of(stemmer)
    now = {key: (entry, list(entry)) for key, entry in now_cache.items()}
    if now_cache is not cache or now != entries or now_counter != counter:
        return [f"the failure changed the cache: {len(entries)} -> {len(now)} entries, counter {counter} -> {now_counter}"]
    return []


def trimmed_problems(stemmer, bound, before):
    """A trim keeps exactly the entries used after the counter less eight tenths of the bound."""
    _, entries, counter = before
    now_cache, now_counter = cache_of(stemmer)
    recent = counter - bound * 8 // 10
    kept = [key for key, (_, (_, last_use)) in entries.items() if last_use > recent]
    if list(now_cache) != kept or now_counter != counter:
        return [f"trim kept {sorted(now_cache)}, counter {now_counter}; expected {kept}, counter {counter}"]
    return []


def stems_problems(got, words):
    want = [reference(word) for word in words]
    if [type(stem) for stem in got] != [type(stem) for stem in want] or got != want:
        return [f"stems {got!r}, expected {want!r}"]
    return []


# ---- the operations; each prepares its own object before every run

class Operation:
    stemmer = None  # the object that must still work afterwards
    algorithm = "english"  # the algorithm it must then stem by

    def prepare(self):
        pass

    def succeeded(self, result):
        return []

    def failed(self):
        return []


class Construct(Operation):
    def __init__(self, *args, bound=10000, **kwargs):
        self.args, self.kwargs, self.bound = args, kwargs, bound

    def call(self):
        return Stemmer(*self.args, **self.kwargs)

    def succeeded(self, result):
        self.stemmer = result
        if result.maxCacheSize != self.bound or cache_of(result) != ({}, 0):
            return [f"new object: bound {result.maxCacheSize}, cache and counter {cache_of(result)}"]
        return []


class ConstructUnknown(Operation):
    def call(self):
        try:
            Stemmer("nonesuch")
        except KeyError as error:
            return error
        return None

    def succeeded(self, result):
        if type(result) is not KeyError or result.args != ("Stemming algorithm 'nonesuch' not found",):
            return [f"unknown algorithm gave {result!r}"]
        return []


class Reinitialise(Operation):
    """A further __init__ of an object with a warm cache, whose cached words
    include some that the new algorithm stems differently."""

    def __init__(self, algorithm, bound):
        self.new_algorithm, self.bound = algorithm, bound

    def prepare(self):
        self.algorithm = "english"
        self.stemmer = prepared(10000, VOCABULARY[:20] + SWITCHED[:4])  # the other four are probed uncached
        self.before = snapshot(self.stemmer)

    def call(self):
        try:
            return self.stemmer.__init__(self.new_algorithm, self.bound)
        except KeyError as error:
            return error

    def succeeded(self, result):
        if self.new_algorithm in REFERENCES:
            self.algorithm = self.new_algorithm
            if result is not None or self.stemmer.maxCacheSize != self.bound or cache_of(self.stemmer) != ({}, 0):
                return [f"after __init__: {result!r}, bound {self.stemmer.maxCacheSize}, {cache_of(self.stemmer)}"]
            return []
        # An unknown name: the object keeps its cache, counter and bound, and has no handle.
        problems = unchanged_problems(self.stemmer, self.before) + self.bound_problems(10000)
        if type(result) is not KeyError or result.args != (f"Stemming algorithm '{self.new_algorithm}' not found",):
            problems.append(f"unknown algorithm gave {result!r}")
        if self.has_handle():
            problems.append("an object without a handle stemmed an uncached word")
        self.stemmer.__init__("english")  # so that the checks afterwards have a handle to work with
        return problems

    def failed(self):
        problems = unchanged_problems(self.stemmer, self.before) + self.bound_problems(10000)
        if self.new_algorithm not in REFERENCES and not self.has_handle():
            # The KeyError was raised, and then the interpreter ran out of memory
            # (making its traceback): the outcome of an unknown name, with its error lost.
            self.stemmer.__init__("english")
        return problems

    def has_handle(self):
        try:
            self.stemmer.stemWord("uncached")
        except RuntimeError:
            return False
        return True

    def bound_problems(self, bound):
        if self.stemmer.maxCacheSize != bound:
            return [f"bound {self.stemmer.maxCacheSize}, expected {bound}"]
        return []


class StemOne(Operation):
    """stemWord of one word; hit when the word was stemmed before, miss otherwise."""

    def __init__(self, word, bound, cached_before):
        self.word, self.bound, self.cached_before = word, bound, cached_before

    def prepare(self):
        words = VOCABULARY[:20] + ([self.word] if self.cached_before else [])
        self.stemmer = prepared(self.bound, words) if self.bound else Stemmer("english", 0)
        # The snapshot also keeps the entries' last uses alive, so a hit cannot
        # make its new counter in the memory of the last use it replaces.
        self.before = snapshot(self.stemmer)

    def call(self):
        return self.stemmer.stemWord(self.word)

    def succeeded(self, result):
        problems = stems_problems([result], [self.word])
        cache, counter = cache_of(self.stemmer)
        key = self.word.encode() if isinstance(self.word, str) else self.word
        if self.bound <= 0:
            if (cache, counter) != ({}, 0):
                problems.append(f"uncached stemming changed the cache: {cache!r}, {counter}")
        elif counter != self.before[2] + 1 or key not in cache:
            problems.append(f"counter {self.before[2]} -> {counter}, {key!r} cached: {key in cache}")
        return problems


class StemMany(Operation):
    def __init__(self, make_words, cls=Stemmer):
        self.make_words, self.cls = make_words, cls

    def prepare(self):
        # A small bound: the words bring hits, misses and trims.
        self.stemmer = prepared(8, VOCABULARY[:3], cls=self.cls)
        self.words = self.make_words()

    def call(self):
        return self.stemmer.stemWords(self.words)

    def succeeded(self, result):
        return stems_problems(result, list(self.make_words()))


MANY = [VOCABULARY[0], "running", VOCABULARY[0].encode(), "runs", "naïvely", "running".encode(), "generalities",
        VOCABULARY[1], "hopefulness", "hope", "naïvely".encode(), "connected", "runs", "nationally"]


class Deferred(Stemmer):
    """Defers trimming, so that the cache can fill past its bound."""

    def _Stemmer__purgeCache(self):
        pass


class Trim(Operation):
    """A trim of a cache that has reached its bound: called directly, after a miss,
    or by lowering the bound."""

    def __init__(self, how):
        self.how = how

    def prepare(self):
        if self.how == "direct":
            self.bound = 40
            self.stemmer = prepared(40, VOCABULARY, cls=Deferred)
        elif self.how == "miss":
            self.bound = 40
            self.stemmer = prepared(40, VOCABULARY[:39])
        else:
            self.bound = 50
            self.stemmer = prepared(1000, VOCABULARY)
        self.before = snapshot(self.stemmer)

    def call(self):
        if self.how == "direct":
            return Stemmer._Stemmer__purgeCache(self.stemmer)
        if self.how == "miss":
            return self.stemmer.stemWord(VOCABULARY[-1])
        self.stemmer.maxCacheSize = self.bound
        return None

    def succeeded(self, result):
        problems = []
        if self.how == "miss":
            problems += stems_problems([result], [VOCABULARY[-1]])
            # The trim runs once the miss is stored and counted.
            cache, entries, counter = self.before
            entry = [reference(VOCABULARY[-1]), counter]
            self.before = cache, {**entries, VOCABULARY[-1].encode(): (entry, entry)}, counter + 1
        elif result is not None:
            problems.append(f"trim returned {result!r}")
        return problems + self.bound_problems() + trimmed_problems(self.stemmer, self.bound, self.before)

    def failed(self):
        problems = self.bound_problems()
        if self.how != "miss":
            problems += unchanged_problems(self.stemmer, self.before)
        return problems

    def bound_problems(self):
        if self.stemmer.maxCacheSize != self.bound:
            return [f"bound {self.stemmer.maxCacheSize}, expected {self.bound}"]
        return []


class SwitchOff(Operation):
    """Setting the bound to 0 empties the cache and restarts the counter."""

    def prepare(self):
        self.stemmer = prepared(10000, VOCABULARY)
        self.before = snapshot(self.stemmer)

    def call(self):
        self.stemmer.maxCacheSize = 0

    def succeeded(self, result):
        if self.stemmer.maxCacheSize != 0 or cache_of(self.stemmer) != ({}, 0):
            return [f"after switching off: bound {self.stemmer.maxCacheSize}, {cache_of(self.stemmer)}"]
        return []

    def failed(self):
        problems = unchanged_problems(self.stemmer, self.before)
        if self.stemmer.maxCacheSize != 0:
            problems.append(f"bound {self.stemmer.maxCacheSize} after a failed switch-off")
        return problems


class Algorithms(Operation):
    def call(self):
        return Davuzod.algorithms()

    def succeeded(self, result):
        return [] if result == ALGORITHMS else [f"algorithms() gave {result!r}"]


class Sub(Stemmer):
    pass


OPERATIONS = {
    "construct": Construct("english"),
    "construct-keyword": Construct(algorithm="english", maxCacheSize=25, bound=25),
    "construct-unknown": ConstructUnknown(),
    "reinitialise": Reinitialise("porter", 50),
    "reinitialise-unknown": Reinitialise("nonesuch", 50),
    "hit-text": StemOne("connections", 10000, True),
    "hit-bytes": StemOne(b"connections", 10000, True),
    "miss-text": StemOne("naïvely", 10000, False),
    "miss-bytes": StemOne("naïvely".encode(), 10000, False),
    "uncached-text": StemOne("connections", 0, False),
    "uncached-text-not-ascii": StemOne("naïvely", 0, False),
    "uncached-bytes": StemOne("naïvely".encode(), 0, False),
    "words-list": StemMany(lambda: list(MANY)),
    "words-generator": StemMany(lambda: (word for word in MANY)),
    "words-list-subclass": StemMany(lambda: list(MANY), cls=Sub),
    "trim-direct": Trim("direct"),
    "trim-after-miss": Trim("miss"),
    "bound-lowered": Trim("setter"),
    "bound-to-zero": SwitchOff(),
    "algorithms": Algorithms(),
}


class Method:
    def method(self):
        pass


def hold_free_lists():
    """Takes what the interpreter's free lists hold, so that new objects are allocated."""
    method = Method()
    return ([{} for _ in range(100)], [{i: i} for i in range(100)], [[i] for i in range(100)],
            [10**6 + i for i in range(200)], [i + 0.5 for i in range(200)],
            [(i,) for i in range(2100)], [(i, i) for i in range(2100)], [(i, i, i) for i in range(2100)],
            [REFERENCE.stemWord for _ in range(40)], [method.method for _ in range(40)])


def probe():
    return [object() for _ in range(64)]


def run(operation, k, stop):
    operation.stemmer = None
    operation.prepare()
    held = hold_free_lists()
    result = error = None
    _testcapi.set_nomemory(k, stop)
    try:
        try:
            result = operation.call()
        except MemoryError:
            outcome = "failed"
        except BaseException as raised:
            outcome, error = "wrong", raised
        else:
            try:
                probe()
            except MemoryError:
                outcome = "done"  # completed without reaching allocation k
            else:
                outcome = "survived"  # allocation k failed and the operation recovered
    finally:
        _testcapi.remove_mem_hooks()
    del held
    problems = []
    if sys.exception() is not None:
        problems.append(f"handled exception left behind: {sys.exception()!r}")
    if outcome == "wrong":
        problems.append(f"raised {type(error).__name__}: {error}")
    elif outcome == "failed":
        problems += operation.failed()
    else:
        problems += operation.succeeded(result)
    if operation.stemmer is not None:
        problems += working_problems(operation.stemmer, operation.algorithm)
    operation.stemmer = result = None
    gc.collect()
    return outcome, [f"k={k}: {problem}" for problem in problems]


name = sys.argv[1]
operation = OPERATIONS[name]
outcomes, problems = {}, []
for k in range(LAST_K):
    os.write(2, b"attempt k=%d\n" % k)
    outcome, found = run(operation, k, k + 1)
    outcomes[outcome] = outcomes.get(outcome, 0) + 1
    problems += found
    if outcome == "done" or len(problems) > 40:
        break
    # And with every allocation from k on failing, so that the way out fails too.
    os.write(2, b"attempt k=%d onwards\n" % k)
    outcome, found = run(operation, k, 0)
    outcomes["onwards " + outcome] = outcomes.get("onwards " + outcome, 0) + 1
    problems += [problem + " (and every later allocation)" for problem in found]
else:
    problems.append(f"not completed within {LAST_K} allocations")
if len(problems) > 40:
    problems.append("stopped early: too many problems")
print(json.dumps({"operation": name, "points": k, "outcomes": outcomes, "problems": problems[:20],
                  "problem_count": len(problems)}))
'''


# The operations, each with the fewest allocations it makes by its nature (with the
# free lists held): the loop must get at least that far.
OPERATIONS = {
    "construct": 3,  # the object, the encoded name, the cache
    "construct-keyword": 3,
    "construct-unknown": 4,  # the object, the encoded name, the message, the KeyError
    "reinitialise": 2,  # the encoded name, the cache
    "reinitialise-unknown": 3,  # the encoded name, the message, the KeyError
    "hit-text": 1,  # the counter (a short ASCII key reuses a spare bytes object)
    "hit-bytes": 2,  # the counter, the returned bytes
    "miss-text": 5,  # the key, the stem, the entry and its items, the counter
    "miss-bytes": 5,  # the stem, the entry and its items, the counter, the returned bytes
    "uncached-text": 1,  # the stem
    "uncached-text-not-ascii": 2,  # the key, the stem
    "uncached-bytes": 2,  # the stem, the returned bytes
    "words-list": 14,  # at least one for each of the 14 words
    "words-generator": 14,
    "words-list-subclass": 14,
    "trim-direct": 3,  # the new cache, its table, the threshold
    "trim-after-miss": 8,  # the miss, then the trim
    "bound-lowered": 3,
    "bound-to-zero": 1,  # the new cache
    "algorithms": len(Davuzod.algorithms()) + 1,  # the list and one name each
}


@pytest.mark.parametrize("operation", list(OPERATIONS))
def test_every_allocation_failure_is_a_memory_error(operation):
    result = run_child(CHILD, operation, check=False)
    if result.returncode != 0:
        lines = result.stderr.splitlines()
        attempts = [line for line in lines if line.startswith("attempt k=")]
        rest = "\n".join(line for line in lines if not line.startswith("attempt k="))
        pytest.fail(f"{operation}: the child died ({result.returncode}) at {attempts[-1] if attempts else 'start'}\n{rest}")
    report = json.loads(result.stdout)
    print(f"{operation}: {report['points']} allocation points, outcomes {report['outcomes']}")
    assert not report["problems"], f"{report['problem_count']} problems in {operation}:\n" + "\n".join(report["problems"])
    assert report["outcomes"].get("failed", 0) > 0, report
    assert report["points"] >= OPERATIONS[operation], report
