// Pass: one analyzer's settings compiled into a native pass from text to stems.
#include "pass_type.h"

#include <libstemmer.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "../binding/ref.h"
#include "../binding/signals.h"
#include "arrow_column.h"
#include "counting.h"
#include "pass_object.h"

namespace lexvale {

using davuzod::Ref;

// ---- stems

PyObject* result_of(PassObject* self, const KeyBuffer& key, Ref& made, bool& stop, WordEntry** found) noexcept {
    Py_hash_t hash = hash_word(key.data(), key.size());
    if (WordEntry* entry = self->table.find(key.data(), key.size(), hash)) {
        stop = entry->stop;
        if (found != nullptr) {
            *found = entry;
        }
        return entry->value;
    }
    if (found != nullptr) {
        *found = nullptr;
    }
    stop = false;
    const sb_symbol* stem = sb_stemmer_stem(self->stemmer, reinterpret_cast<const sb_symbol*>(key.data()),
                                            static_cast<int>(key.size()));
    if (stem == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    made = Ref::steal(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(stem), sb_stemmer_length(self->stemmer),
                                           nullptr));
    if (!made) {
        return nullptr;
    }
    if (self->fold != Py_None) {
        // Python code: another thread may use this pass meanwhile, so the
        // table is looked at afresh afterwards.
        made = Ref::steal(PyObject_CallOneArg(self->fold, made.get()));
        if (!made) {
            return nullptr;
        }
    }
    if (self->table.remembers() && self->table.find(key.data(), key.size(), hash) == nullptr &&
        !self->table.insert(key.data(), key.size(), hash, made.get(), false, false)) {
        return nullptr;
    }
    return made.get();
}

int original_of(PassObject* self, const KeyBuffer& key, PyObject* stem, Ref& original) noexcept {
    if (!self->keep_original || PyUnicode_EqualToUTF8AndSize(stem, key.data(), key.size())) {
        return 0;
    }
    original = Ref::steal(PyUnicode_DecodeUTF8(key.data(), key.size(), nullptr));
    if (original && self->fold != Py_None) {
        original = Ref::steal(PyObject_CallOneArg(self->fold, original.get()));
    }
    if (!original) {
        return -1;
    }
    int same = PyUnicode_Compare(original.get(), stem);
    if (same == -1 && PyErr_Occurred()) {
        return -1;
    }
    return same == 0 ? 0 : 1;
}

namespace {

// A Token(stem, start, end, word, position) of `text`, made as the Token
// class makes it (tuple.__new__ with the fields), without running Python code.
Ref make_token(PassObject* self, PyObject* text, PyObject* stem, Py_ssize_t start, Py_ssize_t end,
               Py_ssize_t position) noexcept {
    Ref fields = Ref::steal(PyTuple_New(5));
    if (!fields) {
        return {};
    }
    PyObject* begin = PyLong_FromSsize_t(start);
    PyObject* finish = begin == nullptr ? nullptr : PyLong_FromSsize_t(end);
    PyObject* word = finish == nullptr ? nullptr : PyUnicode_Substring(text, start, end);
    PyObject* place = word == nullptr ? nullptr : PyLong_FromSsize_t(position);
    PyTuple_SET_ITEM(fields.get(), 0, Py_NewRef(stem));
    PyTuple_SET_ITEM(fields.get(), 1, begin);
    PyTuple_SET_ITEM(fields.get(), 2, finish);
    PyTuple_SET_ITEM(fields.get(), 3, word);
    PyTuple_SET_ITEM(fields.get(), 4, place);
    if (place == nullptr) {
        return {};
    }
    auto* token_type = reinterpret_cast<PyTypeObject*>(self->token);
    Ref arguments = Ref::steal(PyTuple_Pack(1, fields.get()));
    if (!arguments) {
        return {};
    }
    return Ref::steal(PyTuple_Type.tp_new(token_type, arguments.get(), nullptr));
}

// Collects a text's stems (or tokens) into a list made for at most `most`
// words, so that a long text's list is never copied to grow. Its length is
// always the part filled, so that an error releases only what was made.
// Each word, stop words included, takes the next position.
class Collector {
public:
    Collector(PassObject* self, PyObject* text, bool tokens, bool drop_stop, Py_ssize_t most) noexcept
        : self_(self), text_(text), tokens_(tokens), drop_stop_(drop_stop),
          most_(self->keep_original ? 2 * most : most) {
        list_ = Ref::steal(PyList_New(most_));
        if (list_) {
            Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list_.get()), 0);
        }
    }

