// The module functions algorithms() and version().
#pragma once

#include <Python.h>

namespace davuzod {

PyObject* algorithms_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* version_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

extern const char algorithms_doc[];
extern const char version_doc[];

}  // namespace davuzod
