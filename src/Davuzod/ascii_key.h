// The cache key of an ASCII word, made without a new bytes object on most calls.
#pragma once

#include <Python.h>

#include "../binding/ref.h"

namespace davuzod {

// A bytes object holding `data`: the UTF-8 cache key of an ASCII str. New
// reference, or empty with an exception set.
Ref ascii_key(const char* data, Py_ssize_t length) noexcept;

}  // namespace davuzod