    bool ok() const noexcept { return bool(list_); }

    bool add(Py_ssize_t start, Py_ssize_t end, const KeyBuffer& key) noexcept {
        if (key.size() > INT_MAX) {
            // libstemmer takes no longer word; the pure-Python path says so.
            too_long_ = true;
            return false;
        }
        Ref made;
        bool stop = false;
        PyObject* result = result_of(self_, key, made, stop);
        if (result == nullptr) {
            return false;
        }
        Py_ssize_t position = words_;
        if (++words_ % davuzod::items_between_signal_checks == 0) {
            // The result is held first: a handler may use this pass too.
            Ref held = Ref::borrow(result);
            if (PyErr_CheckSignals() < 0) {
                return false;
            }
            made = std::move(held);
            result = made.get();
        }
        if (stop && drop_stop_) {
            return true;
        }
        Ref item = tokens_ ? make_token(self_, text_, result, start, end, position) : Ref::borrow(result);
        if (!item) {
            return false;
        }
        if (!self_->keep_original) {
            return put(std::move(item));
        }
        // The original is made by Python code (folding), which may use this pass: the stem is held first.
        Ref stem = Ref::borrow(result);
        if (!put(std::move(item))) {
            return false;
        }
        Ref original;
        int kept = original_of(self_, key, stem.get(), original);
        if (kept <= 0) {
            return kept == 0;
        }
        Ref token = tokens_ ? make_token(self_, text_, original.get(), start, end, position) : std::move(original);
        return token && put(std::move(token));
    }

    // The position the next word takes.
    Py_ssize_t position() const noexcept { return words_; }

    bool too_long() const noexcept { return too_long_; }

    bool put(Ref item) noexcept {
        Py_ssize_t filled = PyList_GET_SIZE(list_.get());
        if (filled == most_) {
            return PyList_Append(list_.get(), item.get()) == 0;  // not reached: most_ is a bound
        }
        PyList_SET_ITEM(list_.get(), filled, item.release());
        Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list_.get()), filled + 1);
        return true;
    }
    Ref take() noexcept { return std::move(list_); }

    Py_ssize_t size() const noexcept { return PyList_GET_SIZE(list_.get()); }

    // Drops what was put after the first `kept` items (a line given back to
    // the pure-Python path) and the positions they took, and forgets a word
    // too long to stem.
    void truncate(Py_ssize_t kept, Py_ssize_t position) noexcept {
        words_ = position;
        Py_ssize_t filled = size();
        Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list_.get()), kept);
        for (Py_ssize_t i = kept; i < filled; ++i) {
            Ref dropped = Ref::steal(PyList_GET_ITEM(list_.get(), i));
        }
        too_long_ = false;
    }

private:
    PassObject* self_;
    PyObject* text_;
    bool tokens_;
    bool drop_stop_;
    bool too_long_ = false;
    Py_ssize_t words_ = 0;
    Ref list_;
    Py_ssize_t most_;
};

// ---- running text

enum class Mode { stems, tokens, prepared };

// Whether `text` (exact str) is in the pass's normal form, by the interpreter's check.
int confirm_normal(PassObject* self, PyObject* text) noexcept {
    Ref answer = Ref::steal(PyObject_CallFunctionObjArgs(self->is_normalized, self->form, text, nullptr));
    if (!answer) {
        return -1;
    }
    return PyObject_IsTrue(answer.get());
}

