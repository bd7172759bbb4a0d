// Word stemming: stemWord and stemWords, through the cache or straight to libstemmer.
#include <libstemmer.h>

#include <cstdint>
#include <limits>

#include "../binding/binder.h"
#include "../binding/ref.h"
#include "../binding/signals.h"
#include "ascii_key.h"
#include "interpreter_internals.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

const char stem_word_doc[] =
    "Stem a word.\n"
    "\n"
    "        This takes a single argument, ``word``, which should either be a UTF-8\n"
    "        encoded string, or a unicode object.\n"
    "\n"
    "        The result is the stemmed form of the word.  If the word supplied\n"
    "        was a unicode object, the result will be a unicode object: if the\n"
    "        word supplied was a string, the result will be a UTF-8 encoded\n"
    "        string.\n"
    "\n"
    "        ";

const char stem_words_doc[] =
    "Stem a list of words.\n"
    "\n"
    "        This takes a single argument, ``words``, which must be a sequence,\n"
    "        iterator, generator or similar.\n"
    "\n"
    "        The entries in ``words`` should either be UTF-8 encoded strings, or a\n"
    "        unicode objects.\n"
    "\n"
    "        The result is a list of the stemmed forms of the words.  If the\n"
    "        word supplied was a unicode object, the stemmed form will be a\n"
    "        unicode object: if the word supplied was a string, the stemmed form\n"
    "        will be a UTF-8 encoded string.\n"
    "\n"
    "        ";

namespace {

constexpr PyObject** stem_word_param_names[] = {&module_statics.text.word, nullptr};
constexpr ParamTable stem_word_params{"stemWord", stem_word_param_names, 1, 1};

constexpr PyObject** stem_words_param_names[] = {&module_statics.text.words, nullptr};
constexpr ParamTable stem_words_params{"stemWords", stem_words_param_names, 1, 1};

// libstemmer takes the word's size as an int.
constexpr Py_ssize_t max_word_size = std::numeric_limits<int>::max();

[[gnu::cold]] void raise_no_handle() noexcept {
    PyErr_SetObject(PyExc_RuntimeError, text().not_initialised);
}

[[gnu::cold]] void raise_word_too_long(Py_ssize_t size) noexcept {
    PyErr_Format(PyExc_OverflowError,
                 "word of %zd bytes is too long to stem: libstemmer takes at most %zd bytes", size,
                 max_word_size);
}

// ---- the core: one word's bytes through libstemmer

Ref stem_bytes(StemmerObject* self, const char* data, Py_ssize_t size) noexcept {
    if (self->cobj == nullptr) {
        raise_no_handle();
        return {};
    }
    if (size > max_word_size) {
        raise_word_too_long(size);
        return {};
    }
    // The stem lives in the handle until its next use; it is decoded at once.
    const sb_symbol* stem =
        sb_stemmer_stem(self->cobj, reinterpret_cast<const sb_symbol*>(data), static_cast<int>(size));
    if (stem == nullptr) {
        PyErr_NoMemory();
        return {};
    }
    Py_ssize_t length = sb_stemmer_length(self->cobj);
    return Ref::steal(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(stem), length, nullptr));
}

// The size handed on is the object's real buffer size, whatever a subclass's __len__ says.
Ref stem_encoded(StemmerObject* self, PyObject* word) noexcept {
    if (PyByteArray_Check(word)) {
        return stem_bytes(self, PyByteArray_AsString(word), PyByteArray_GET_SIZE(word));
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(word, &data, &size) < 0) {
        return {};
    }
    return stem_bytes(self, data, size);
}

// ---- the cache's side

// The counter's next value. It is made before the current value is handed to
// an entry, so that running out of memory leaves entry and counter as they
// were: no two entries ever share a last use, and none reaches the counter.
Ref next_counter(PyObject* counter) noexcept {
    if (PyLong_CheckExact(counter) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(counter))) {
        return Ref::steal(
            PyLong_FromSsize_t(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(counter)) + 1));
    }
    return Ref::steal(PyNumber_Add(counter, module_statics.one));
}

