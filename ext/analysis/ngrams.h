// word_ngrams: the module function that joins stems into word n-grams.
#pragma once

#include <Python.h>

namespace lexvale {

// word_ngrams(stems, min_n, max_n, /), a METH_FASTCALL function.
PyObject* word_ngrams(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

inline constexpr char word_ngrams_doc[] =
    "word_ngrams(stems, min_n, max_n, /)\n--\n\n"
    "The word n-grams of a list of stems: the stems when min_n is 1, then each\n"
    "n-gram from min_n (at least 2) to max_n, joined by a space, shortest first.";

}  // namespace lexvale