// Whether a word marked unsure (KeyBuffer::unsure) is in the pass's normal
// form: 1 it is, 0 it is not (the pure-Python path prepares it), -1 error.
int confirm_word(PassObject* self, const KeyBuffer& key) noexcept {
    Ref word = Ref::steal(PyUnicode_DecodeUTF8(key.data(), key.size(), nullptr));
    if (!word) {
        return -1;
    }
    return confirm_normal(self, word.get());
}

// Both checks a word of running text may need: text[start:end] in the normal
// form as written (KeyBuffer::span_unsure), and after lower-casing
// (KeyBuffer::unsure). 1, 0 or -1 as for confirm_word.
int confirm_text_word(PassObject* self, PyObject* text, Py_ssize_t start, Py_ssize_t end, const KeyBuffer& key) noexcept {
    if (key.span_unsure()) {
        Ref span = Ref::steal(PyUnicode_Substring(text, start, end));
        int normal = span ? confirm_normal(self, span.get()) : -1;
        if (normal <= 0) {
            return normal;
        }
    }
    return key.unsure() ? confirm_word(self, key) : 1;
}

// Runs the words of `text` through `sink` (whose add() takes each word's
// place and prepared key, and whose too_long() tells why it refused one):
// done, python when the text is for the pure-Python path (the sink then
// holds a part of it, to be dropped), or error with an exception set.
template <typename Char, typename Sink>
Outcome scan_into(PassObject* self, PyObject* text, const Char* data, Py_ssize_t length, bool prepare_now,
                  Sink& sink) noexcept {
    KeyBuffer key;
    bool confirm = false;
    bool not_normal = false;  // a word marked unsure was not in the normal form
    Scan scan = scan_words(data, length, self->how, prepare_now, key, confirm,
                           [&](Py_ssize_t start, Py_ssize_t end, const KeyBuffer& word) {
                               if (word.unsure() || word.span_unsure()) {
                                   int normal = confirm_text_word(self, text, start, end, word);
                                   if (normal <= 0) {
                                       not_normal = normal == 0;
                                       return false;
                                   }
                               }
                               return sink.add(start, end, word);
                           });
    if (scan == Scan::python || (scan == Scan::error && (sink.too_long() || not_normal))) {
        return Outcome::python;
    }
    if (scan == Scan::error) {
        return Outcome::error;
    }
    if (confirm) {
        // The words stand only if the text was in the normal form already.
        int normal = confirm_normal(self, text);
        if (normal <= 0) {
            return normal == 0 ? Outcome::python : Outcome::error;
        }
    }
    return Outcome::done;
}

template <typename Char>
PyObject* analyse_text(PassObject* self, PyObject* text, const Char* data, Py_ssize_t length, Mode mode) noexcept {
    bool prepare_now = mode != Mode::prepared;
    if (!prepare_now && has_surrogate(data, length)) {
        Py_RETURN_NONE;
    }
    Collector collector(self, text, mode == Mode::tokens, true, most_words(data, length));
    if (!collector.ok()) {
        return nullptr;
    }
    switch (scan_into(self, text, data, length, prepare_now, collector)) {
    case Outcome::python:
        Py_RETURN_NONE;
    case Outcome::error:
        return nullptr;
    default:
        return collector.take().release();
    }
}