// A hit: the entry's stem, with the counter written into the entry and then advanced.
Ref take_hit(StemmerObject* self, PyObject* entry) noexcept {
    if (PyList_CheckExact(entry) && PyList_GET_SIZE(entry) == 2) {
        Ref current = Ref::borrow(self->counter);
        Ref next = next_counter(current.get());
        if (!next) {
            return {};
        }
        Ref stem = Ref::borrow(PyList_GET_ITEM(entry, 0));
        Ref previous_use = Ref::steal(PyList_GET_ITEM(entry, 1));
        PyList_SET_ITEM(entry, 1, current.release());
        replace_field(self->counter, std::move(next));
        return stem;
    }
    // Any other entry is read and written by subscription, which may run
    // Python code; the counter is read at each step as it then stands.
    Ref stem = Ref::steal(PyObject_GetItem(entry, module_statics.zero));
    if (!stem) {
        return {};
    }
    Ref current = Ref::borrow(self->counter);
    Ref next = next_counter(current.get());
    if (!next || PyObject_SetItem(entry, module_statics.one, current.get()) < 0) {
        return {};
    }
    if (self->counter != current.get() && !(next = next_counter(self->counter))) {
        return {};
    }
    replace_field(self->counter, std::move(next));
    return stem;
}

// Set once a cache anywhere stores a key that is not exactly bytes (a str
// subclass's encode may return anything hashable): such a key's __eq__ is
// Python code that may run while a later miss is served. Process-wide, under
// the global lock, like the module's other statics.
bool caches_hold_other_keys = false;

// A miss: stem the word, store its entry, advance the counter, let the cache trim itself.
Ref stem_and_store(PyObject* self, PyObject* word) noexcept {
    StemmerObject* stemmer = as_stemmer(self);
    Ref stem = stem_encoded(stemmer, word);
    if (!stem) {
        return {};
    }
    Ref current = Ref::borrow(stemmer->counter);
    Ref next = next_counter(current.get());
    Ref entry = Ref::steal(PyList_New(2));
    if (!next || !entry) {
        return {};
    }
    PyList_SET_ITEM(entry.get(), 0, stem.new_reference());
    PyList_SET_ITEM(entry.get(), 1, current.new_reference());
    // The entry stays tracked by the collector: Python code can reach it
    // (gc.get_referents) and make it part of a cycle.
    if (!PyBytes_CheckExact(word)) {
        caches_hold_other_keys = true;
    }
    Ref cache = Ref::borrow(stemmer->cache);  // the store may run a key's __eq__
    if (PyObject_SetItem(cache.get(), word, entry.get()) < 0) {
        return {};
    }
    if (stemmer->counter != current.get() && !(next = next_counter(stemmer->counter))) {
        return {};  // the store ran code that changed the counter, and its successor could not be made
    }
    replace_field(stemmer->counter, std::move(next));
    if (call_cache_trim(self) < 0) {
        return {};
    }
    return stem;
}

// A miss reported by the lookup's KeyError: handled while the miss is served.
Ref stem_miss_handling(PyObject* self, PyObject* word, Ref key_error) noexcept {
    HandledExceptionScope handling(key_error.get());
    return stem_and_store(self, word);
}

// The exact class serves a miss with no KeyError when nothing can see it: the
// key is exactly bytes and no cache holds keys whose comparison is Python
// code. Then only an error raised while serving the miss can show it, as its
// context; the KeyError is made for that error, chained as the interpreter
// chains an exception raised while another is handled.
[[gnu::cold]] void chain_lookup_key_error(PyObject* word) noexcept {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        return;  // the interpreter raises its MemoryError without a context
    }
    Ref raised = Ref::steal(PyErr_GetRaisedException());
    Ref key_error = Ref::steal(PyObject_CallOneArg(PyExc_KeyError, word));
    if (key_error) {
        Ref handled = Ref::steal(PyErr_GetHandledException());
        if (handled && handled.get() != Py_None) {
            PyException_SetContext(key_error.get(), handled.release());
        }
        PyException_SetContext(raised.get(), key_error.release());
    } else {
        PyErr_Clear();  // out of memory: the error stands without its context
    }
    PyErr_SetRaisedException(raised.release());
}

