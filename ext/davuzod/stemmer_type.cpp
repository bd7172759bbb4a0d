// The Davuzod class: object lifecycle around a libstemmer handle, pickling refusal, the type.
#include <libstemmer.h>

#include <memory>
#include <utility>

#include "../binding/binder.h"
#include "../binding/function.h"
#include "../binding/ref.h"
#include "as_c_int.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

const char init_doc[] =
    "Initialise a stemmer.\n"
    "\n"
    "        See the class documentation for details.\n"
    "\n"
    "        ";

namespace {

constexpr std::int32_t default_max_cache_size = 10000;

constexpr PyObject** init_param_names[] = {&module_statics.text.algorithm,
                                           &module_statics.text.maxCacheSize, nullptr};
constexpr ParamTable init_params{"__init__", init_param_names, 2, 1};

constexpr PyObject** setstate_param_names[] = {&module_statics.text.state, nullptr};
constexpr ParamTable setstate_params{"__setstate__", setstate_param_names, 1, 1};

// ---- lifecycle

PyObject* stemmer_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    if (PyType_HasFeature(type, Py_TPFLAGS_IS_ABSTRACT)) {
        // object.__new__ refuses an abstract class with the interpreter's own message.
        Ref no_args = Ref::steal(PyTuple_New(0));
        if (!no_args) {
            return nullptr;
        }
        return PyBaseObject_Type.tp_new(type, no_args.get(), nullptr);
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    as_stemmer(self)->cache = Py_NewRef(Py_None);
    as_stemmer(self)->counter = Py_NewRef(Py_None);
    return self;
}

int stemmer_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(as_stemmer(self)->cache);
    Py_VISIT(as_stemmer(self)->counter);
    return 0;
}

int stemmer_clear(PyObject* self) noexcept {
    replace_field(as_stemmer(self)->cache, Ref::borrow(Py_None));
    replace_field(as_stemmer(self)->counter, Ref::borrow(Py_None));
    return 0;
}

void stemmer_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_finalize != nullptr && type->tp_dealloc == stemmer_dealloc) {
        if (PyObject_CallFinalizerFromDealloc(self) < 0) {
            return;  // resurrected
        }
    }
    PyObject_GC_UnTrack(self);
    StemmerObject* stemmer = as_stemmer(self);
    PyObject* pending = PyErr_GetRaisedException();
    sb_stemmer_delete(std::exchange(stemmer->cobj, nullptr));
    PyErr_SetRaisedException(pending);
    Py_CLEAR(stemmer->cache);
    Py_CLEAR(stemmer->counter);
    type->tp_free(self);
}

// An open libstemmer handle, released unless handed over.
struct HandleDeleter {
    void operator()(sb_stemmer* handle) const noexcept { sb_stemmer_delete(handle); }
};
using Handle = std::unique_ptr<sb_stemmer, HandleDeleter>;

// The KeyError for a name libstemmer does not know, made but not raised. The
// message is made by the % operator with the caller's own object, so a str
// subclass's __rmod__ wins.
[[gnu::cold]] Ref algorithm_not_found(PyObject* algorithm) noexcept {
    PyObject* format = text().not_found_format;
    Ref message = Ref::steal(PyUnicode_Check(algorithm) && !PyUnicode_CheckExact(algorithm)
                                 ? PyNumber_Remainder(format, algorithm)
                                 : PyUnicode_Format(format, algorithm));
    if (!message) {
        return {};
    }
    return Ref::steal(PyObject_CallOneArg(PyExc_KeyError, message.get()));
}