// The stems (or tokens) of the lines of `text` that the pass prepares alone,
// and the lines it leaves to the pure-Python path: (results, holes), each
// hole (index in results, start, end, position of its first word) of a line;
// positions after a hole count none of its words. Lines part at "\n", which no
// step of the chain crosses.
template <typename Char>
PyObject* analyse_lines(PassObject* self, PyObject* text, const Char* data, Py_ssize_t length, bool tokens) noexcept {
    Collector collector(self, text, tokens, true, most_words(data, length));
    Ref holes = Ref::steal(PyList_New(0));
    if (!collector.ok() || !holes) {
        return nullptr;
    }
    KeyBuffer key;
    for (Py_ssize_t start = 0;;) {
        const Char* newline = std::find(data + start, data + length, Char('\n'));
        Py_ssize_t end = newline - data;
        bool confirm = false;
        bool not_normal = false;
        Py_ssize_t kept = collector.size();
        Py_ssize_t position = collector.position();
        Scan scan = scan_words(data + start, end - start, self->how, true, key, confirm,
                               [&](Py_ssize_t word_start, Py_ssize_t word_end, const KeyBuffer& word) {
                                   if (word.unsure() || word.span_unsure()) {
                                       int normal =
                                           confirm_text_word(self, text, start + word_start, start + word_end, word);
                                       if (normal <= 0) {
                                           not_normal = normal == 0;
                                           return false;
                                       }
                                   }
                                   return collector.add(start + word_start, start + word_end, word);
                               });
        if (scan == Scan::error && !collector.too_long() && !not_normal) {
            return nullptr;
        }
        bool hole = scan != Scan::done;
        if (!hole && confirm) {
            Ref line = Ref::steal(PyUnicode_Substring(text, start, end));
            int normal = line ? confirm_normal(self, line.get()) : -1;
            if (normal < 0) {
                return nullptr;
            }
            hole = normal == 0;
        }
        if (hole) {
            collector.truncate(kept, position);
        }
        if (hole) {
            Ref entry = Ref::steal(Py_BuildValue("(nnnn)", collector.size(), start, end, position));
            if (!entry || PyList_Append(holes.get(), entry.get()) < 0) {
                return nullptr;
            }
        }
        if (end == length) {
            break;
        }
        start = end + 1;
    }
    Ref results = collector.take();
    return PyTuple_Pack(2, results.get(), holes.get());
}

}  // namespace

Outcome scan_text(PassObject* self, PyObject* text, WordSink& sink) noexcept {
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    void* data = PyUnicode_DATA(text);
    switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
        return scan_into(self, text, static_cast<const Py_UCS1*>(data), length, true, sink);
    case PyUnicode_2BYTE_KIND:
        return scan_into(self, text, static_cast<const Py_UCS2*>(data), length, true, sink);
    default:
        return scan_into(self, text, static_cast<const Py_UCS4*>(data), length, true, sink);
    }
}

namespace {

PyObject* dispatch_text(PyObject* self, PyObject* text, Mode mode) noexcept {
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "expected a str, not %T", text);
        return nullptr;
    }
    if (!PyUnicode_CheckExact(text)) {
        Py_RETURN_NONE;  // a subclass's methods may differ from str's
    }
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    void* data = PyUnicode_DATA(text);
    switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
        return analyse_text(as_pass(self), text, static_cast<const Py_UCS1*>(data), length, mode);
    case PyUnicode_2BYTE_KIND:
        return analyse_text(as_pass(self), text, static_cast<const Py_UCS2*>(data), length, mode);
    default:
        return analyse_text(as_pass(self), text, static_cast<const Py_UCS4*>(data), length, mode);
    }
}

PyObject* pass_text(PyObject* self, PyObject* text) noexcept {
    return dispatch_text(self, text, Mode::stems);
}

PyObject* pass_tokens(PyObject* self, PyObject* text) noexcept {
    return dispatch_text(self, text, Mode::tokens);
}

PyObject* pass_prepared_text(PyObject* self, PyObject* text) noexcept {
    return dispatch_text(self, text, Mode::prepared);
}

