// WordTable: prepared word (its UTF-8 bytes) -> what the analysis gives for it.
#pragma once

#include <Python.h>

#include <cstdint>

namespace lexvale {

// One slot. A hit reads it and allocates nothing; a miss allocates the key.
struct WordEntry {
    Py_hash_t hash;      // of the key; meaningless when value is null
    PyObject* value;     // strong; null: an empty slot
    char* key;           // PyMem-owned copy of the word's bytes
    Py_ssize_t length;
    bool stop;           // dropped from running text (stem_words still gives value)
    bool permanent;      // a setting's word: never forgotten when the table is full
};

// Open addressing with linear probing, kept at most half full. Words that
// settings name are permanent; stems of other words are remembered up to
// `bound` of them, and all of those are forgotten at once when a new one
// would pass the bound. Lives inside a Python object: no constructor runs,
// the allocator's zeroes are an empty table.
struct WordTable {
    WordEntry* slots;    // PyMem-owned, `capacity` of them
    std::size_t capacity;  // a power of two, or 0
    std::size_t used;
    std::size_t remembered;  // entries that are not permanent
    Py_ssize_t bound;        // remembered entries at most; 0 or less: none

    // The entry for `key`, or null.
    const WordEntry* find(const char* key, Py_ssize_t length, Py_hash_t hash) const noexcept;

    // Stores a new reference to `value` for `key` (absent from the table).
    // False with MemoryError set when memory runs out; the table is unchanged.
    bool insert(const char* key, Py_ssize_t length, Py_hash_t hash, PyObject* value, bool stop,
                bool permanent) noexcept;

    // Whether a stem for a word that is not a setting's should be remembered.
    bool remembers() const noexcept { return bound > 0; }

    void clear() noexcept;
};

Py_hash_t hash_word(const char* key, Py_ssize_t length) noexcept;

}  // namespace lexvale
