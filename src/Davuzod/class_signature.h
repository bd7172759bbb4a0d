// The class's call signature, for inspect.signature(Davuzod.Davuzod).
#pragma once

#include <Python.h>

namespace davuzod {

// A descriptor for the class's __signature__: it builds the inspect.Signature
// of Davuzod(algorithm, maxCacheSize=10000) on first use. New reference, or
// null with an exception set.
PyObject* class_signature_new() noexcept;

}  // namespace davuzod