// lines(text, tokens, /) -> (list, holes)
PyObject* pass_lines(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2 || !PyUnicode_CheckExact(args[0])) {
        PyErr_SetString(PyExc_TypeError, "lines(text: str, tokens: bool, /)");
        return nullptr;
    }
    int tokens = PyObject_IsTrue(args[1]);
    if (tokens < 0) {
        return nullptr;
    }
    Ref text = Ref::borrow(args[0]);
    Py_ssize_t length = PyUnicode_GET_LENGTH(text.get());
    void* data = PyUnicode_DATA(text.get());
    switch (PyUnicode_KIND(text.get())) {
    case PyUnicode_1BYTE_KIND:
        return analyse_lines(as_pass(self), text.get(), static_cast<const Py_UCS1*>(data), length, tokens != 0);
    case PyUnicode_2BYTE_KIND:
        return analyse_lines(as_pass(self), text.get(), static_cast<const Py_UCS2*>(data), length, tokens != 0);
    default:
        return analyse_lines(as_pass(self), text.get(), static_cast<const Py_UCS4*>(data), length, tokens != 0);
    }
}

// ---- words already split

// One result per word, none dropped. With `prepare_now`, each word is
// prepared here; None when one needs the pure-Python path.
PyObject* analyse_words(PassObject* self, PyObject* words, bool prepare_now) noexcept {
    if (!PyList_CheckExact(words)) {
        PyErr_Format(PyExc_TypeError, "expected a list, not %T", words);
        return nullptr;
    }
    Py_ssize_t count = PyList_GET_SIZE(words);
    Ref results = Ref::steal(PyList_New(count));
    if (!results) {
        return nullptr;
    }
    // Filled in place; its length is always the part filled.
    Py_SET_SIZE(reinterpret_cast<PyVarObject*>(results.get()), 0);
    KeyBuffer key;
    for (Py_ssize_t i = 0; i < count && i < PyList_GET_SIZE(words); ++i) {
        Ref word = Ref::borrow(PyList_GET_ITEM(words, i));
        if (!PyUnicode_CheckExact(word.get())) {
            Py_RETURN_NONE;
        }
        Py_ssize_t length = PyUnicode_GET_LENGTH(word.get());
        key.clear();
        bool fine = true;
        auto encode = [&](auto* data) {
            if (!prepare_now) {
                if (has_surrogate(data, length)) {
                    fine = false;
                    return true;
                }
                return copy_span(data, 0, length, key);
            }
            if (self->how.mutation_letters.count != 0 && self->how.lowercase &&
                std::find(data, data + length, 0) != data + length) {
                // The pure-Python path takes a NUL as parting words, each with its own mutation.
                fine = false;
                return true;
            }
            if (!PyUnicode_IS_ASCII(word.get())) {
                bool confirm = false;
                if (check_text(data, length, self->how, false, confirm) == Scan::python) {
                    fine = false;
                    return true;
                }
                if (confirm) {
                    int normal = confirm_normal(self, word.get());
                    if (normal < 0) {
                        return false;
                    }
                    if (normal == 0) {
                        fine = false;
                        return true;
                    }
                }
            }
            Scan prepared = prepare_span(data, 0, length, self->how, key);
            if (prepared == Scan::done && key.unsure()) {
                int normal = confirm_word(self, key);
                if (normal < 0) {
                    return false;
                }
                fine = normal == 1;
                return true;
            }
            fine = prepared == Scan::done;
            return prepared != Scan::error;
        };
        bool encoded = true;
        switch (PyUnicode_KIND(word.get())) {
        case PyUnicode_1BYTE_KIND:
            encoded = encode(static_cast<const Py_UCS1*>(PyUnicode_DATA(word.get())));
            break;
        case PyUnicode_2BYTE_KIND:
            encoded = encode(static_cast<const Py_UCS2*>(PyUnicode_DATA(word.get())));
            break;
        default:
            encoded = encode(static_cast<const Py_UCS4*>(PyUnicode_DATA(word.get())));
        }
        if (!encoded) {
            return nullptr;
        }
        if (!fine || key.size() > INT_MAX) {
            Py_RETURN_NONE;
        }
        Ref made;
        bool stop = false;
        PyObject* result = result_of(self, key, made, stop);
        if (result == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(results.get(), i, Py_NewRef(result));
        Py_SET_SIZE(reinterpret_cast<PyVarObject*>(results.get()), i + 1);
        if ((i + 1) % davuzod::items_between_signal_checks == 0 && PyErr_CheckSignals() < 0) {
            return nullptr;
        }
    }
    return results.release();
}

PyObject* pass_words(PyObject* self, PyObject* words) noexcept {
    return analyse_words(as_pass(self), words, true);
}

PyObject* pass_prepared_words(PyObject* self, PyObject* words) noexcept {
    return analyse_words(as_pass(self), words, false);
}

// ---- lifecycle

int pass_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_pass(self)->form);
    Py_VISIT(as_pass(self)->is_normalized);
    Py_VISIT(as_pass(self)->fold);
    Py_VISIT(as_pass(self)->token);
    return 0;
}

