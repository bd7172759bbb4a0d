// Preparing the Davuzod class during the module's exec step.
#pragma once

#include <Python.h>

namespace davuzod {

// Readies the class, documents its __init__ and publishes it as
// Davuzod.Davuzod. 0, or -1 with an exception set.
int prepare_stemmer_type() noexcept;

// Stores an attribute in a class's own dictionary, immutable classes included,
// and runs the value's __set_name__. 0, or non-zero with an exception set.
int set_class_attribute(PyTypeObject* type, PyObject* name, PyObject* value) noexcept;

}  // namespace davuzod
