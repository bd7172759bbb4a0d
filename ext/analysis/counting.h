// Counting a corpus's words straight into the arrays of a sparse matrix: the
// Pass methods behind lexvale's vectorizers.
#pragma once

#include <Python.h>

namespace lexvale {

// count(documents, vocabulary, fixed, fallback, analyse, /)
PyObject* pass_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept;
extern const char pass_count_doc[];

// hash_count(documents, n_features, alternate_sign, fallback, analyse, /)
PyObject* pass_hash_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept;
extern const char pass_hash_count_doc[];

}  // namespace lexvale
