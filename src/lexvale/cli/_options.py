"""The command's arguments: its parser, and the settings of a run read from them.

Every mistake in the arguments is reported by the parser itself (usage, then
one line, exit status 2), whether argparse finds it or the checks here do.
"""

from __future__ import annotations

import argparse
import sys
from typing import NamedTuple

from .. import __version__
from ..languages import resolve
from ..stemmers import TEXT_CACHE_SIZE, cache_size_error
from ._work import CommandError, Job

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import NoReturn

    from .._preparation import NormalForm

__all__ = ["Options", "job_of", "parse", "read_word_file"]

_NORMAL_FORMS: dict[str, NormalForm | None] = {"NFC": "NFC", "NFKC": "NFKC", "none": None}

_OUTPUT_HELP = (
    "write FILE (default: standard output). FILE is written under a temporary name beside it and renamed "
    "into place when the run succeeds, so a run that fails or is interrupted leaves an earlier FILE as it was"
)


class Options(NamedTuple):
    """A run's settings, checked."""

    listing: bool  # --list: the other settings are not used
    language: str
    inputs: tuple[str | None, ...]  # read in turn; None: standard input
    output: str | None  # None: standard output
    jobs: int
    cache_size: int
    pairs: bool
    text: bool
    lowercase: bool
    normalize: NormalForm | None
    stopwords: str | None
    protected: str | None
    overrides: str | None
    fold_accents: bool
    keep_original: bool
    tokens: bool
    ngram_range: tuple[int, int]
    encoding: str  # the input's, as given ("utf-8" for UTF-8)


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # argparse shows the usage on stdout when stderr is closed: into the data.
        if sys.stderr is not None:
            self.print_usage(sys.stderr)
        self.exit(2, f"{self.prog}: error: {message}\n")


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="lexvale",
        description="Stem words with libstemmer's Snowball algorithms: one word per line in, one stem per line "
        "out, as libstemmer's stemwords does; or running text with --text.",
    )
    parser.add_argument("-l", "--language", default="english",
                        help="algorithm name, ISO 639 code or locale tag (pt_BR.UTF-8), any case "
                             "(default: english; see --list)")
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="the files to read, in turn, into one output (default, or -: standard input)")
    parser.add_argument("-i", "--input", metavar="FILE", help="read FILE (default: standard input)")
    parser.add_argument("-o", "--output", metavar="FILE", help=_OUTPUT_HELP)
    parser.add_argument("-p", dest="pairs", action="store_true", help='write each word, " -> " and its stem')
    parser.add_argument("--text", action="store_true",
                        help="running text: each line becomes the stems of its words, separated by spaces")
    parser.add_argument("--no-lowercase", action="store_true", help="with --text: stem words as they are written")
    parser.add_argument("--normalize", choices=list(_NORMAL_FORMS),
                        help="with --text: Unicode normal form to put text in first (default: NFKC)")
    parser.add_argument("--stopwords", metavar="FILE",
                        help="with --text: drop the words listed in FILE (Snowball's format: '|' starts a comment, "
                        "as does '#' at the start of a line; several words may share a line), or 'snowball' for "
                        "Snowball's stop list of the language (a file of that name: ./snowball)")
    parser.add_argument("--protected", metavar="FILE",
                        help="with --text: keep the words listed in FILE (Snowball's format) unstemmed")
    parser.add_argument("--overrides", metavar="FILE",
                        help="with --text: give the words of FILE the stems FILE gives them: a word and its stem "
                        "on each line, in Snowball's format otherwise")
    parser.add_argument("--fold-accents", action="store_true",
                        help="with --text: take the diacritics off the stems ('café' and 'cafe' meet)")
    parser.add_argument("--keep-original", action="store_true",
                        help="with --text: follow each stem with its word as prepared (lower-cased), where they "
                        "differ, as search engines keep the original beside the stem")
    parser.add_argument("--tokens", action="store_true",
                        help="with --text: write each line's tokens as one JSON array a line (JSON lines): each "
                        "token's stem, start and end (offsets in characters within the line), word as written, "
                        "and position (the line's words counted from 0, dropped stop words included)")
    parser.add_argument("--ngrams", metavar="MIN,MAX",
                        help="with --text: the word n-grams of the stems for each n from MIN to MAX (1,2: words "
                        "and pairs), each a line's token; the tokens are parted by tabs unless MAX is 1")
    parser.add_argument("--encoding", default="utf-8", metavar="ENCODING",
                        help="the input's encoding, such as latin-1 or cp1252 (default: utf-8); the output is UTF-8")
    parser.add_argument("--cache", type=int, metavar="N",
                        help=f"stem cache size (default: 0 for a word list, whose words rarely repeat; "
                        f"{TEXT_CACHE_SIZE} with --text)")
    parser.add_argument("-j", "--jobs", type=int, default=1, metavar="N",
                        help="worker processes (default: 1); the output is the same for any N")
    parser.add_argument("--list", action="store_true", help="list the algorithms and the ISO codes each accepts")
    parser.add_argument("--version", action="version", version=f"lexvale {__version__}")
    return parser


