// The Davuzod object and the entries that the class's files share.
#pragma once

#include <Python.h>

#include <cstdint>

struct sb_stemmer;

namespace davuzod {

struct StemmerObject {
    PyObject_HEAD
    sb_stemmer* cobj;             // owned libstemmer handle; null until __init__ opens one
    PyObject* cache;              // strong: None, or the dict from encoded word to [stem, last use]
    PyObject* counter;            // strong: None, or the int use counter
    std::int32_t max_cache_size;  // the cache bound; 0 or less switches caching off
};

inline StemmerObject* as_stemmer(PyObject* self) noexcept {
    return reinterpret_cast<StemmerObject*>(self);
}

extern PyTypeObject stemmer_type;

// The class's own methods can be called directly, without a name lookup,
// only where no subclass can have replaced them.
inline bool is_exact_stemmer(PyObject* self) noexcept {
    return Py_IS_TYPE(self, &stemmer_type);
}

// cache.cpp
extern PyGetSetDef cache_getset[];
int cache_trim(StemmerObject* self) noexcept;
// Runs the trimming method as the object's class defines it; 0, or -1 with an exception set.
int call_cache_trim(PyObject* self) noexcept;
PyObject* purge_cache_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept;

// stemming.cpp
PyObject* stem_word_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept;
PyObject* stem_words_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept;

// Docstrings that the exec step gives the function objects.
extern const char stem_word_doc[];
extern const char stem_words_doc[];
extern const char init_doc[];

}  // namespace davuzod