Ref stem_miss_unseen(PyObject* self, PyObject* word) noexcept {
    Ref stem = stem_and_store(self, word);
    if (!stem) {
        chain_lookup_key_error(word);
    }
    return stem;
}

// The KeyError a dictionary raises for a missing key: the key is its only argument.
[[gnu::cold]] void raise_missing_key(PyObject* word) noexcept {
    Ref key_error = Ref::steal(PyObject_CallOneArg(PyExc_KeyError, word));
    if (key_error) {
        PyErr_SetObject(PyExc_KeyError, key_error.get());
    }
}

Ref stem_cached(PyObject* self, PyObject* word) noexcept {
    StemmerObject* stemmer = as_stemmer(self);
    Ref cache = Ref::borrow(stemmer->cache);
    Ref entry;
    if (is_exact_stemmer(self) && PyDict_CheckExact(cache.get())) {
        PyObject* found = nullptr;
        int status = PyDict_GetItemRef(cache.get(), word, &found);
        if (status == 0) {
            if (PyBytes_CheckExact(word) && !caches_hold_other_keys) {
                return stem_miss_unseen(self, word);
            }
            raise_missing_key(word);
        }
        entry = Ref::steal(found);
    } else {
        entry = Ref::steal(PyObject_GetItem(cache.get(), word));
    }
    if (entry) {
        Ref stem = take_hit(stemmer, entry.get());
        if (stem) {
            return stem;
        }
    }
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) {
        return {};
    }
    return stem_miss_handling(self, word, Ref::steal(PyErr_GetRaisedException()));
}

// ---- the methods

Ref encode_stem(PyObject* stem) noexcept {
    if (PyUnicode_CheckExact(stem)) {
        return Ref::steal(PyUnicode_AsUTF8String(stem));
    }
    return Ref::steal(PyObject_CallMethodOneArg(stem, text().encode, text().utf_8));
}

PyObject* stem_word(PyObject* self, PyObject* word) noexcept {
    StemmerObject* stemmer = as_stemmer(self);
    const bool was_unicode = PyUnicode_Check(word);
    Ref encoded;
    if (!was_unicode) {
        encoded = Ref::borrow(word);
    } else if (!PyUnicode_CheckExact(word)) {
        encoded = Ref::steal(PyObject_CallMethodOneArg(word, text().encode, text().utf_8));
    } else if (PyUnicode_IS_ASCII(word)) {
        // An ASCII str is its own UTF-8: stemmed in place when no cache key is needed.
        if (stemmer->max_cache_size <= 0) {
            return stem_bytes(stemmer, static_cast<const char*>(PyUnicode_DATA(word)), PyUnicode_GET_LENGTH(word))
                .release();
        }
        encoded = ascii_key(word);
    } else {
        encoded = Ref::steal(PyUnicode_AsUTF8String(word));
    }
    if (!encoded) {
        return nullptr;
    }
    // A str subclass's encode may have changed the bound; it is read afterwards.
    Ref stem = stemmer->max_cache_size >= 1 ? stem_cached(self, encoded.get())
                                            : stem_encoded(stemmer, encoded.get());
    if (!stem || was_unicode) {
        return stem.release();
    }
    return encode_stem(stem.get()).release();
}

// stemWords runs no Python code of its own over plain words, so it looks for
// a signal (Ctrl-C) itself, between two words. A handler that raises ends the
// call with its exception, as a failing word does.
bool interrupted(Py_ssize_t words_done) noexcept {
    return words_done % items_between_signal_checks == 0 && PyErr_CheckSignals() < 0;
}

