// __signature__ of the class: inspect finds no signature in a static type's __init__.
#include "class_signature.h"

#include "../binding/ref.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

namespace {

struct ClassSignatureObject {
    PyObject_HEAD
    PyObject* signature;  // strong, built on first use; null until then
};

// The signature, as inspect.Signature([Parameter("algorithm", ...),
// Parameter("maxCacheSize", ..., default=10000)]). inspect is imported only here.
Ref build_signature() noexcept {
    Ref inspect = Ref::steal(PyImport_ImportModule("inspect"));
    if (!inspect) {
        return {};
    }
    Ref parameter = Ref::steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    Ref signature_type = Ref::steal(PyObject_GetAttrString(inspect.get(), "Signature"));
    if (!parameter || !signature_type) {
        return {};
    }
    Ref kind = Ref::steal(PyObject_GetAttrString(parameter.get(), "POSITIONAL_OR_KEYWORD"));
    Ref bound = Ref::steal(PyLong_FromLong(10000));
    if (!kind || !bound) {
        return {};
    }
    Ref algorithm = Ref::steal(PyObject_CallFunctionObjArgs(parameter.get(), text().algorithm, kind.get(), nullptr));
    Ref default_args = Ref::steal(Py_BuildValue("(OO)", text().maxCacheSize, kind.get()));
    Ref default_kwargs = Ref::steal(Py_BuildValue("{sO}", "default", bound.get()));
    if (!algorithm || !default_args || !default_kwargs) {
        return {};
    }
    Ref max_cache_size = Ref::steal(PyObject_Call(parameter.get(), default_args.get(), default_kwargs.get()));
    if (!max_cache_size) {
        return {};
    }
    Ref parameters = Ref::steal(PyList_New(2));
    if (!parameters) {
        return {};
    }
    PyList_SET_ITEM(parameters.get(), 0, algorithm.release());
    PyList_SET_ITEM(parameters.get(), 1, max_cache_size.release());
    return Ref::steal(PyObject_CallOneArg(signature_type.get(), parameters.get()));
}

// Whether `owner` is called with the class's own __init__ and __new__: the class
// itself, or a subclass that defines neither.
bool constructs_like_the_class(PyTypeObject* owner) noexcept {
    PyObject* mro = owner->tp_mro;
    if (mro == nullptr) {
        return false;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (base == &stemmer_type) {
            return true;
        }
        PyObject* dict = base->tp_dict;
        if (dict != nullptr && (PyDict_GetItemWithError(dict, text().dunder_init) != nullptr ||
                                PyDict_GetItemWithError(dict, text().dunder_new) != nullptr)) {
            return false;
        }
    }
    return false;
}

PyObject* class_signature_get(PyObject* self, PyObject* instance, PyObject* owner) noexcept {
    // Instances are not callable, and a subclass with its own constructor has
    // its own signature: for those inspect looks elsewhere.
    if (instance != nullptr || owner == nullptr || !PyType_Check(owner) ||
        !constructs_like_the_class(reinterpret_cast<PyTypeObject*>(owner))) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_AttributeError, "__signature__");
        }
        return nullptr;
    }
    auto* descriptor = reinterpret_cast<ClassSignatureObject*>(self);
    if (descriptor->signature == nullptr) {
        Ref signature = build_signature();
        if (!signature) {
            return nullptr;
        }
        descriptor->signature = signature.release();
    }
    return Py_NewRef(descriptor->signature);
}

void class_signature_dealloc(PyObject* self) noexcept {
    Py_CLEAR(reinterpret_cast<ClassSignatureObject*>(self)->signature);
    Py_TYPE(self)->tp_free(self);
}

PyTypeObject class_signature_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "Davuzod.class_signature",
    .tp_basicsize = sizeof(ClassSignatureObject),
    .tp_dealloc = class_signature_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_descr_get = class_signature_get,
};

}  // namespace

PyObject* class_signature_new() noexcept {
    if (!PyType_HasFeature(&class_signature_type, Py_TPFLAGS_READY) && PyType_Ready(&class_signature_type) < 0) {
        return nullptr;
    }
    ClassSignatureObject* descriptor = PyObject_New(ClassSignatureObject, &class_signature_type);
    if (descriptor == nullptr) {
        return nullptr;
    }
    descriptor->signature = nullptr;
    return reinterpret_cast<PyObject*>(descriptor);
}

}  // namespace davuzod
