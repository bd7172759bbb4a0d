// Preparing the Davuzod class: readiness, the __init__ docstring, publishing, pickling hooks.
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

// 1 when obj.__name__ equals name, 0 when not: an object without __name__, or
// a comparison that raises, counts as not equal. -1 when reading __name__
// raises anything but AttributeError.
int has_name(PyObject* obj, PyObject* name) noexcept {
    PyObject* raw = nullptr;
    if (PyObject_GetOptionalAttr(obj, text().dunder_name, &raw) < 0) {
        return -1;
    }
    Ref own_name = Ref::steal(raw);
    if (!own_name) {
        return 0;
    }
    int equal = PyObject_RichCompareBool(own_name.get(), name, Py_EQ);
    if (equal < 0) {
        PyErr_Clear();
        return 0;
    }
    return equal;
}

Ref get_attribute(PyTypeObject* owner, PyObject* name) noexcept {
    return Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(owner), name));
}

// Moves a hook from its private name in the class dictionary to its public one.
// 1 when moved, 0 when the private name is absent, -1 on error.
int move_hook(PyTypeObject* type, PyObject* dict, PyObject* private_name, PyObject* public_name) noexcept {
    PyObject* raw = nullptr;
    int found = PyDict_GetItemRef(dict, private_name, &raw);
    Ref hook = Ref::steal(raw);
    if (found <= 0) {
        return found;
    }
    if (set_class_attribute(type, public_name, hook.get()) != 0 || PyDict_DelItem(dict, private_name) < 0) {
        return -1;
    }
    return 1;
}

// -1, possibly without an exception, when the hooks cannot be installed.
int install_pickling_hooks(PyTypeObject* type) noexcept {
    PyTypeObject* base = &PyBaseObject_Type;
    Ref object_getstate = get_attribute(base, text().dunder_getstate);
    if (!object_getstate) {
        return -1;
    }
    PyObject* getstate = _PyType_Lookup(type, text().dunder_getstate);
    if (getstate != nullptr && getstate != object_getstate.get()) {
        return 0;  // the class pickles itself
    }
    Ref object_reduce_ex = get_attribute(base, text().dunder_reduce_ex);
    Ref reduce_ex = get_attribute(type, text().dunder_reduce_ex);
    if (!object_reduce_ex || !reduce_ex) {
        return -1;
    }
    if (reduce_ex.get() != object_reduce_ex.get()) {
        return 0;
    }
    Ref object_reduce = get_attribute(base, text().dunder_reduce);
    Ref reduce = get_attribute(type, text().dunder_reduce);
    if (!object_reduce || !reduce) {
        return -1;
    }
    bool inherits_reduce = reduce.get() == object_reduce.get();
    if (!inherits_reduce) {
        int named = has_name(reduce.get(), text().private_reduce);
        if (named <= 0) {
            return named;  // the class reduces itself, or the read failed
        }
    }
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) {
        return -1;
    }
    int moved = move_hook(type, dict.get(), text().private_reduce, text().dunder_reduce);
    if (moved < 0 || (moved == 0 && inherits_reduce)) {
        return -1;
    }
    PyObject* raw = nullptr;
    if (PyObject_GetOptionalAttr(reinterpret_cast<PyObject*>(type), text().dunder_setstate, &raw) < 0) {
        return -1;
    }
    Ref setstate = Ref::steal(raw);
    int named = setstate ? has_name(setstate.get(), text().private_setstate) : 1;
    if (named < 0) {
        return -1;
    }
    if (named > 0) {
        moved = move_hook(type, dict.get(), text().private_setstate, text().dunder_setstate);
        if (moved < 0 || (moved == 0 && !setstate)) {
            return -1;
        }
    }
    PyType_Modified(type);
    return 0;
}

int setup_pickling(PyTypeObject* type) noexcept {
    if (install_pickling_hooks(type) == 0) {
        return 0;
    }
    if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", type->tp_name);
    }
    return -1;
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
    if (PyObject_SetAttr(module_statics.module_object, text().module_name, reinterpret_cast<PyObject*>(type)) < 0) {
        return -1;
    }
    return setup_pickling(type);
}

}  // namespace davuzod
