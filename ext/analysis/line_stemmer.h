// The LineStemmer type's PyType_Spec, for the module to create it from.
#pragma once

#include <Python.h>

namespace lexvale {

extern PyType_Spec line_stemmer_spec;

}  // namespace lexvale
