// The module's only uses of the interpreter's internals, each with a public fallback where one can be.
//
// Each use below is here because the public C API gives no equivalent with the
// same behaviour or at the measured cost. A free-threaded interpreter
// (Py_GIL_DISABLED), where these internals are unsafe or different, always
// gets the public fallback, and so does a build with DAVUZOD_PUBLIC_API_ONLY
// defined, which is how the fallbacks are tested and measured. On a newer
// interpreter, build with DAVUZOD_PUBLIC_API_ONLY first: if an internal is gone
// or has changed, that build still works, and the use is then revisited here
// alone. tools/private_symbols.allow lists the symbols this file makes the
// module import; tools/internal_names.py checks that no other source, the
// benchmark's included, names an internal itself.
#pragma once

#include <Python.h>

#include <cstddef>

#include "../binding/ref.h"

#if defined(Py_GIL_DISABLED) || defined(DAVUZOD_PUBLIC_API_ONLY)
#define DAVUZOD_USE_INTERNALS 0
#else
#define DAVUZOD_USE_INTERNALS 1
#endif

namespace davuzod {

// ---- A new dictionary with room for `size` entries.
//
// A trim fills a new dictionary with up to eight tenths of the bound. Made at
// its final size it never rebuilds its table while it fills; grown from empty
// it does so about log2(size) times, which costs a stream of distinct words
// 5 to 6% (callgrind, bounds 1000 and 10000). The public C API has no way to
// give a new dictionary its size.
inline Ref new_dict_with_room(Py_ssize_t size) noexcept {
#if DAVUZOD_USE_INTERNALS
    return Ref::steal(_PyDict_NewPresized(size));
#else
    (void)size;
    return Ref::steal(PyDict_New());
#endif
}

// ---- The cached hash of a bytes object.
//
// A cache key made from an ASCII str is given the str's own hash (the same
// function over the same bytes), so that the lookup does not hash the word
// again, and a reused key is given the hash of its new contents. The public C
// API has no way to set the hash a bytes object caches. Without it, keys are
// not reused (see ascii_key.cpp).
inline constexpr bool can_set_bytes_hash = DAVUZOD_USE_INTERNALS;

inline void set_bytes_hash([[maybe_unused]] PyObject* bytes, [[maybe_unused]] Py_hash_t hash) noexcept {
#if DAVUZOD_USE_INTERNALS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    reinterpret_cast<PyBytesObject*>(bytes)->ob_shash = hash;
#pragma GCC diagnostic pop
#endif
}

// ---- An exception handled for the life of a scope.
//
// Makes `exception` the one being handled (sys.exception()) while the scope
// lasts, and afterwards leaves the handled exception exactly as it was.
//
// The interpreter keeps the handled exception in a stack of entries: one per
// thread, and one per generator or coroutine while it runs, whose entry is
// empty until it handles something itself. The public functions read the
// nearest entry that is not empty and write the top one. With internals, the
// scope pushes an entry of its own, as a generator does, so the caller's
// entries are not touched at all. The public fallback writes the top entry and
// restores it; to tell an empty top entry (a generator that handles nothing,
// called while its caller handles X) from one that holds X itself, it empties
// the top entry and looks again. It cannot tell a top entry holding X from an
// empty one when an entry below holds that same X (a generator handling the
// exception its caller threw into it and still handles): it then leaves the
// top entry empty, and the generator, resumed elsewhere, no longer sees X.
class HandledExceptionScope {
public:
    explicit HandledExceptionScope(PyObject* exception) noexcept {
#if DAVUZOD_USE_INTERNALS
        thread_ = PyThreadState_Get();
        // The entry owns its exception: Python code that handles another one
        // while the scope lasts swaps it out and back, with its ownership.
        entry_.exc_value = Py_NewRef(exception);
        entry_.previous_item = thread_->exc_info;
        thread_->exc_info = &entry_;
#else
        Ref outer = Ref::steal(PyErr_GetHandledException());
        if (outer) {
            PyErr_SetHandledException(nullptr);
            Ref below = Ref::steal(PyErr_GetHandledException());
            if (below.get() != outer.get()) {
                top_ = std::move(outer);  // the top entry held it
            }
        }
        PyErr_SetHandledException(exception);
#endif
    }

    ~HandledExceptionScope() {
#if DAVUZOD_USE_INTERNALS
        thread_->exc_info = entry_.previous_item;
        Py_XDECREF(entry_.exc_value);
#else
        PyErr_SetHandledException(top_.get());
#endif
    }