int pass_clear(PyObject* self) noexcept {
    Py_CLEAR(as_pass(self)->form);
    Py_CLEAR(as_pass(self)->is_normalized);
    Py_CLEAR(as_pass(self)->fold);
    Py_CLEAR(as_pass(self)->token);
    return 0;
}

void pass_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    pass_clear(self);
    PassObject* pass = as_pass(self);
    pass->table.clear();
    if (pass->stemmer != nullptr) {
        sb_stemmer_delete(std::exchange(pass->stemmer, nullptr));
    }
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// Fills `set` with the characters of `text`; false (ValueError) when they do not fit.
bool code_set_from(PyObject* text, const char* name, CodeSet& set) noexcept {
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    if (length > CodeSet::capacity) {
        PyErr_Format(PyExc_ValueError, "%s holds at most %d characters, not %zd", name, CodeSet::capacity, length);
        return false;
    }
    set.count = static_cast<int>(length);
    for (Py_ssize_t i = 0; i < length; ++i) {
        set.codes[i] = PyUnicode_READ_CHAR(text, i);
    }
    return true;
}

// Pass(algorithm, lowercase, normalize, cache_size, entries, is_normalized, fold, token, kept_joiners, dotted_i,
//      mutation_letters, mutated_vowels, keep_original)
PyObject* pass_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"algorithm", "lowercase", "normalize", "cache_size", "entries",
                                     "is_normalized", "fold", "token", "kept_joiners", "dotted_i",
                                     "mutation_letters", "mutated_vowels", "keep_original", nullptr};
    const char* algorithm = nullptr;
    int lowercase = 0;
    PyObject* form = nullptr;
    Py_ssize_t cache_size = 0;
    PyObject* entries = nullptr;
    PyObject* is_normalized = nullptr;
    PyObject* fold = nullptr;
    PyObject* token = nullptr;
    PyObject* kept_joiners = nullptr;
    int dotted_i = 0;
    PyObject* mutation_letters = nullptr;
    PyObject* mutated_vowels = nullptr;
    int keep_original = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "spOnO!OOO!UpUUp:Pass", const_cast<char**>(keywords), &algorithm,
                                     &lowercase, &form, &cache_size, &PyDict_Type, &entries, &is_normalized, &fold,
                                     &PyType_Type, &token, &kept_joiners, &dotted_i, &mutation_letters,
                                     &mutated_vowels, &keep_original)) {
        return nullptr;
    }
    if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(token), &PyTuple_Type)) {
        PyErr_SetString(PyExc_TypeError, "token must be a tuple subclass");
        return nullptr;
    }
    bool nfc = false;
    bool nfkc = false;
    if (form != Py_None) {
        nfc = PyUnicode_Check(form) && PyUnicode_CompareWithASCIIString(form, "NFC") == 0;
        nfkc = PyUnicode_Check(form) && PyUnicode_CompareWithASCIIString(form, "NFKC") == 0;
        if (!nfc && !nfkc) {
            PyErr_Format(PyExc_ValueError, "normalize must be 'NFC', 'NFKC' or None, not %R", form);
            return nullptr;
        }
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    PassObject* pass = as_pass(self.get());
    pass->stemmer = sb_stemmer_new(algorithm, "UTF_8");
    if (pass->stemmer == nullptr) {
        PyErr_Format(PyExc_KeyError, "libstemmer has no algorithm %s", algorithm);
        return nullptr;
    }
    pass->form = Py_NewRef(form);
    pass->is_normalized = Py_NewRef(is_normalized);
    pass->fold = Py_NewRef(fold);
    pass->token = Py_NewRef(token);
    pass->table.bound = cache_size;
    pass->keep_original = keep_original != 0;
    Preparing& how = pass->how;
    how.lowercase = lowercase != 0;
    how.normal_form = nfc || nfkc;
    how.unsure = nfc ? char_nfc_unsure : nfkc ? char_nfkc_unsure : 0;
    how.harmless = nfc ? char_nfc_harmless : nfkc ? char_nfkc_harmless : 0;
    how.dotted_i = dotted_i != 0;
    if (!code_set_from(kept_joiners, "kept_joiners", how.kept_joiners) ||
        !code_set_from(mutation_letters, "mutation_letters", how.mutation_letters) ||
        !code_set_from(mutated_vowels, "mutated_vowels", how.mutated_vowels)) {
        return nullptr;
    }
    // The settings' words: prepared word -> (result, whether a stop word).
    PyObject* word = nullptr;
    PyObject* entry = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(entries, &position, &word, &entry)) {
        PyObject* result = nullptr;
        int stop = 0;
        if (!PyUnicode_Check(word) || !PyArg_ParseTuple(entry, "Up:entry", &result, &stop)) {
            if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_TypeError, "entries must map a str to (str, bool)");
            }
            return nullptr;
        }
        Py_ssize_t size = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(word, &size);
        if (bytes == nullptr) {
            return nullptr;
        }
        Py_hash_t hash = hash_word(bytes, size);
        if (pass->table.find(bytes, size, hash) == nullptr &&
            !pass->table.insert(bytes, size, hash, result, stop != 0, true)) {
            return nullptr;
        }
    }
    return self.release();
}

