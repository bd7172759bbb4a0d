// The module's only uses of the interpreter's internals, each with a public fallback.
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

}  // namespace davuzod