    HandledExceptionScope(const HandledExceptionScope&) = delete;
    HandledExceptionScope& operator=(const HandledExceptionScope&) = delete;

private:
#if DAVUZOD_USE_INTERNALS
    PyThreadState* thread_;
    _PyErr_StackItem entry_;
#else
    Ref top_;  // what the top entry held, or empty
#endif
};

// ---- An __init__ descriptor of the class's own, with the class's docstring.
//
// The interpreter's wrapper descriptors for __init__ share one description
// record, whose documentation is that of object.__init__, and the public C
// API gives a wrapper descriptor no documentation of its own. With internals,
// the class's descriptor is made anew from a copy of the interpreter's record
// (read through the descriptor it put in the class) that carries `doc`: the
// copy keeps the record's name and wrapper function, which is how the
// interpreter recognises the slot, so subclasses still call the class's
// initialisation directly. The public fallback describes the slot with a
// record of its own whose wrapper calls the slot as the interpreter's does:
// the descriptor reads and calls the same, but the interpreter does not take
// it for its own, so a subclass's instances are initialised by looking
// __init__ up and calling it, which costs a subclass's construction a little.
// The record lives as long as the process, as the descriptor made from it does.
inline wrapperbase init_wrapper_description;

#if !DAVUZOD_USE_INTERNALS
inline PyObject* init_wrapper_call(PyObject* self, PyObject* args, void* wrapped, PyObject* kwargs) noexcept {
    if (reinterpret_cast<initproc>(wrapped)(self, args, kwargs) < 0) {
        return nullptr;
    }
    Py_RETURN_NONE;
}
#endif

// `descriptor` is the wrapper descriptor the interpreter put in `type` for
// __init__.
inline Ref documented_init(PyTypeObject* type, PyObject* descriptor, const char* doc) noexcept {
#if DAVUZOD_USE_INTERNALS
    auto* wrapper = reinterpret_cast<PyWrapperDescrObject*>(descriptor);
    init_wrapper_description = *wrapper->d_base;
    init_wrapper_description.doc = doc;
    return Ref::steal(PyDescr_NewWrapper(type, &init_wrapper_description, wrapper->d_wrapped));
#else
    (void)descriptor;
    init_wrapper_description = {
        .name = "__init__",
        .offset = offsetof(PyTypeObject, tp_init),
        .function = nullptr,
        .wrapper = reinterpret_cast<wrapperfunc>(reinterpret_cast<void (*)()>(init_wrapper_call)),
        .doc = doc,
        .flags = PyWrapperFlag_KEYWORDS,
        .name_strobj = nullptr,
    };
    return Ref::steal(
        PyDescr_NewWrapper(type, &init_wrapper_description, reinterpret_cast<void*>(type->tp_init)));
#endif
}

// ---- Readiness of a static type, attempted again.
//
// Readiness fills each slot the class leaves empty with the base's. When it
// fails after that (out of memory), a second attempt would take those slots
// for the class's own and put wrappers for them (__repr__, __hash__, ...)
// into the class dictionary. No function of the C API undoes what a failed
// attempt did, so the slots are written here, on what the interpreter does
// inside readiness, in every build (the fields are the class's own, the same
// with and without a GIL). The class defines none of its slots as the base
// does, so a slot that holds the base's value was inherited and is emptied
// again before every attempt, to be inherited afresh.
template <typename... Slots>
void forget_inherited(PyTypeObject* type, const PyTypeObject* base, Slots... slots) noexcept {
    ((type->*slots == base->*slots ? void(type->*slots = nullptr) : void()), ...);
}

inline int ready_static_type(PyTypeObject* type, const PyTypeObject* base) noexcept {
    if (PyType_HasFeature(type, Py_TPFLAGS_READY)) {
        return 0;
    }
    using T = PyTypeObject;
    forget_inherited(type, base, &T::tp_getattr, &T::tp_setattr, &T::tp_as_async, &T::tp_repr, &T::tp_as_number,
                     &T::tp_as_sequence, &T::tp_as_mapping, &T::tp_hash, &T::tp_call, &T::tp_str, &T::tp_getattro,
                     &T::tp_setattro, &T::tp_as_buffer, &T::tp_richcompare, &T::tp_iter, &T::tp_iternext,
                     &T::tp_descr_get, &T::tp_descr_set, &T::tp_init, &T::tp_alloc, &T::tp_new, &T::tp_free,
                     &T::tp_is_gc, &T::tp_del, &T::tp_finalize, &T::tp_vectorcall);
    return PyType_Ready(type);
}

}  // namespace davuzod
