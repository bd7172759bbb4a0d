"""lexvale._analysis under concurrent.interpreters: each interpreter its own module and types, each with its own GIL."""

import json
import random
import threading

import pytest

from lexvale import _native as native
from lexvale._rules import rules_of

pytestmark = pytest.mark.skipif(not native.available(), reason="the native pass is not built")

interpreters = pytest.importorskip("concurrent.interpreters")

# The work each interpreter does, written once and run in the main interpreter
# and in each subinterpreter alike. `import lexvale` needs Davuzod, which stays
# with the main interpreter, so a subinterpreter loads the module from its file.
WORK = """
import collections, importlib.util, json, unicodedata

Token = collections.namedtuple("Token", "stem start end word")


def load(path):
    found = importlib.util.spec_from_file_location("lexvale._analysis", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def analyse(analysis, cases):
    results = []
    for algorithm, rules, text in json.loads(cases):
        kept_joiners, dotted_i, mutation_letters, mutated_vowels = rules
        stemmer = analysis.Pass(algorithm, True, "NFC", 1000, {}, unicodedata.is_normalized, None, Token,
                                kept_joiners, dotted_i, mutation_letters, mutated_vowels, False)
        stems = stemmer.text(text)
        tokens = stemmer.tokens(text)
        results.append({
            "stems": stems,
            "tokens": None if tokens is None else [list(token) for token in tokens],
            "ngrams": None if stems is None else analysis.word_ngrams(stems, 1, 3),
            "lines": analysis.LineStemmer(algorithm).stem_lines("\\n".join(text.split()).encode() + b"\\n", False).decode(),
        })
    # The addresses of the module and its types: equal only for one object.
    identity = {"module": id(analysis), "Pass": id(analysis.Pass), "LineStemmer": id(analysis.LineStemmer)}
    return json.dumps({"results": results, "identity": identity})
"""

# Loaded once, and kept, by each subinterpreter.
IN_SUBINTERPRETER = """
if "analysis" not in globals():
    analysis = load(path)
results.put(analyse(analysis, cases))
"""

WORDS = {
    "english": ["Running", "cats", "CONNECTED", "generously", "don't", "well-being", "U.S.A.", "naïve", "ﬁsh"],
    "turkish": ["İstanbul'da", "KITAPLAR", "ılık", "Işık", "gözlükçüler", "İNSANLAR", "kitaplarımızdan"],
    "irish": ["nAthair", "tÉan", "n-athair", "an", "t-uisce", "hÉireann", "bhfuil", "Gaeilge"],
    "persian": ["می\u200cخواهم", "کتاب\u200cها", "دانشگاه", "نوشته\u200cهایش", "خانه"],
    "german": ["Häuser", "STRAẞE", "Bücher", "größten", "Mädchen", "aufgestanden"],
}


def cases(languages, words_each, seed):
    """Texts of each language's words in a reproducible order, with the language's rules."""
    rng = random.Random(seed)
    made = []
    for language in languages:
        rules = rules_of(language)
        words = [rng.choice(WORDS[language]) for _ in range(words_each)]
        text = "".join(word + rng.choice([" ", " ", ", ", ".\n", "\n"]) for word in words)
        made.append([language, [rules.kept_joiners, rules.dotted_i, rules.mutation_letters, rules.mutated_vowels],
                     text])
    return json.dumps(made)


@pytest.fixture(scope="module")
def work():
    from lexvale import _analysis

    namespace = {}
    exec(WORK, namespace)
    return _analysis, namespace["analyse"]


def in_main(work, given):
    analysis, analyse = work
    return json.loads(analyse(analysis, given))


def in_subinterpreter(interp, work, given):
    analysis, _ = work
    results = interpreters.create_queue()
    interp.prepare_main(path=analysis.__file__, cases=given, results=results)
    interp.exec(WORK)
    interp.exec(IN_SUBINTERPRETER)
    return json.loads(results.get(timeout=60))


@pytest.mark.parametrize("language", sorted(WORDS))
def test_subinterpreter_with_its_own_gil_analyses_as_the_main_one(work, language):
    given = cases([language], 200, seed=language)
    expected = in_main(work, given)
    assert all(result["stems"] is not None and result["tokens"] is not None for result in expected["results"])
    interp = interpreters.create()
    try:
        assert in_subinterpreter(interp, work, given)["results"] == expected["results"]
    finally:
        interp.close()


def test_each_interpreter_has_its_own_module_and_types(work):
    given = cases(["english"], 20, seed=1)
    second = interpreters.create()
    try:
        first = interpreters.create()
        try:
            seen = [in_main(work, given), in_subinterpreter(first, work, given), in_subinterpreter(second, work, given)]
        finally:
            first.close()
        # One interpreter gone takes nothing from another.
        seen.append(in_subinterpreter(second, work, given))
    finally:
        second.close()
    for name in ("module", "Pass", "LineStemmer"):
        addresses = [outcome["identity"][name] for outcome in seen]
        assert len(set(addresses[:3])) == 3, name
        assert addresses[3] == addresses[2], name
    assert all(outcome["results"] == seen[0]["results"] for outcome in seen)


def test_interpreters_analyse_at_the_same_time(work):
    given = cases(sorted(WORDS), 3000, seed=2024)
    expected = in_main(work, given)["results"]
    subs = [interpreters.create() for _ in range(2)]
    outcomes = [None] * len(subs)

    def run(index):
        outcomes[index] = [in_subinterpreter(subs[index], work, given)["results"] for _ in range(3)]

    threads = [threading.Thread(target=run, args=(index,)) for index in range(len(subs))]
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        for sub in subs:
            sub.close()
    assert outcomes == [[expected] * 3] * len(subs)