PyMethodDef pass_methods[] = {
    {"count", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(pass_count)), METH_FASTCALL, pass_count_doc},
    {"arrow", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(pass_arrow)), METH_FASTCALL, pass_arrow_doc},
    {"hash_count", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(pass_hash_count)), METH_FASTCALL,
     pass_hash_count_doc},
    {"text", pass_text, METH_O, "text(text, /) -> list[str] | None: the stems of running text, stop words dropped."},
    {"tokens", pass_tokens, METH_O, "tokens(text, /) -> list[Token] | None: each word's stem and place in text."},
    {"lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(pass_lines)), METH_FASTCALL,
     "lines(text, tokens, /) -> (results, holes): text or tokens line by line, with the lines left to Python."},
    {"prepared_text", pass_prepared_text, METH_O,
     "prepared_text(text, /) -> list[str] | None: text.text for text that is already prepared."},
    {"words", pass_words, METH_O, "words(words, /) -> list[str] | None: one result per word, none dropped."},
    {"prepared_words", pass_prepared_words, METH_O,
     "prepared_words(words, /) -> list[str] | None: words for words that are already prepared."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot pass_slots[] = {
    {Py_tp_doc, const_cast<char*>(
        "Pass(algorithm, lowercase, normalize, cache_size, entries, is_normalized, fold, token, kept_joiners,\n"
        "     dotted_i, mutation_letters, mutated_vowels, keep_original)\n\n"
        "An analyzer's settings compiled: running text to stems in one pass. Each\n"
        "method returns None for input it leaves to the pure-Python path.")},
    {Py_tp_new, reinterpret_cast<void*>(pass_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pass_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(pass_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(pass_clear)},
    {Py_tp_methods, pass_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec pass_spec = {
    .name = "lexvale._analysis.Pass",
    .basicsize = sizeof(PassObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = pass_slots,
};

}  // namespace lexvale
