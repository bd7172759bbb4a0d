// Reused cache keys: a hit needs its key only for the lookup, so the same bytes
// object can serve the next word of its length.
#include "ascii_key.h"

#include <cstring>

#include "interpreter_internals.h"

namespace davuzod {

namespace {

// Keys of 2 to 32 bytes are reused; shorter ones are the interpreter's shared
// single-byte objects, longer ones are rare.
constexpr Py_ssize_t shortest_reused = 2;
constexpr Py_ssize_t longest_reused = 32;

// spare_keys[n] holds the last key of n bytes made here (strong), or null.
// Process-wide like the rest of the module's statics, under the global lock.
PyObject* spare_keys[longest_reused + 1];

}  // namespace

Ref ascii_key(PyObject* word) noexcept {
    const char* data = static_cast<const char*>(PyUnicode_DATA(word));
    Py_ssize_t length = PyUnicode_GET_LENGTH(word);
    // A reused key must be given the hash of its new contents.
    if (!can_set_bytes_hash || length < shortest_reused || length > longest_reused) {
        return Ref::steal(PyBytes_FromStringAndSize(data, length));
    }
    Py_hash_t hash = PyObject_Hash(word);
    if (hash == -1) {
        return {};
    }
    PyObject*& spare = spare_keys[length];
    // Held by nothing but this table: no one can see it change. A key that a
    // miss stored in a cache, or that Python code kept, is never rewritten.
    if (spare != nullptr && Py_REFCNT(spare) == 1) {
        std::memcpy(PyBytes_AS_STRING(spare), data, static_cast<size_t>(length));
        set_bytes_hash(spare, hash);
        return Ref::borrow(spare);
    }
    Ref fresh = Ref::steal(PyBytes_FromStringAndSize(data, length));
    if (fresh) {
        set_bytes_hash(fresh.get(), hash);
        replace_field(spare, Ref::borrow(fresh.get()));
    }
    return fresh;
}

}  // namespace davuzod
