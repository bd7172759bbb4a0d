// capi_floor: the least stemWords can cost on the C API, the floors that benchmark.py measures it against.
//
//   capi_floor.hit(words, cache, counter, stage=3) -> (stems, counter)
//
// The cached path on words that are all cached. For every word of the list
// `words` (exact str or bytes), in turn:
//   stage 1: the word's cache key, made as the module makes it. An ASCII
//            str's bytes are written into a bytes object kept for reuse,
//            which takes the str's own cached hash; any other str is
//            encoded; bytes are their own key.
//   stage 2: and the key looked up in `cache`, a dict of bytes keys to
//            [stem, last use] lists; every word must be there.
//   stage 3: and the entry's last use set to the counter, which is advanced
//            by one (a new int), and the stem put into the result list.
// Stage 3 is everything a hit must do.
//
//   capi_floor.uncached(algorithm, words) -> stems
//
// The uncached path: libstemmer's stem of every word of the list (exact str,
// ASCII read in place) made into a new str in the result list.
//
// Built by `make bench`, not installed.
#include <Python.h>
#include <libstemmer.h>

#include <memory>
#include <utility>

#include "../ext/davuzod/ascii_key.h"
#include "../ext/binding/ref.h"

using davuzod::Ref;

namespace {

// The cache key as the module makes it: an ASCII str's by the module's own
// ascii_key (ext/davuzod/ascii_key.cpp, built into this module too).
Ref key_of(PyObject* word) {
    if (!PyUnicode_CheckExact(word)) {
        return Ref::borrow(word);
    }
    if (!PyUnicode_IS_ASCII(word)) {
        return Ref::steal(PyUnicode_AsUTF8String(word));
    }
    return davuzod::ascii_key(word);
}

PyObject* capi_floor_hit(PyObject*, PyObject* args) {
    PyObject* words = nullptr;
    PyObject* cache = nullptr;
    PyObject* counter_arg = nullptr;
    int stage = 3;
    if (!PyArg_ParseTuple(args, "O!O!O!|i", &PyList_Type, &words, &PyDict_Type, &cache, &PyLong_Type,
                          &counter_arg, &stage)) {
        return nullptr;
    }
    Py_ssize_t n = PyList_GET_SIZE(words);
    Ref stems = Ref::steal(PyList_New(n));
    if (!stems) {
        return nullptr;
    }
    Ref counter = Ref::borrow(counter_arg);
    Py_ssize_t count = PyLong_AsSsize_t(counter.get());
    if (count == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref key = key_of(PyList_GET_ITEM(words, i));
        if (!key) {
            return nullptr;
        }
        if (stage < 2) {
            PyList_SET_ITEM(stems.get(), i, Py_NewRef(Py_None));
            continue;
        }
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(cache, key.get(), &found) <= 0) {
            if (!PyErr_Occurred()) {
                PyErr_SetObject(PyExc_KeyError, key.get());
            }
            return nullptr;
        }
        Ref entry = Ref::steal(found);
        if (stage < 3) {
            PyList_SET_ITEM(stems.get(), i, Py_NewRef(Py_None));
            continue;
        }
        Ref next = Ref::steal(PyLong_FromSsize_t(++count));
        if (!next) {
            return nullptr;
        }
        Ref previous_use = Ref::steal(PyList_GET_ITEM(entry.get(), 1));
        PyList_SET_ITEM(entry.get(), 1, counter.release());
        counter = std::move(next);
        PyList_SET_ITEM(stems.get(), i, Py_NewRef(PyList_GET_ITEM(entry.get(), 0)));
    }
    return PyTuple_Pack(2, stems.get(), counter.get());
}

struct HandleDeleter {
    void operator()(sb_stemmer* handle) const { sb_stemmer_delete(handle); }
};

PyObject* capi_floor_uncached(PyObject*, PyObject* args) {
    const char* algorithm = nullptr;
    PyObject* words = nullptr;
    if (!PyArg_ParseTuple(args, "sO!", &algorithm, &PyList_Type, &words)) {
        return nullptr;
    }
    std::unique_ptr<sb_stemmer, HandleDeleter> handle(sb_stemmer_new(algorithm, "UTF_8"));
    if (!handle) {
        PyErr_SetString(PyExc_KeyError, algorithm);
        return nullptr;
    }
    Py_ssize_t n = PyList_GET_SIZE(words);
    Ref stems = Ref::steal(PyList_New(n));
    if (!stems) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* word = PyList_GET_ITEM(words, i);
        Ref encoded;  // a str that is not ASCII is encoded, as stemWord must
        const char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyUnicode_CheckExact(word) && PyUnicode_IS_ASCII(word)) {
            data = static_cast<const char*>(PyUnicode_DATA(word));
            size = PyUnicode_GET_LENGTH(word);
        } else {
            encoded = Ref::steal(PyUnicode_AsUTF8String(word));
            if (!encoded) {
                return nullptr;
            }
            data = PyBytes_AS_STRING(encoded.get());
            size = PyBytes_GET_SIZE(encoded.get());
        }
        const sb_symbol* stem = sb_stemmer_stem(handle.get(), reinterpret_cast<const sb_symbol*>(data),
                                                static_cast<int>(size));
        if (stem == nullptr) {
            return PyErr_NoMemory();
        }
        PyObject* text = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(stem),
                                              sb_stemmer_length(handle.get()), nullptr);
        if (text == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(stems.get(), i, text);
    }
    return stems.release();
}

PyMethodDef capi_floor_methods[] = {
    {"hit", capi_floor_hit, METH_VARARGS, "hit(words, cache, counter, stage=3) -> (stems, counter)"},
    {"uncached", capi_floor_uncached, METH_VARARGS, "uncached(algorithm, words) -> stems"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot capi_floor_slots[] = {
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef capi_floor_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "capi_floor",
    .m_doc = "The least stemWords can cost on the C API: benchmark.py's floors.",
    .m_size = 0,
    .m_methods = capi_floor_methods,
    .m_slots = capi_floor_slots,
};

}  // namespace

PyMODINIT_FUNC PyInit_capi_floor() {
    return PyModuleDef_Init(&capi_floor_module);
}
