// Parameter tables: what the binder knows of each callable.
#pragma once

#include <Python.h>

namespace davuzod {

// Every parameter is positional-or-keyword; the required ones lead.
struct ParamTable {
    const char* name;          // the callable's short name, used in messages
    PyObject** const* params;  // null-terminated; each points at an interned constant string
    Py_ssize_t count;
    Py_ssize_t required;

    PyObject* param(Py_ssize_t i) const noexcept { return *params[i]; }
    bool exact() const noexcept { return required == count; }
};

// The most parameters any callable of the module has.
inline constexpr Py_ssize_t max_params = 2;

}  // namespace davuzod
