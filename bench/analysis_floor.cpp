// analysis_floor: the least the analyzer's native pass can cost, the floor that benchmark.py measures it against.
//
//   analysis_floor.load(words) -> None
//   analysis_floor.floor(text) -> hits
//
// load fills the pass's own table with the prepared `words` (a list of str).
// floor then has the pass's own scanner find the words of `text` (exact str)
// and prepare each (lower case, as the default English analyzer does) into
// its bytes, which are looked up in that table. No Python object is made per
// word and nothing is stemmed: what is left of the pass is making the result
// list. Returns the number of words found in the table.
//
// Built by `make bench`, not installed.
#include <Python.h>

#include "../ext/analysis/scan.h"
#include "../ext/analysis/word_table.h"
#include "../ext/binding/ref.h"

using davuzod::Ref;
using namespace lexvale;

namespace {

template <typename Char>
Py_ssize_t count_hits(const Char* data, Py_ssize_t length, WordTable& table, bool& failed) {
    Preparing how{};
    how.lowercase = true;
    how.normal_form = true;
    KeyBuffer key;
    Py_ssize_t hits = 0;
    bool confirm = false;
    Scan scan = scan_words(data, length, how, true, key, confirm, [&](Py_ssize_t, Py_ssize_t, const KeyBuffer& word) {
        hits += table.find(word.data(), word.size(), hash_word(word.data(), word.size())) != nullptr;
        return true;
    });
    failed = scan != Scan::done || confirm;
    return hits;
}

// Process-wide, under the global lock; benchmark.py loads it once.
WordTable table;

PyObject* load(PyObject*, PyObject* words) {
    if (!PyList_CheckExact(words)) {
        PyErr_SetString(PyExc_TypeError, "load(words: list[str])");
        return nullptr;
    }
    table.clear();
    table.bound = PY_SSIZE_T_MAX;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(words); ++i) {
        Py_ssize_t size = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(PyList_GET_ITEM(words, i), &size);
        if (bytes == nullptr) {
            return nullptr;
        }
        Py_hash_t hash = hash_word(bytes, size);
        if (table.find(bytes, size, hash) == nullptr && !table.insert(bytes, size, hash, Py_None, false, true)) {
            return nullptr;
        }
    }
    Py_RETURN_NONE;
}

PyObject* floor(PyObject*, PyObject* text) {
    if (!PyUnicode_CheckExact(text)) {
        PyErr_SetString(PyExc_TypeError, "floor(text: str)");
        return nullptr;
    }
    bool failed = false;
    Py_ssize_t hits = 0;
    switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
        hits = count_hits(static_cast<const Py_UCS1*>(PyUnicode_DATA(text)), PyUnicode_GET_LENGTH(text), table, failed);
        break;
    case PyUnicode_2BYTE_KIND:
        hits = count_hits(static_cast<const Py_UCS2*>(PyUnicode_DATA(text)), PyUnicode_GET_LENGTH(text), table, failed);
        break;
    default:
        hits = count_hits(static_cast<const Py_UCS4*>(PyUnicode_DATA(text)), PyUnicode_GET_LENGTH(text), table, failed);
    }
    if (failed) {
        PyErr_SetString(PyExc_ValueError, "the floor takes only text the pass prepares alone");
        return nullptr;
    }
    return PyLong_FromSsize_t(hits);
}

PyMethodDef methods[] = {
    {"load", load, METH_O, "load(words) -> None: fills the table floor looks words up in."},
    {"floor", floor, METH_O, "floor(text) -> hits: the analysis pass without Python objects or stemming."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "analysis_floor",
    .m_doc = "The native analysis pass's floor, for benchmark.py.",
    .m_size = 0,
    .m_methods = methods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_analysis_floor() {
    return PyModule_Create(&module);
}
