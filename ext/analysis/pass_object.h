// The Pass object's layout and the parts of its pass that counting shares.
#pragma once

#include <Python.h>
#include <libstemmer.h>

#include <cstdint>

#include "../binding/ref.h"
#include "scan.h"
#include "word_table.h"

namespace lexvale {

struct PassObject {
    PyObject_HEAD
    sb_stemmer* stemmer;     // owned
    WordTable table;         // owns its keys and values
    Preparing how;
    PyObject* form;          // strong: "NFC" or "NFKC", or None
    PyObject* is_normalized; // strong: unicodedata.is_normalized
    PyObject* fold;          // strong: stem -> folded stem, or None
    PyObject* token;         // strong: lexvale.Token, a tuple subclass
    bool keep_original;      // a word prepared follows its stem where they differ
    std::uint32_t last_mark; // the mark of the last counting call (WordEntry::mark)
};

inline PassObject* as_pass(PyObject* self) noexcept {
    return reinterpret_cast<PassObject*>(self);
}

// The result for a prepared word: the table's, or libstemmer's (folded,
// and remembered if the table remembers). A borrowed reference to the
// table's value, or a new one in `made`; null with an error set.
// `stop` tells whether the word is a stop word; `entry`, where given, is set
// to the table's entry on a hit (else null), good until Python code runs.
PyObject* result_of(PassObject* self, const KeyBuffer& key, davuzod::Ref& made, bool& stop,
                    WordEntry** entry = nullptr) noexcept;

// The word prepared, as it is kept beside its `stem` (folded as the stems
// are): 1 with it in `original` where the pass keeps originals and it is not
// the stem, 0 where there is none to keep, -1 with an error set. Folding is
// Python code: the caller holds `stem`.
int original_of(PassObject* self, const KeyBuffer& key, PyObject* stem, davuzod::Ref& original) noexcept;

// What takes the words of a text: each word's place and prepared key.
class WordSink {
public:
    // False stops the scan: an error is set, or too_long() says why.
    virtual bool add(Py_ssize_t start, Py_ssize_t end, const KeyBuffer& key) noexcept = 0;
    virtual bool too_long() const noexcept = 0;

protected:
    ~WordSink() = default;
};

enum class Outcome { done, python, error };

// Calls `fallback(text)`, the analyzer's own analysis of a text the pass
// leaves to it, and hands each str of the list it gives to `add` (which
// returns false with an error set). False with an error set.
template <typename Add>
bool add_fallback_results(PyObject* fallback, PyObject* text, Add add) noexcept {
    davuzod::Ref results = davuzod::Ref::steal(PyObject_CallOneArg(fallback, text));
    if (!results) {
        return false;
    }
    if (!PyList_Check(results.get())) {
        PyErr_Format(PyExc_TypeError, "the analyzer gave a %T, not a list", results.get());
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(results.get()); ++i) {
        davuzod::Ref result = davuzod::Ref::borrow(PyList_GET_ITEM(results.get(), i));
        if (!PyUnicode_Check(result.get())) {
            PyErr_Format(PyExc_TypeError, "the analyzer gave a %T among its results, not a str", result.get());
            return false;
        }
        if (!add(result.get())) {
            return false;
        }
    }
    return true;
}

// Runs the words of `text` (an exact str) through `sink`: done; python when
// the text is for the pure-Python path (the sink then holds a part of it, to
// be dropped); or error, with an exception set.
Outcome scan_text(PassObject* self, PyObject* text, WordSink& sink) noexcept;

}  // namespace lexvale
