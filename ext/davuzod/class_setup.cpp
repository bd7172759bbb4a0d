// Preparing the Davuzod class: readiness, the __init__ docstring, publishing.
#include "class_setup.h"

#include "../binding/ref.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

namespace {

// The interpreter's wrapper descriptors for __init__ share one description
// record, whose documentation is that of object.__init__. The class's own
// __init__ descriptor is made anew from a copy of that record that carries the
// class's docstring: the interpreter's record and every other class's
// descriptor stay as they are. The copy keeps the record's name and wrapper
// function, which is how the interpreter recognises the slot, so subclasses
// still call the class's initialisation directly.
wrapperbase init_wrapper_description;

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
    auto* descriptor = reinterpret_cast<PyWrapperDescrObject*>(init.get());
    if (descriptor->d_base == &init_wrapper_description) {
        return 0;  // documented by an earlier import that failed later on
    }
    init_wrapper_description = *descriptor->d_base;
    init_wrapper_description.doc = init_doc;
    Ref documented = Ref::steal(PyDescr_NewWrapper(type, &init_wrapper_description, descriptor->d_wrapped));
    if (!documented || PyDict_SetItem(dict.get(), text().dunder_init, documented.get()) < 0) {
        return -1;
    }
    PyType_Modified(type);
    return 0;
}

// Readiness fills each slot the class leaves empty with the base's. When it
// fails after that (out of memory), a second attempt would take those slots
// for the class's own and put wrappers for them (__repr__, __hash__, ...)
// into the class dictionary. The class defines none of its slots as the base
// does, so a slot that holds the base's value was inherited and is emptied
// again before every attempt, to be inherited afresh.
template <typename... Slots>
void forget_inherited(PyTypeObject* type, const PyTypeObject* base, Slots... slots) noexcept {
    ((type->*slots == base->*slots ? void(type->*slots = nullptr) : void()), ...);
}

int ready_type(PyTypeObject* type) noexcept {
    if (PyType_HasFeature(type, Py_TPFLAGS_READY)) {
        return 0;
    }
    using T = PyTypeObject;
    forget_inherited(type, &PyBaseObject_Type, &T::tp_getattr, &T::tp_setattr, &T::tp_as_async, &T::tp_repr,
                     &T::tp_as_number, &T::tp_as_sequence, &T::tp_as_mapping, &T::tp_hash, &T::tp_call,
                     &T::tp_str, &T::tp_getattro, &T::tp_setattro, &T::tp_as_buffer, &T::tp_richcompare,
                     &T::tp_iter, &T::tp_iternext, &T::tp_descr_get, &T::tp_descr_set, &T::tp_init,
                     &T::tp_alloc, &T::tp_new, &T::tp_free, &T::tp_is_gc, &T::tp_del, &T::tp_finalize,
                     &T::tp_vectorcall);
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
    if (ready_type(type) < 0 || document_init(type) < 0) {
        return -1;
    }
    return PyObject_SetAttr(module_statics.module_object, text().module_name, reinterpret_cast<PyObject*>(type));
}

}  // namespace davuzod
