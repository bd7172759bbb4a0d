// The analysis pass's table of prepared words.
#include "word_table.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace lexvale {

namespace {

constexpr std::size_t smallest_capacity = 64;

std::size_t slot_of(Py_hash_t hash, std::size_t capacity) noexcept {
    return static_cast<std::size_t>(hash) & (capacity - 1);
}

void release_entry(WordEntry& entry) noexcept {
    if (entry.length > inline_key_size) {
        PyMem_Free(entry.key.heap);
    }
    PyObject* value = std::exchange(entry.value, nullptr);
    Py_XDECREF(value);
}

// Moves the entries that `keep` accepts into a fresh array of `capacity`
// slots, and releases the others. False (MemoryError) leaves the table as it was.
template <typename Keep>
bool rebuild(WordTable& table, std::size_t capacity, Keep keep) noexcept {
    auto* fresh = static_cast<WordEntry*>(PyMem_Calloc(capacity, sizeof(WordEntry)));
    if (fresh == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    WordEntry* old = std::exchange(table.slots, fresh);
    std::size_t old_capacity = std::exchange(table.capacity, capacity);
    table.used = 0;
    table.remembered = 0;
    for (std::size_t i = 0; i < old_capacity; ++i) {
        WordEntry& entry = old[i];
        if (entry.value == nullptr) {
            continue;
        }
        if (!keep(entry)) {
            release_entry(entry);
            continue;
        }
        std::size_t slot = slot_of(entry.hash, capacity);
        while (fresh[slot].value != nullptr) {
            slot = (slot + 1) & (capacity - 1);
        }
        fresh[slot] = entry;
        ++table.used;
        table.remembered += entry.permanent ? 0 : 1;
    }
    PyMem_Free(old);
    return true;
}

}  // namespace

Py_hash_t hash_word(const char* key, Py_ssize_t length) noexcept {
    // The interpreter's randomised hash of bytes: text from outside cannot be
    // made to collide.
    return Py_HashBuffer(key, length);
}

WordEntry* WordTable::find(const char* key, Py_ssize_t length, Py_hash_t hash) noexcept {
    if (capacity == 0) {
        return nullptr;
    }
    for (std::size_t slot = slot_of(hash, capacity);; slot = (slot + 1) & (capacity - 1)) {
        WordEntry& entry = slots[slot];
        if (entry.value == nullptr) {
            return nullptr;
        }
        if (entry.hash == hash && entry.length == length &&
            std::memcmp(entry.key_data(), key, static_cast<std::size_t>(length)) == 0) {
            entry.used = true;
            return &entry;
        }
    }
}

bool WordTable::insert(const char* key, Py_ssize_t length, Py_hash_t hash, PyObject* value, bool stop,
                       bool permanent) noexcept {
    if (length > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "word too long for the table");
        return false;
    }
    if (!permanent && static_cast<std::size_t>(bound) <= remembered) {
        // Full: the stems found since the last time keep their place, unless
        // they are most of the bound; the settings' words always stay.
        std::size_t found = 0;
        for (std::size_t i = 0; i < capacity; ++i) {
            found += slots[i].value != nullptr && !slots[i].permanent && slots[i].used;
        }
        bool keep_found = 2 * found <= static_cast<std::size_t>(bound);
        if (!rebuild(*this, capacity, [keep_found](WordEntry& entry) {
                bool keep = entry.permanent || (keep_found && entry.used);
                entry.used = false;
                return keep;
            })) {
            return false;
        }
    }
    if (2 * (used + 1) > capacity) {
        std::size_t grown = capacity == 0 ? smallest_capacity : 2 * capacity;
        if (!rebuild(*this, grown, [](WordEntry&) { return true; })) {
            return false;
        }
    }
    WordEntry fresh{};
    if (length > inline_key_size) {
        fresh.key.heap = static_cast<char*>(PyMem_Malloc(static_cast<std::size_t>(length)));
        if (fresh.key.heap == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        std::memcpy(fresh.key.heap, key, static_cast<std::size_t>(length));
    } else {
        std::memcpy(fresh.key.bytes, key, static_cast<std::size_t>(length));
    }
    fresh.hash = hash;
    fresh.value = Py_NewRef(value);
    fresh.length = static_cast<std::int32_t>(length);
    fresh.stop = stop;
    fresh.permanent = permanent;
    std::size_t slot = slot_of(hash, capacity);
    while (slots[slot].value != nullptr) {
        slot = (slot + 1) & (capacity - 1);
    }
    slots[slot] = fresh;
    ++used;
    remembered += permanent ? 0 : 1;
    return true;
}

void WordTable::clear_marks() noexcept {
    for (std::size_t i = 0; i < capacity; ++i) {
        slots[i].mark = 0;
    }
}

void WordTable::clear() noexcept {
    WordEntry* old = std::exchange(slots, nullptr);
    std::size_t old_capacity = std::exchange(capacity, 0);
    used = 0;
    remembered = 0;
    for (std::size_t i = 0; i < old_capacity; ++i) {
        if (old[i].value != nullptr) {
            release_entry(old[i]);
        }
    }
    PyMem_Free(old);
}

}  // namespace lexvale
