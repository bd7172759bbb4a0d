// as_c_int: a Python object to the signed 32-bit cache bound.
#pragma once

#include <Python.h>

#include <cstdint>

namespace davuzod {

// Returns the value, or -1 with an exception set; -1 is also a valid value,
// so a caller tests PyErr_Occurred() when it receives it.
std::int32_t as_c_int(PyObject* obj) noexcept;

}  // namespace davuzod
