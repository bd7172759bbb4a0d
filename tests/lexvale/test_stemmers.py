"""lexvale.stemmer: one Davuzod object per thread and process, shared configuration everywhere."""

import threading
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import Davuzod
import lexvale
from conftest import run_child


def test_same_thread_same_object_under_any_name():
    first = lexvale.stemmer("english")
    assert isinstance(first, Davuzod.Davuzod)
    assert lexvale.stemmer("english") is first
    assert lexvale.stemmer("EN") is first and lexvale.stemmer("eng") is first
    assert lexvale.stemmer("english", 0) is not first
    assert lexvale.stemmer("english", 0).maxCacheSize == 0
    assert lexvale.stemmer("german") is not first


def test_each_thread_gets_its_own_object():
    mine = lexvale.stemmer("english")
    seen = []
    worker = threading.Thread(target=lambda: seen.extend([lexvale.stemmer("english"), lexvale.stemmer("english")]))
    worker.start()
    worker.join()
    assert seen[0] is seen[1]
    assert seen[0] is not mine


def test_a_forked_child_makes_its_own_object():
    result = run_child(
        """
        import os, lexvale
        parent = lexvale.stemmer("english")
        pid = os.fork()
        if pid == 0:
            child = lexvale.stemmer("english")
            os._exit(0 if child is not parent and child.stemWord("running") == "run" else 1)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0
        assert lexvale.stemmer("english") is parent
        """
    )
    assert result.returncode == 0


def test_threads_sharing_one_analyzer_get_the_serial_result():
    path = Path("/usr/share/dict/american-english")
    if not path.exists():
        pytest.skip("wamerican is not installed")
    lines = path.read_text(encoding="utf-8").split("\n")[:40000]
    texts = [" ".join(lines[i : i + 50]) for i in range(0, len(lines), 50)]
    analyzer = lexvale.Analyzer("english", cache_size=100)  # small: the caches trim all the time
    serial = [analyzer(text) for text in texts]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(analyzer, texts)) == serial


@pytest.mark.parametrize("language, cache_size, error", [(None, 10, TypeError), ("klingon", 10, ValueError),
                                                         ("english", "10", TypeError), ("english", 1.5, TypeError),
                                                         ("english", 10.0, TypeError), ("english", True, TypeError)])
def test_bad_arguments(language, cache_size, error):
    # Refused the same whether or not a stemmer with an equal bound (10 == 10.0, 1 == True) is made already.
    lexvale.stemmer("english", 10)
    lexvale.stemmer("english", 1)
    with pytest.raises(error):
        lexvale.stemmer(language, cache_size)
