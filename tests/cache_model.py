"""The stem cache as documented, which the tests compare real objects' caches with."""


class CacheModel:
    """Entries in insertion order as [stem, last use], a use counter, the bound.

    A cached-path call (bound 1 or more) that finds its key writes the counter into the entry and advances
    the counter. One that misses stems the word; if that fails nothing changes, otherwise the entry
    [stem, counter] is added at the end, the counter advances and the cache is trimmed. A trim does
    nothing while the cache holds fewer entries than the bound; otherwise it keeps, in their order, the
    entries whose last use is above counter - window, the window being eight tenths of the bound
    truncated toward zero. Setting the bound to 0 empties the cache and restarts the counter; setting
    any other value trims.
    """

    def __init__(self, bound):
        self.bound, self.entries, self.counter = bound, {}, 0

    def stem(self, key, stem):
        """Returns whether the call was a hit; stem is None when the word cannot be stemmed."""
        if self.bound <= 0:
            return False
        entry = self.entries.get(key)
        if entry is not None:
            entry[1] = self.counter
            self.counter += 1
            return True
        if stem is not None:
            self.entries[key] = [stem, self.counter]
            self.counter += 1
            self.trim()
        return False

    def trim(self):
        if len(self.entries) < self.bound:
            return
        eightfold = self.bound * 8
        window = abs(eightfold) // 10 * (1 if eightfold >= 0 else -1)
        lowest = self.counter - window
        self.entries = {key: entry for key, entry in self.entries.items() if entry[1] > lowest}

    def set_bound(self, bound):
        self.bound = bound
        if bound == 0:
            self.entries, self.counter = {}, 0
        else:
            self.trim()

    def rows(self):
        """The entries as (key, stem, last use), in order."""
        return [(key, *entry) for key, entry in self.entries.items()]


def rows_of(cache):
    """A real cache's entries as (key, stem, last use), in order."""
    return [(key, *entry) for key, entry in cache.items()]
