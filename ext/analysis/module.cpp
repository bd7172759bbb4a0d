// lexvale._analysis: the analyzer's native pass, private to lexvale.
#include <Python.h>

#include <utility>

#include "../binding/ref.h"
#include "arrow_column.h"
#include "line_stemmer.h"
#include "ngrams.h"
#include "pass_type.h"
#include "unicode_tables.h"

namespace lexvale {

using davuzod::Ref;

namespace {

int analysis_exec(PyObject* module) noexcept {
    for (auto [name, spec] : {std::pair{"Pass", &pass_spec}, std::pair{"LineStemmer", &line_stemmer_spec}}) {
        Ref type = Ref::steal(PyType_FromModuleAndSpec(module, spec, nullptr));
        if (!type || PyModule_AddObjectRef(module, name, type.get()) < 0) {
            return -1;
        }
    }
    // The Unicode the character tables were written from: the analyzer uses
    // the pass only when the interpreter's is the same.
    return PyModule_AddStringConstant(module, "UNICODE_VERSION", unicode_version);
}

PyMethodDef analysis_functions[] = {
    {"word_ngrams", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(word_ngrams)), METH_FASTCALL,
     word_ngrams_doc},
    {"arrow_export_array", arrow_export_array, METH_O,
     "arrow_export_array(column, /) -> (arrow_schema, arrow_array): the stems' column, exported."},
    {"arrow_export_stream", arrow_export_stream, METH_O,
     "arrow_export_stream(column, /) -> arrow_array_stream: the stems' column as a stream of one array."},
    {"arrow_length", arrow_length, METH_O, "arrow_length(column, /) -> int: the column's rows."},
    {nullptr, nullptr, 0, nullptr},
};

// Each interpreter gets a module of its own, with types of its own; nothing
// else outlives a call but each object's own stemmer and table, so
// interpreters with their own GILs share no state through the module.
PyModuleDef_Slot analysis_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(analysis_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef analysis_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "lexvale._analysis",
    .m_doc = "The analyzer's native pass from running text to stems; private to lexvale.",
    .m_size = 0,
    .m_methods = analysis_functions,
    .m_slots = analysis_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace lexvale

PyMODINIT_FUNC PyInit__analysis() {
    return PyModuleDef_Init(&lexvale::analysis_module);
}
