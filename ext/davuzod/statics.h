// module_statics: the one process-wide record of the module, and its constant objects.
#pragma once

#include <Python.h>

#include <cstdint>

// The distribution's version, from pyproject.toml by way of the build.
#ifndef DAVUZOD_VERSION
#error "DAVUZOD_VERSION is not defined: the build passes it (see CMakeLists.txt)"
#endif

namespace davuzod {

// Every text the module turns into a Python object, as (field, text).
// Keyword names among them double as the binder's parameter names.
#define DAVUZOD_TEXT_CONSTANTS(X)                                     \
    X(aliases, "aliases")                                             \
    X(algorithm, "algorithm")                                         \
    X(maxCacheSize, "maxCacheSize")                                   \
    X(word, "word")                                                   \
    X(words, "words")                                                 \
    X(state, "state")                                                 \
    X(encode, "encode")                                               \
    X(decode, "decode")                                               \
    X(utf_8, "utf-8")                                                 \
    X(ascii, "ascii")                                                 \
    X(dunder_docformat, "__docformat__")                              \
    X(dunder_test, "__test__")                                        \
    X(dunder_init, "__init__")                                        \
    X(dunder_set_name, "__set_name__")                                \
    X(purge_cache, "_Stemmer__purgeCache")                            \
    X(stem_word, "stemWord")                                          \
    X(stem_words, "stemWords")                                        \
    X(algorithms, "algorithms")                                       \
    X(version, "version")                                             \
    X(module_name, "Davuzod")                                         \
    X(qualname_purge_cache, "Davuzod.__purgeCache")                   \
    X(qualname_stem_word, "Davuzod.stemWord")                         \
    X(qualname_stem_words, "Davuzod.stemWords")                       \
    X(restructuredtext, "restructuredtext en")                        \
    X(version_text, DAVUZOD_VERSION)                                  \
    X(not_found_format, "Stemming algorithm '%s' not found")          \
    X(not_picklable, "self.cobj cannot be converted to a Python object for pickling") \
    X(changed_size, "dictionary changed size during iteration")       \
    X(dunder_del, "__del__")                                          \
    X(too_large, "value too large to convert to int")                 \
    X(integer_required, "an integer is required")                     \
    X(not_initialised,                                                \
      "Davuzod object is not initialised: it has no stemming algorithm " \
      "(construct it with an algorithm name, or call __init__ again)")

struct TextConstants {
#define DAVUZOD_DECLARE_TEXT(field, text) PyObject* field;
    DAVUZOD_TEXT_CONSTANTS(DAVUZOD_DECLARE_TEXT)
#undef DAVUZOD_DECLARE_TEXT
};

struct ModuleStatics {
    std::int64_t first_interpreter_id = -1;
    PyObject* module_object = nullptr;  // strong; set by the exec step, kept for the process
    PyObject* module_dict = nullptr;    // strong

    bool constants_created = false;
    TextConstants text{};          // strong, interned, hashed
    PyObject* zero = nullptr;      // strong: the int 0
    PyObject* one = nullptr;       // strong: the int 1
    PyObject* false_tuple = nullptr;  // strong: (False,), the defaults of algorithms
};

// Written only under the interpreter's global lock; the module runs in one
// interpreter per process, so one record serves it.
extern ModuleStatics module_statics;

inline const TextConstants& text() noexcept { return module_statics.text; }

// Creates the text constants and the integers 0 and 1 once per process.
int create_constants() noexcept;

}  // namespace davuzod
