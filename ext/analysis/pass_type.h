// The Pass type's PyType_Spec, for the module to create it from.
#pragma once

#include <Python.h>

namespace lexvale {

extern PyType_Spec pass_spec;

}  // namespace lexvale
