// The Pass type's specification, for the module to create it from.
#pragma once

#include <Python.h>

namespace lexvale {

extern PyType_Spec pass_spec;

}  // namespace lexvale
