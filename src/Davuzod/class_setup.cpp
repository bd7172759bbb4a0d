// Preparing the Davuzod class: readiness, the __init__ docstring, publishing.
#include "class_setup.h"

#include "../binding/ref.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

namespace {

// The slot wrappers of every class's __init__ share one description record;
// this class's wrapper is pointed at a copy that carries its own docstring.
wrapperbase init_wrapper_description;

int document_init(PyTypeObject* type) noexcept {
    Ref init = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), text().dunder_init));
    if (!init) {
        return -1;
    }
    if (Py_IS_TYPE(init.get(), &PyWrapperDescr_Type)) {
        auto* descriptor = reinterpret_cast<PyWrapperDescrObject*>(init.get());
        if (descriptor->d_base != &init_wrapper_description) {
            init_wrapper_description = *descriptor->d_base;
            init_wrapper_description.doc = init_doc;
            descriptor->d_base = &init_wrapper_description;
        }
    }
    return 0;
}

// PyType_Ready can run out of memory part way, after it has copied inherited
// slots into the type; a second attempt would take those for the class's own
// and give the class wrappers for them. So every attempt after a failed one
// starts again from the type as it was defined.
int ready_type(PyTypeObject* type) noexcept {
    static PyTypeObject as_defined;
    static bool attempted = false;
    if (PyType_HasFeature(type, Py_TPFLAGS_READY)) {
        return 0;
    }
    if (!attempted) {
        as_defined = *type;
        attempted = true;
    } else {
        Py_CLEAR(type->tp_dict);
        Py_CLEAR(type->tp_bases);
        Py_CLEAR(type->tp_mro);
        // The header (reference count) and the weak reference list stay: the
        // interpreter may already hold weak references to the type.
        PyVarObject header = type->ob_base;
        PyObject* weaklist = type->tp_weaklist;
        *type = as_defined;
        type->ob_base = header;
        type->tp_weaklist = weaklist;
    }
    return PyType_Ready(type);
}

}  // namespace

int set_class_attribute(PyTypeObject* type, PyObject* name, PyObject* value) noexcept {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) {
        return -1;
    }
    int stored = PyDict_SetItem(dict.get(), name, value);
    if (stored != 0) {
        return stored;
    }
    PyType_Modified(type);
    PyObject* set_name = nullptr;
    if (PyObject_GetOptionalAttr(value, text().dunder_set_name, &set_name) < 0) {
        return -1;
    }
    if (set_name != nullptr) {
        Ref hook = Ref::steal(set_name);
        PyObject* call_args[] = {reinterpret_cast<PyObject*>(type), name};
        Ref result = Ref::steal(PyObject_Vectorcall(hook.get(), call_args, 2, nullptr));
        if (!result) {
            return -1;
        }
    }
    return 0;
}

int prepare_stemmer_type() noexcept {
    PyTypeObject* type = &stemmer_type;
    module_statics.stemmer_type = type;
    if (ready_type(type) < 0 || document_init(type) < 0) {
        return -1;
    }
    return PyObject_SetAttr(module_statics.module_object, text().module_name, reinterpret_cast<PyObject*>(type));
}

}  // namespace davuzod
