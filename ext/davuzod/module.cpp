// The module: its definition, entry points, and the create and exec steps.
#include <Python.h>

#include "../binding/function.h"
#include "../binding/ref.h"
#include "catalogue.h"
#include "class_setup.h"
#include "statics.h"
#include "stemmer.h"
#include "version_check.h"

namespace davuzod {

namespace {

// ---- create

struct SpecAttribute {
    const char* spec_name;
    const char* module_key;
    bool store_none;
};

constexpr SpecAttribute copied_spec_attributes[] = {
    {"loader", "__loader__", true},
    {"origin", "__file__", true},
    {"parent", "__package__", true},
    {"submodule_search_locations", "__path__", false},
};

// The module is bound to the first interpreter that imports it, and built once.
PyObject* module_create(PyObject* spec, PyModuleDef*) noexcept {
    std::int64_t interpreter_id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter_id == -1) {
        return nullptr;
    }
    if (module_statics.first_interpreter_id == -1) {
        module_statics.first_interpreter_id = interpreter_id;
    } else if (interpreter_id != module_statics.first_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (module_statics.module_object != nullptr) {
        return Py_NewRef(module_statics.module_object);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) {
        return nullptr;
    }
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    name.reset();
    if (!module) {
        return nullptr;
    }
    PyObject* dict = PyModule_GetDict(module.get());
    if (dict == nullptr) {
        return nullptr;
    }
    for (const SpecAttribute& attribute : copied_spec_attributes) {
        PyObject* raw = nullptr;
        if (PyObject_GetOptionalAttrString(spec, attribute.spec_name, &raw) < 0) {
            return nullptr;
        }
        Ref value = Ref::steal(raw);
        if (!value || (value.get() == Py_None && !attribute.store_none)) {
            continue;
        }
        if (PyDict_SetItemString(dict, attribute.module_key, value.get()) < 0) {
            return nullptr;
        }
    }
    return module.release();
}

// ---- exec

int warn_if_other_interpreter_version() noexcept {
    char message[version_warning_size];
    if (!version_mismatch_warning(Py_Version, message)) {
        return 0;
    }
    return PyErr_WarnEx(nullptr, message, 1);
}

// Later imports of the same module object find it already in sys.modules.
int register_in_module_table(PyObject* module) noexcept {
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* raw = nullptr;
    int found = PyDict_GetItemStringRef(modules, "Davuzod", &raw);
    Ref existing = Ref::steal(raw);
    if (found < 0) {
        PyErr_Clear();  // a failed lookup counts as absent
    }
    if (found > 0) {
        return 0;
    }
    return PyDict_SetItemString(modules, "Davuzod", module);
}

// The module's functions into its dictionary, then the class's methods into
// the class. The methods are function objects of the module's own kind, like
// the module functions, so that they carry the module's globals, a
// __qualname__ under the class and a text signature for inspect.
int install_functions(PyObject* dict) noexcept {
    struct Installed {
        FunctionSpec spec;
        PyObject* defaults;  // borrowed; null for none
    };
    const Installed functions[] = {
        {{algorithms_entry, text().algorithms, text().algorithms, algorithms_doc, "(aliases=False)", nullptr},
         module_statics.false_tuple},
        {{version_entry, text().version, text().version, version_doc, "()", nullptr}, nullptr},
        {{purge_cache_entry, text().purge_cache, text().qualname_purge_cache, nullptr, "(self)", &stemmer_type},
         nullptr},
        {{stem_word_entry, text().stem_word, text().qualname_stem_word, stem_word_doc, "(self, word)", &stemmer_type},
         nullptr},
        {{stem_words_entry, text().stem_words, text().qualname_stem_words, stem_words_doc, "(self, words)",
          &stemmer_type},
         nullptr},
    };
    for (const Installed& function : functions) {
        Ref object = Ref::steal(
            function_new(function.spec, text().module_name, module_statics.module_dict, function.defaults));
        if (!object) {
            return -1;
        }
        PyTypeObject* owner = function.spec.instance_type;
        int stored = owner == nullptr ? PyDict_SetItem(dict, function.spec.name, object.get())
                                      : set_class_attribute(owner, function.spec.name, object.get());
        if (stored != 0) {
            return -1;
        }
    }
    return 0;
}

// Everything the exec step puts in place; a failure leaves what was done in
// place. What is made once per process (the constants, the class) is kept,
// and a later import completes the rest.
int populate_module(PyObject* module) noexcept {
    Ref dict = Ref::borrow(PyModule_GetDict(module));
    if (!dict) {
        return -1;
    }
    replace_field(module_statics.module_dict, Ref::borrow(dict.get()));

    Ref builtins = Ref::steal(PyImport_AddModuleRef("builtins"));
    if (!builtins) {
        return -1;
    }
    if (PyObject_SetAttrString(module, "__builtins__", builtins.get()) < 0) {
        return -1;
    }

    if (warn_if_other_interpreter_version() < 0 || create_constants() < 0 ||
        register_in_module_table(module) < 0) {
        return -1;
    }

    if (module_statics.false_tuple == nullptr &&
        (module_statics.false_tuple = PyTuple_Pack(1, Py_False)) == nullptr) {
        return -1;
    }

    if (prepare_stemmer_type() < 0) {
        return -1;
    }

    if (PyDict_SetItem(dict.get(), text().dunder_docformat, text().restructuredtext) < 0) {
        return -1;
    }
    if (install_functions(dict.get()) < 0) {
        return -1;
    }

    Ref tests = Ref::steal(PyDict_New());
    if (!tests) {
        return -1;
    }
    return PyDict_SetItem(dict.get(), text().dunder_test, tests.get());
}

int module_exec(PyObject* module) noexcept {
    if (module_statics.module_object != nullptr) {
        if (module_statics.module_object == module) {
            return 0;  // a later import, or a reload, of the recorded module
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'Davuzod' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    // Held for the life of the process once the exec step succeeds.
    module_statics.module_object = Py_NewRef(module);
    if (populate_module(module) < 0) {
        Py_CLEAR(module_statics.module_object);
        return -1;
    }
    return 0;
}

// ---- definition

constexpr char module_doc[] = "Davuzod: stemming algorithms from the snowball project.\n\n";

// The module keeps its objects in statics shared by every interpreter, so it
// says it supports no second one: an interpreter that checks its extensions
// (concurrent.interpreters makes such ones) then refuses the import itself,
// before the create step can bind the module to it. One that does not check
// (a legacy subinterpreter) still reaches the create step, whose own check
// keeps the module with the first interpreter.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "Davuzod",
    .m_doc = module_doc,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace davuzod

// The interpreter looks for PyInit_<name> of the name it imports.
PyMODINIT_FUNC PyInit_Davuzod() {
    return PyModuleDef_Init(&davuzod::module_def);
}

// The module's historical entry point, kept for loaders that ask for it.
PyMODINIT_FUNC PyInit_Stemmer() {
    return PyModuleDef_Init(&davuzod::module_def);
}
