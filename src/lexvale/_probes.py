"""Probe words that tell libstemmer's algorithms apart, to learn which algorithm a name opens.

libstemmer has no call that names the algorithm an alias opens: the stems it
gives for these words do. ``tools/language_table.py`` learns the table of
names from them; ``languages`` uses them for a name the table lacks.
"""

import Davuzod

__all__ = ["algorithm_of", "probe_words"]

# Real inflected words where algorithms of one script differ (Danish and
# Norwegian, Dutch and its neighbours), and generated words in each script
# libstemmer covers.
_REAL = (
    "hestene bestemmelse bestemmelsene kjærligheten kærligheden løbende memakan dimakan "
    "gcapall bhfuinneog majadele linnades lichamelijk kinderen huizen generously "
    "nationalization relational hopefulness"
).split()
_SCRIPTS = (
    "abcdefghijklmnopqrstuvwxyzàáâäçèéêëíîïñóôöúûüßåæøőűąćęłńśźżčďěňřšťůžăîșțı",
    "абвгдеёжзийклмнопрстуфхцчшщъыьэюяђјљњћџ",
    "αβγδεζηθικλμνξοπρστυφχψωάέήίόύώς",
    "ابتثجحخدذرزسشصضطظعغفقكلمنهويةىءأإآپچژکگی",
    "աբգդեզէըթժիլխծկհձղճմյնշոչպջռսվտրցւփքօֆ",
    "अआइईउऊएऐओऔकखगघङचछजझञटठडढणतथदधनपफबभमयरलवशषसहािीुूेैोौंः्",
    "அஆஇஈஉஊஎஏஐஒஓஔகஙசஞடணதநபமயரலவழளறனாிீுூெேைொோௌ்",
    "אבגדהוזחטיכךלמםנןסעפףצץקרשת",
)


def probe_words(per_script: int = 150) -> tuple[str, ...]:
    # A fixed linear congruential sequence: the same words in every process.
    # (About 1,200 words, made in a millisecond: not worth keeping.)
    state = 9
    words = list(_REAL)
    for alphabet in _SCRIPTS:
        for _ in range(per_script):
            state = (state * 1103515245 + 12345) % 2**31
            length = 4 + state % 9
            letters = []
            for _ in range(length):
                state = (state * 1103515245 + 12345) % 2**31
                letters.append(alphabet[(state >> 8) % len(alphabet)])
            words.append("".join(letters))
    return tuple(words)


_fingerprints: dict[tuple[str, ...], str] | None = None


def fingerprints() -> dict[tuple[str, ...], str]:
    """Each algorithm's stems of the probe words, and its name."""
    global _fingerprints
    if _fingerprints is None:
        words = probe_words()
        _fingerprints = {tuple(Davuzod.Davuzod(name, 0).stemWords(words)): name for name in Davuzod.algorithms()}
    return _fingerprints


def algorithm_of(name: str) -> str | None:
    """The algorithm libstemmer opens for `name`, or None when it opens none."""
    # libstemmer reads the name as a C string: a NUL would cut it short.
    if not name.isascii() or "\0" in name:
        return None
    try:
        opened = Davuzod.Davuzod(name, 0)
    except KeyError:
        return None
    return fingerprints().get(tuple(opened.stemWords(probe_words())))