// A further __init__ either completes or, failing, leaves the object as it
// was: everything it needs is made first, and only then is anything replaced.
// (A name libstemmer does not know is not a failure of that kind: it leaves
// the object without a handle, its cache as it was.)
int stemmer_init(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    Ref slots[max_params];
    if (!bind_dict(init_params, args, kwargs, slots)) {
        return -1;
    }
    PyObject* algorithm = slots[0].get();

    // The bound is converted before the name is touched, so a bad bound is
    // reported even when the name is bad too.
    std::int32_t bound = default_max_cache_size;
    if (slots[1]) {
        bound = as_c_int(slots[1].get());
        if (bound == -1 && PyErr_Occurred()) {
            return -1;
        }
    }

    Ref encoded = Ref::steal(PyObject_CallMethodOneArg(algorithm, text().encode, text().ascii));
    if (!encoded) {
        return -1;
    }
    const char* name = nullptr;
    if (PyByteArray_Check(encoded.get())) {
        name = PyByteArray_AsString(encoded.get());
    } else if ((name = PyBytes_AsString(encoded.get())) == nullptr) {
        return -1;
    }
    // libstemmer reads the name only during this call; the name ends at its first NUL.
    Handle opened(sb_stemmer_new(name, "UTF_8"));
    encoded.reset();

    StemmerObject* stemmer = as_stemmer(self);
    if (!opened) {
        Ref error = algorithm_not_found(algorithm);
        if (!error) {
            return -1;
        }
        sb_stemmer_delete(std::exchange(stemmer->cobj, nullptr));
        PyErr_SetObject(PyExc_KeyError, error.get());
        return -1;
    }
    Ref cache = Ref::steal(PyDict_New());
    if (!cache) {
        return -1;
    }

    // Nothing below can fail. The old cache and counter are released last,
    // with the object already complete: their release may run Python code.
    sb_stemmer_delete(std::exchange(stemmer->cobj, opened.release()));
    stemmer->max_cache_size = bound;
    Ref old_cache = Ref::steal(std::exchange(stemmer->cache, cache.release()));
    Ref old_counter = Ref::steal(std::exchange(stemmer->counter, Py_NewRef(module_statics.zero)));
    return 0;
}

// ---- pickling refusal

[[gnu::cold]] PyObject* raise_not_picklable() noexcept {
    PyErr_SetObject(PyExc_TypeError, text().not_picklable);
    return nullptr;
}

PyObject* stemmer_reduce(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (!bind_nothing("__reduce__", nargs, kwnames)) {
        return nullptr;
    }
    return raise_not_picklable();
}

PyObject* stemmer_setstate(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
    Ref slots[max_params];
    if (!bind_vector(setstate_params, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return raise_not_picklable();
}

// ---- tables

// PyMethodDef stores every entry as PyCFunction; each is called back with its
// own METH_FASTCALL | METH_KEYWORDS signature.
PyCFunction as_method(Entry entry) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// The first lines are the class's text signature, which the interpreter takes
// off __doc__ and gives inspect as __text_signature__.
constexpr char class_doc[] =
    "Davuzod(algorithm, maxCacheSize=10000)\n"
    "--\n"
    "\n"
    "An instance of a stemming algorithm.\n"
    "\n"
    "    The algorithm has internal state, so must not be called concurrently.\n"
    "    ie, only a single thread should access the instance at any given time.\n"
    "\n"
    "    When creating a `Davuzod` object, there is one required argument: the\n"
    "    name of the algorithm to use in the new stemmer.  A list of the valid\n"
    "    algorithm names may be obtained by calling the `algorithms()` function\n"
    "    in this module.  In addition, the appropriate stemming algorithm for a\n"
    "    given language may be obtained by using the 2 or 3 letter ISO 639\n"
    "    language codes.\n"
    "\n"
    "    A second optional argument to the constructor for `Davuzod` is the size\n"
    "    of cache to use.  The cache implemented in this module is not terribly\n"
    "    efficient, but benchmarks show that it approximately doubles\n"
    "    performance for typical text processing operations, without too much\n"
    "    memory overhead.  The cache may be disabled by passing a size of 0.\n"
    "    The default size (10000 words) is probably appropriate in most\n"
    "    situations.  In pathological cases (for example, when no word is\n"
    "    presented to the stemming algorithm more than once, so the cache is\n"
    "    useless), the cache can severely damage performance.\n"
    "\n"
    "    The \"benchmark.py\" script supplied with the Lexvale distribution can\n"
    "    be used to test the performance of the stemming algorithms with various\n"
    "    cache sizes.\n"
    "\n"
    "    ";

constexpr int fast_method = METH_FASTCALL | METH_KEYWORDS;

// The stemming methods are not here: the exec step installs them into the class
// as the module's own function objects (install_functions in module.cpp).
PyMethodDef stemmer_methods[] = {
    {"__reduce__", as_method(stemmer_reduce), fast_method, nullptr},
    {"__setstate__", as_method(stemmer_setstate), fast_method, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject stemmer_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "Davuzod.Davuzod",
    .tp_basicsize = sizeof(StemmerObject),
    .tp_dealloc = stemmer_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    .tp_doc = class_doc,
    .tp_traverse = stemmer_traverse,
    .tp_clear = stemmer_clear,
    .tp_methods = stemmer_methods,
    .tp_getset = cache_getset,
    .tp_init = stemmer_init,
    .tp_new = stemmer_new,
};

}  // namespace davuzod
