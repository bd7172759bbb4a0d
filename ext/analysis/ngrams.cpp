// word_ngrams(stems, min_n, max_n): the word n-grams of a list of stems, as
// the analyzer gives them (the stems themselves when min_n is 1, then each
// n-gram joined by a space, shortest first). Each n-gram is written straight
// into a str of its final size: no slice, no list and no join per n-gram.
#include "ngrams.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "../binding/ref.h"
#include "../binding/signals.h"

namespace lexvale {

using davuzod::Ref;

namespace {

// The n stems from `stems` on, joined by spaces, in a new str.
Ref joined(PyObject* const* stems, Py_ssize_t n) noexcept {
    Py_ssize_t length = n - 1;
    Py_UCS4 max_char = ' ';
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyUnicode_GET_LENGTH(stems[i]) > PY_SSIZE_T_MAX - length) {
            PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python string");
            return Ref();
        }
        length += PyUnicode_GET_LENGTH(stems[i]);
        max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(stems[i]));
    }
    Ref gram = Ref::steal(PyUnicode_New(length, max_char));
    if (!gram) {
        return gram;
    }
    int kind = PyUnicode_KIND(gram.get());
    auto* out = static_cast<char*>(PyUnicode_DATA(gram.get()));
    Py_ssize_t at = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i > 0) {
            PyUnicode_WRITE(kind, out, at++, ' ');
        }
        PyObject* stem = stems[i];
        Py_ssize_t stem_length = PyUnicode_GET_LENGTH(stem);
        if (PyUnicode_KIND(stem) == kind) {
            std::memcpy(out + at * kind, PyUnicode_DATA(stem), static_cast<size_t>(stem_length) * kind);
        } else if (PyUnicode_CopyCharacters(gram.get(), at, stem, 0, stem_length) < 0) {
            return Ref();
        }
        at += stem_length;
    }
    return gram;
}

}  // namespace

PyObject* word_ngrams(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 3 || !PyList_CheckExact(args[0])) {
        PyErr_SetString(PyExc_TypeError, "word_ngrams takes a list of str, min_n and max_n");
        return nullptr;
    }
    Py_ssize_t min_n = PyLong_AsSsize_t(args[1]);
    if (min_n == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    Py_ssize_t max_n = PyLong_AsSsize_t(args[2]);
    if (max_n == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    if (min_n < 1 || max_n < min_n) {
        PyErr_SetString(PyExc_ValueError, "word_ngrams needs 1 <= min_n <= max_n");
        return nullptr;
    }
    // The items in a tuple, which nothing the loop runs (a signal handler,
    // which may find it through the collector) can change or empty.
    Ref stems = Ref::steal(PyList_AsTuple(args[0]));
    if (!stems) {
        return nullptr;
    }
    Py_ssize_t count = PyTuple_GET_SIZE(stems.get());
    PyObject* const* items = PySequence_Fast_ITEMS(stems.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!PyUnicode_Check(items[i])) {
            PyErr_Format(PyExc_TypeError, "word_ngrams takes a list of str, not of %T", items[i]);
            return nullptr;
        }
    }
    Py_ssize_t longest = std::min(max_n, count);
    Py_ssize_t total = min_n == 1 ? count : 0;
    for (Py_ssize_t n = std::max<Py_ssize_t>(min_n, 2); n <= longest; ++n) {
        total += count - n + 1;
    }
    // Made once at its final size, its length kept at the part filled, and
    // out of the collector's sight until complete (a signal handler runs
    // Python code), as the pass's own lists are.
    Ref grams = Ref::steal(PyList_New(total));
    if (!grams) {
        return nullptr;
    }
    PyObject_GC_UnTrack(grams.get());
    Py_SET_SIZE(grams.get(), 0);
    Py_ssize_t at = 0;
    auto put = [&](Ref gram) {
        PyList_SET_ITEM(grams.get(), at, gram.release());
        Py_SET_SIZE(grams.get(), ++at);
    };
    if (min_n == 1) {
        for (Py_ssize_t i = 0; i < count; ++i) {
            put(Ref::borrow(items[i]));
        }
    }
    for (Py_ssize_t n = std::max<Py_ssize_t>(min_n, 2); n <= longest; ++n) {
        for (Py_ssize_t first = 0; first + n <= count; ++first) {
            if (at % davuzod::items_between_signal_checks == 0 && PyErr_CheckSignals() < 0) {
                return nullptr;
            }
            Ref gram = joined(items + first, n);
            if (!gram) {
                return nullptr;
            }
            put(std::move(gram));
        }
    }
    PyObject_GC_Track(grams.get());
    return grams.release();
}

}  // namespace lexvale
