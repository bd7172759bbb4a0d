// Function objects: attributes of a Python function, vectorcall, method binding.
#include "function.h"

#include <cstddef>

#include "binder.h"
#include "ref.h"

namespace davuzod {

namespace {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Entry entry;
    PyTypeObject* instance_type;  // borrowed static type; null for a module function
    const char* message_name;     // UTF-8 of name, for messages; lives as long as name
    const char* text_signature;   // static text
    PyObject* name;               // strong
    PyObject* qualname;           // strong
    PyObject* module;             // strong
    PyObject* doc;                // strong
    PyObject* defaults;           // strong
    PyObject* globals;            // strong
};

FunctionObject* as_function(PyObject* self) noexcept {
    return reinterpret_cast<FunctionObject*>(self);
}

// ---- lifecycle

int function_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    FunctionObject* f = as_function(self);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->globals);
    return 0;
}

int function_clear(PyObject* self) noexcept {
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->module);
    // name and qualname stay: message_name points into name.
    return 0;
}

void function_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    function_clear(self);
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->name);
    PyObject_GC_Del(self);
}

// ---- behaviour

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) noexcept {
    return as_function(callable)->entry(nullptr, args, PyVectorcall_NARGS(nargsf), kwnames);
}

[[gnu::cold]] PyObject* raise_wrong_instance(const FunctionObject* f, PyObject* instance) noexcept {
    PyErr_Format(PyExc_TypeError, "descriptor '%s' for '%s' objects doesn't apply to a '%s' object",
                 f->message_name, f->instance_type->tp_name, Py_TYPE(instance)->tp_name);
    return nullptr;
}

// The method front: the first positional argument is the instance.
PyObject* method_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) noexcept {
    FunctionObject* f = as_function(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs == 0) {
        raise_needs_argument(f->message_name);
        return nullptr;
    }
    PyObject* instance = args[0];
    if (!PyObject_TypeCheck(instance, f->instance_type)) {
        return raise_wrong_instance(f, instance);
    }
    return f->entry(instance, args + 1, nargs - 1, kwnames);
}

// Bound like a Python function: through an instance, a bound method.
PyObject* function_descr_get(PyObject* self, PyObject* instance, PyObject*) noexcept {
    if (instance == nullptr || instance == Py_None) {
        return Py_NewRef(self);
    }
    return PyMethod_New(self, instance);
}

PyObject* function_repr(PyObject* self) noexcept {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

PyObject* function_get_text_signature(PyObject* self, void*) noexcept {
    const char* signature = as_function(self)->text_signature;
    if (signature == nullptr) {
        Py_RETURN_NONE;
    }
    return PyUnicode_FromString(signature);
}

// Pickled by reference, as Python functions are: a method by its place in the class.
PyObject* function_reduce(PyObject* self, PyObject*) noexcept {
    FunctionObject* f = as_function(self);
    if (f->instance_type == nullptr) {
        return Py_NewRef(f->name);
    }
    Ref owner = Ref::steal(PyType_GetQualName(f->instance_type));
    if (!owner) {
        return nullptr;
    }
    return PyUnicode_FromFormat("%U.%U", owner.get(), f->name);
}

// ---- tables

PyMemberDef function_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(FunctionObject, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(FunctionObject, qualname), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(FunctionObject, doc), Py_READONLY, nullptr},
    {"__defaults__", Py_T_OBJECT_EX, offsetof(FunctionObject, defaults), Py_READONLY, nullptr},
    {"__globals__", Py_T_OBJECT_EX, offsetof(FunctionObject, globals), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__text_signature__", function_get_text_signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject function_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "Davuzod.function",
    .tp_basicsize = sizeof(FunctionObject),
    .tp_dealloc = function_dealloc,
    .tp_vectorcall_offset = offsetof(FunctionObject, vectorcall),
    .tp_repr = function_repr,
    // A call with a keyword dictionary (through __call__) becomes a vectorcall;
    // the interpreter refuses non-string keys on the way.
    .tp_call = PyVectorcall_Call,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                Py_TPFLAGS_METHOD_DESCRIPTOR,
    .tp_traverse = function_traverse,
    .tp_clear = function_clear,
    .tp_methods = function_methods,
    .tp_members = function_members,
    .tp_getset = function_getset,
    .tp_descr_get = function_descr_get,
};

}  // namespace

PyObject* function_new(const FunctionSpec& spec, PyObject* module_name, PyObject* globals,
                       PyObject* defaults) noexcept {
    if (!PyType_HasFeature(&function_type, Py_TPFLAGS_READY) && PyType_Ready(&function_type) < 0) {
        return nullptr;
    }
    const char* message_name = PyUnicode_AsUTF8(spec.name);
    if (message_name == nullptr) {
        return nullptr;
    }
    Ref doc = spec.doc == nullptr ? Ref::borrow(Py_None) : Ref::steal(PyUnicode_FromString(spec.doc));
    if (!doc) {
        return nullptr;
    }
    // Zero-filled and tracked by the collector at once; every field below is
    // set before anything can run that would traverse it.
    auto* f = reinterpret_cast<FunctionObject*>(function_type.tp_alloc(&function_type, 0));
    if (f == nullptr) {
        return nullptr;
    }
    f->vectorcall = spec.instance_type == nullptr ? function_vectorcall : method_vectorcall;
    f->entry = spec.entry;
    f->instance_type = spec.instance_type;
    f->message_name = message_name;
    f->text_signature = spec.text_signature;
    f->name = Py_NewRef(spec.name);
    f->qualname = Py_NewRef(spec.qualname);
    f->module = Py_NewRef(module_name);
    f->doc = doc.release();
    f->defaults = Py_NewRef(defaults == nullptr ? Py_None : defaults);
    f->globals = Py_NewRef(globals);
    return reinterpret_cast<PyObject*>(f);
}

}  // namespace davuzod
