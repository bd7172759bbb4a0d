// The argument binder shared by every callable of the module.
#pragma once

#include <Python.h>

#include "params.h"
#include "ref.h"

namespace davuzod {

// Each binder returns true with `slots` filled (optional parameters left
// empty for the caller's default), or false with a TypeError raised and no
// slot filled. `slots` has table.count entries.

// Vectorcall form: P values in `args`, then one value per name in `kwnames`.
bool bind_vector(const ParamTable& table, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, Ref* slots) noexcept;

// Tuple-and-dict form, as the construction protocol hands it to __init__.
bool bind_dict(const ParamTable& table, PyObject* args, PyObject* kwargs, Ref* slots) noexcept;

// For callables without parameters: positional count first, then keywords.
bool bind_nothing(const char* name, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// version's own entry check: keywords first, then positional count.
bool bind_no_arguments(const char* name, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// The method front's refusal of a call without any positional argument.
void raise_needs_argument(const char* name) noexcept;

}  // namespace davuzod
