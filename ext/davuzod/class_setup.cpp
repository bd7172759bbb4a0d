// Preparing the Davuzod class: readiness, the __init__ docstring, publishing.
#include "class_setup.h"

#include "../binding/ref.h"
#include "interpreter_internals.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

namespace {

// The class's __init__ carries the class's docstring, not object.__init__'s
// (see interpreter_internals.h for how).
int document_init(PyTypeObject* type) noexcept {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) {
        return -1;
    }
    PyObject* raw = nullptr;
    if (PyDict_GetItemRef(dict.get(), text().dunder_init, &raw) < 0) {
        return -1;
    }
    Ref init = Ref::steal(raw);
    if (!init || !Py_IS_TYPE(init.get(), &PyWrapperDescr_Type)) {
        return 0;
    }
    Ref doc = Ref::steal(PyObject_GetAttrString(init.get(), "__doc__"));
    if (!doc) {
        return -1;
    }
    if (PyUnicode_Check(doc.get()) && PyUnicode_CompareWithASCIIString(doc.get(), init_doc) == 0) {
        return 0;  // documented by an earlier import that failed later on
    }
    Ref documented = documented_init(type, init.get(), init_doc);
    if (!documented || PyDict_SetItem(dict.get(), text().dunder_init, documented.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
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
    if (ready_static_type(type, &PyBaseObject_Type) < 0 || document_init(type) < 0) {
        return -1;
    }
    return PyObject_SetAttr(module_statics.module_object, text().module_name, reinterpret_cast<PyObject*>(type));
}

}  // namespace davuzod