def parse(argv: Sequence[str] | None) -> Options:
    """The settings `argv` gives (None: the command line); SystemExit as argparse exits."""
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        language = resolve(args.language)
    except ValueError as error:
        parser.error(str(error))
    if args.jobs < 1:
        parser.error(f"--jobs must be at least 1, not {args.jobs}")
    cache_size = args.cache if args.cache is not None else (TEXT_CACHE_SIZE if args.text else 0)
    out_of_range = cache_size_error("--cache", cache_size)
    if out_of_range is not None:
        parser.error(out_of_range)
    if args.text and args.pairs:
        parser.error("-p works on word lists; it cannot be used with --text")
    if not args.text:
        for name, given in (("--no-lowercase", args.no_lowercase), ("--normalize", args.normalize is not None),
                            ("--stopwords", args.stopwords is not None),
                            ("--protected", args.protected is not None),
                            ("--overrides", args.overrides is not None), ("--fold-accents", args.fold_accents),
                            ("--keep-original", args.keep_original), ("--tokens", args.tokens),
                            ("--ngrams", args.ngrams is not None)):
            if given:
                parser.error(f"{name} works with --text only")
    encoding = _encoding(args.encoding)
    if encoding is None:
        parser.error(f"--encoding takes an encoding that writes ASCII as ASCII and each line apart "
                     f"(utf-8, latin-1, cp1252, koi8-r, shift_jis...), not {args.encoding!r}")
    ngram_range = (1, 1) if args.ngrams is None else _ngram_range(args.ngrams)
    if ngram_range is None:
        parser.error(f"--ngrams takes MIN,MAX with 1 <= MIN <= MAX, such as 1,2; not {args.ngrams!r}")
    if ngram_range != (1, 1):
        for name, given in (("--tokens", args.tokens), ("--keep-original", args.keep_original)):
            if given:
                parser.error(f"{name} gives single words, and cannot be used with --ngrams")
    if args.input is not None and args.files:
        parser.error("give the input as -i FILE or as FILE arguments, not both")
    given_inputs = [args.input] if args.input is not None else args.files or ["-"]
    return Options(
        listing=args.list,
        language=language,
        inputs=tuple(None if path == "-" else path for path in given_inputs),
        output=None if args.output in (None, "-") else args.output,
        jobs=args.jobs,
        cache_size=cache_size,
        pairs=args.pairs,
        text=args.text,
        lowercase=not args.no_lowercase,
        normalize=_NORMAL_FORMS[args.normalize or "NFKC"],
        stopwords=args.stopwords,
        protected=args.protected,
        overrides=args.overrides,
        fold_accents=args.fold_accents,
        keep_original=args.keep_original,
        tokens=args.tokens,
        ngram_range=ngram_range,
        encoding=encoding,
    )


# Encodings that write ASCII as ASCII only between escapes or shifts: a line
# of them cannot be read apart from the lines before it.
_STATEFUL = ("iso2022", "hz", "utf_7")


def _encoding(given: str) -> str | None:
    """`given`, or None for an encoding the command cannot read a chunk at a time."""
    import codecs

    try:
        name = codecs.lookup(given).name
    except LookupError:
        return None
    if name.replace("-", "_").startswith(_STATEFUL) or not _ascii_as_ascii(name):
        return None
    return "utf-8" if name == "utf-8" else given


def _ascii_as_ascii(encoding: str) -> bool:
    """Whether `encoding` writes and reads ASCII as ASCII, escapes included."""
    ascii_text = "".join(map(chr, range(128))) + "\\u000a\\x41"
    try:
        return (ascii_text.encode(encoding) == ascii_text.encode("ascii")
                and ascii_text.encode("ascii").decode(encoding) == ascii_text)
    except (UnicodeError, LookupError):
        return False


def _ngram_range(given: str) -> tuple[int, int] | None:
    low, comma, high = given.partition(",")
    if not comma or not low.strip().isdecimal() or not high.strip().isdecimal():
        return None
    bounds = int(low), int(high)
    return bounds if 1 <= bounds[0] <= bounds[1] else None


def read_word_file(path: str) -> list[str]:
    """The words of a --stopwords or --protected file, in Snowball's format (see lexvale.read_word_list)."""
    from ..stoplists import read_word_list

    try:
        return read_word_list(path)
    except OSError as error:
        raise CommandError(f"cannot read {path or repr(path)}: {error.strerror or error}") from None
    except ValueError as error:  # not UTF-8: the message names the file
        raise CommandError(str(error)) from None


def read_overrides(path: str) -> dict[str, str]:
    """The word and stem of each line of an --overrides file, in Snowball's format ('|' and '#' comments)."""
    try:
        with open(path, encoding="utf-8-sig") as file:
            content = file.read()
    except OSError as error:
        raise CommandError(f"cannot read {path or repr(path)}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CommandError(f"{path} is not UTF-8 text (byte {error.start})") from None
    overrides: dict[str, str] = {}
    for number, line in enumerate(content.split("\n"), 1):
        if line.lstrip().startswith("#"):
            continue
        parts = line.partition("|")[0].split()
        if not parts:
            continue
        if len(parts) != 2:
            raise CommandError(f"{path}, line {number}: an override is a word and its stem, not {line.strip()!r}")
        word, stem = parts
        if overrides.setdefault(word, stem) != stem:
            raise CommandError(f"{path}, line {number}: {word!r} has the stem {overrides[word]!r} already")
    return overrides


def job_of(options: Options) -> Job:
    """What each chunk is done with; reads the word files of text mode."""
    if not options.text:
        return Job(options.language, options.cache_size, options.pairs, None, options.encoding)
    from ..analyzer import Analyzer

    try:
        analyzer = Analyzer(
            options.language,
            lowercase=options.lowercase,
            normalize=options.normalize,
            stopwords=(
                "snowball" if options.stopwords == "snowball"
                else read_word_file(options.stopwords) if options.stopwords is not None else ()
            ),
            protected=read_word_file(options.protected) if options.protected is not None else (),
            overrides=read_overrides(options.overrides) if options.overrides is not None else None,
            fold_accents=options.fold_accents,
            keep_original=options.keep_original,
            ngram_range=options.ngram_range,
            cache_size=options.cache_size,
        )
    except ValueError as error:  # a language without a built-in stop list; overrides that give a word two stems
        raise CommandError(str(error)) from None
    return Job(options.language, options.cache_size, False, analyzer, options.encoding, options.tokens)
