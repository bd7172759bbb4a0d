// The cache key of an ASCII word, made without a new bytes object on most calls.
#pragma once

#include <Python.h>

#include "../binding/ref.h"

namespace davuzod {

// A bytes object holding the UTF-8 of `word`, an exact ASCII str: its cache
// key. New reference, or empty with an exception set.
Ref ascii_key(PyObject* word) noexcept;

}  // namespace davuzod