// The exact class over an exact list: the result's slots are allocated once,
// and its length is kept at the part filled so far. An error anywhere in the
// list (a word that fails, or a signal handler that raises) then releases only
// the stems made: the slots never written, for a long list pages the system
// has not yet handed over, are never read. The list stays out of the
// collector's sight until it is complete, since stemming a word may run
// Python code (a str subclass's encode) that could otherwise find and change it.
PyObject* stem_list(PyObject* self, PyObject* words) noexcept {
    Py_ssize_t expected = PyList_GET_SIZE(words);
    Ref stems = Ref::steal(PyList_New(expected));
    if (!stems) {
        return nullptr;
    }
    PyObject_GC_UnTrack(stems.get());
    Py_SET_SIZE(stems.get(), 0);
    // The length is read again at every step: stemming may change the list.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(words); ++i) {
        Ref word = Ref::borrow(PyList_GET_ITEM(words, i));
        Ref stem = Ref::steal(stem_word(self, word.get()));
        if (!stem) {
            return nullptr;
        }
        if (i < expected) {
            PyList_SET_ITEM(stems.get(), i, stem.release());
            Py_SET_SIZE(stems.get(), i + 1);
        } else if (PyList_Append(stems.get(), stem.get()) < 0) {
            return nullptr;
        }
        // A handler that returns may have changed the list: its length is read again.
        if (interrupted(i + 1)) {
            return nullptr;
        }
    }
    PyObject_GC_Track(stems.get());
    return stems.release();
}

PyObject* stem_words(PyObject* self, PyObject* words) noexcept {
    const bool exact = is_exact_stemmer(self);
    if (exact && PyList_CheckExact(words)) {
        return stem_list(self, words);
    }
    Ref stems = Ref::steal(PyList_New(0));
    if (!stems) {
        return nullptr;
    }
    auto stem_into = [&](PyObject* word) noexcept -> bool {
        Ref stem = Ref::steal(exact ? stem_word(self, word)
                                    : PyObject_CallMethodOneArg(self, text().stem_word, word));
        return stem && PyList_Append(stems.get(), stem.get()) == 0 &&
               !interrupted(PyList_GET_SIZE(stems.get()));
    };
    if (PyList_CheckExact(words)) {
        // The length is read again at every step: stemming may run code that changes the list.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(words); ++i) {
            Ref word = Ref::borrow(PyList_GET_ITEM(words, i));
            if (!stem_into(word.get())) {
                return nullptr;
            }
        }
    } else if (PyTuple_CheckExact(words)) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(words); ++i) {
            if (!stem_into(PyTuple_GET_ITEM(words, i))) {
                return nullptr;
            }
        }
    } else {
        Ref iterator = Ref::steal(PyObject_GetIter(words));
        if (!iterator) {
            return nullptr;
        }
        for (;;) {
            PyObject* next = nullptr;
            int status = PyIter_NextItem(iterator.get(), &next);
            if (status < 0) {
                return nullptr;
            }
            if (status == 0) {
                break;
            }
            Ref word = Ref::steal(next);
            if (!stem_into(word.get())) {
                return nullptr;
            }
        }
    }
    return stems.release();
}

}  // namespace

PyObject* stem_word_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept {
    if (nargs == 1 && kwnames == nullptr) {
        return stem_word(self, args[0]);
    }
    Ref slots[max_params];
    if (!bind_vector(stem_word_params, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return stem_word(self, slots[0].get());
}

PyObject* stem_words_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
    if (nargs == 1 && kwnames == nullptr) {
        return stem_words(self, args[0]);
    }
    Ref slots[max_params];
    if (!bind_vector(stem_words_params, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return stem_words(self, slots[0].get());
}

}  // namespace davuzod
