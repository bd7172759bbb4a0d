// The module's function-object type: module functions and the class's methods.
#pragma once

#include <Python.h>

namespace davuzod {

// A callable body. `self` is the instance for a method and null for a module
// function; the rest is the call in vectorcall form, instance removed.
using Entry = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept;

struct FunctionSpec {
    Entry entry;
    PyObject* name;                // interned constant
    PyObject* qualname;            // interned constant
    const char* doc;               // null: no docstring
    const char* text_signature;    // for inspect.signature
    PyTypeObject* instance_type;   // the class of a method; null for a module function
};

// A new function object, or null with an exception set.
PyObject* function_new(const FunctionSpec& spec, PyObject* module_name, PyObject* globals,
                       PyObject* defaults) noexcept;

}  // namespace davuzod
