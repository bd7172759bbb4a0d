// WordTable: prepared word (its UTF-8 bytes) -> what the analysis gives for it.
#pragma once

#include <Python.h>

#include <cstdint>

namespace lexvale {

inline constexpr Py_ssize_t inline_key_size = 16;

// One slot. A hit reads it (and marks it used) and allocates nothing; a miss
// allocates the key when it is longer than the slot holds.
struct WordEntry {
    Py_hash_t hash;      // of the key; meaningless when value is null
    PyObject* value;     // strong; null: an empty slot
    union {
        char* heap;      // PyMem-owned copy of a longer key
        char bytes[inline_key_size];
    } key;
    std::int32_t length;
    bool stop;           // dropped from running text (stem_words still gives value)
    bool permanent;      // a setting's word: never forgotten when the table is full
    bool used;           // found since the table was last full
    // What one call of the vectorizers' counting made of this word's result
    // (its column, see counting.cpp): good while `mark` is that call's.
    std::uint32_t mark;
    std::uint32_t column;

    const char* key_data() const noexcept { return length > inline_key_size ? key.heap : key.bytes; }
};

// Open addressing with linear probing, kept at most half full. Words that
// settings name are permanent; stems of other words are remembered up to
// `bound` of them. When a new one would pass the bound, those not found since
// the last time go, and if that frees too little, all of them (the clock
// algorithm's second chance, in one sweep). Lives inside a Python object: no
// constructor runs, and the allocator's zeroes are an empty table.
struct WordTable {
    WordEntry* slots;      // PyMem-owned, `capacity` of them
    std::size_t capacity;  // a power of two, or 0
    std::size_t used;
    std::size_t remembered;  // entries that are not permanent
    Py_ssize_t bound;        // remembered entries at most; 0 or less: none

    // The entry for `key`, marked used, or null.
    WordEntry* find(const char* key, Py_ssize_t length, Py_hash_t hash) noexcept;

    // Stores a new reference to `value` for `key` (absent from the table).
    // False with MemoryError set when memory runs out; the table is unchanged.
    bool insert(const char* key, Py_ssize_t length, Py_hash_t hash, PyObject* value, bool stop,
                bool permanent) noexcept;

    // Whether a stem for a word that is not a setting's should be remembered.
    bool remembers() const noexcept { return bound > 0; }

    void clear() noexcept;

    // Forgets every entry's mark.
    void clear_marks() noexcept;
};

Py_hash_t hash_word(const char* key, Py_ssize_t length) noexcept;

}  // namespace lexvale
