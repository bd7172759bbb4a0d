"""libstemmer's algorithms and the names it accepts for them; written by tools/language_table.py."""

#: The canonical algorithm names, in libstemmer's order.
ALGORITHMS = ('arabic', 'armenian', 'basque', 'catalan', 'czech', 'danish', 'dutch', 'dutch_porter', 'english', 'esperanto', 'estonian', 'finnish', 'french', 'german', 'greek', 'hindi', 'hungarian', 'indonesian', 'irish', 'italian', 'lithuanian', 'nepali', 'norwegian', 'persian', 'polish', 'porter', 'portuguese', 'romanian', 'russian', 'serbian', 'sesotho', 'spanish', 'swedish', 'tamil', 'turkish', 'yiddish')

#: Each algorithm's ISO 639-1 and ISO 639-2 codes that libstemmer accepts.
ISO_CODES = {
    'arabic': ('ar', 'ara'),
    'armenian': ('hy', 'arm', 'hye'),
    'basque': ('eu', 'baq', 'eus'),
    'catalan': ('ca', 'cat'),
    'czech': ('cs', 'ces', 'cze'),
    'danish': ('da', 'dan'),
    'dutch': ('nl', 'dut', 'nld'),
    'dutch_porter': (),
    'english': ('en', 'eng'),
    'esperanto': ('eo', 'epo'),
    'estonian': ('et', 'est'),
    'finnish': ('fi', 'fin'),
    'french': ('fr', 'fra', 'fre'),
    'german': ('de', 'deu', 'ger'),
    'greek': ('el', 'ell', 'gre'),
    'hindi': ('hi', 'hin'),
    'hungarian': ('hu', 'hun'),
    'indonesian': ('id', 'ind'),
    'irish': ('ga', 'gle'),
    'italian': ('it', 'ita'),
    'lithuanian': ('lt', 'lit'),
    'nepali': ('ne', 'nep'),
    'norwegian': ('no', 'nor'),
    'persian': ('fa', 'fas'),
    'polish': ('pl', 'pol'),
    'porter': (),
    'portuguese': ('pt', 'por'),
    'romanian': ('ro', 'ron', 'rum'),
    'russian': ('ru', 'rus'),
    'serbian': ('sr', 'srp'),
    'sesotho': ('st', 'sot'),
    'spanish': ('es', 'spa'),
    'swedish': ('sv', 'swe'),
    'tamil': ('ta', 'tam'),
    'turkish': ('tr', 'tur'),
    'yiddish': ('yi', 'yid'),
}

#: Other names libstemmer accepts, which are no ISO 639 code.
ALIASES = {
    'esl': 'spanish',
    'kraaij_pohlmann': 'dutch',
}
