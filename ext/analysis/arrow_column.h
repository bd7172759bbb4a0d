// Arrow columns in and out: the Pass method and the module's export functions.
#pragma once

#include <Python.h>

namespace lexvale {

// arrow(source, fallback, analyse, /) -> capsule of the stems' column
PyObject* pass_arrow(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept;
extern const char pass_arrow_doc[];

// arrow_export_array(column, /) -> (arrow_schema, arrow_array) capsules
PyObject* arrow_export_array(PyObject* module, PyObject* capsule) noexcept;
// arrow_export_stream(column, /) -> arrow_array_stream capsule
PyObject* arrow_export_stream(PyObject* module, PyObject* capsule) noexcept;
// arrow_length(column, /) -> its number of rows
PyObject* arrow_length(PyObject* module, PyObject* capsule) noexcept;

}  // namespace lexvale
