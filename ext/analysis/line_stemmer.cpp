// LineStemmer: word lists stemmed as libstemmer's stemwords writes them, bytes in, bytes out.
#include "line_stemmer.h"

#include <libstemmer.h>

#include <climits>
#include <cstring>
#include <utility>

#include "../binding/ref.h"
#include "../binding/signals.h"

namespace lexvale {

using davuzod::Ref;

namespace {

struct LineStemmerObject {
    PyObject_HEAD
    sb_stemmer* stemmer;  // owned
};

LineStemmerObject* as_line_stemmer(PyObject* self) noexcept {
    return reinterpret_cast<LineStemmerObject*>(self);
}

// The output, grown geometrically in memory of its own and made bytes once.
class Output {
public:
    Output() noexcept = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { PyMem_Free(data_); }

    bool append(const void* bytes, std::size_t size) noexcept {
        if (size == 0) {  // nothing to copy, perhaps into no buffer yet
            return true;
        }
        if (size_ + size > capacity_) {
            std::size_t capacity = capacity_ == 0 ? 1 << 16 : capacity_;
            while (capacity < size_ + size) {
                capacity *= 2;
            }
            char* bigger = static_cast<char*>(PyMem_Realloc(data_, capacity));
            if (bigger == nullptr) {
                PyErr_NoMemory();
                return false;
            }
            data_ = bigger;
            capacity_ = capacity;
        }
        std::memcpy(data_ + size_, bytes, size);
        size_ += size;
        return true;
    }

    Ref take() noexcept { return Ref::steal(PyBytes_FromStringAndSize(data_, static_cast<Py_ssize_t>(size_))); }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// stem_lines(chunk, pairs, /) -> bytes
//
// `chunk` holds lines separated by b"\n", the last without its newline. Each
// line is one word: its ASCII capitals lower-cased (and nothing else, as
// stemwords does), stemmed by libstemmer as the bytes it is (UTF-8 or not),
// and written as the stem up to its first NUL, or with `pairs` as
// b"word -> stem", each followed by b"\n".
PyObject* line_stemmer_stem_lines(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2 || !PyBytes_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "stem_lines(chunk: bytes, pairs: bool, /)");
        return nullptr;
    }
    int pairs = PyObject_IsTrue(args[1]);
    if (pairs < 0) {
        return nullptr;
    }
    // A reference of our own: the bytes stay while we read them.
    Ref chunk = Ref::borrow(args[0]);
    const char* data = PyBytes_AS_STRING(chunk.get());
    Py_ssize_t length = PyBytes_GET_SIZE(chunk.get());
    sb_stemmer* stemmer = as_line_stemmer(self)->stemmer;
    Output output;
    char inline_word[256];
    char* word = inline_word;
    std::size_t word_capacity = sizeof(inline_word);
    struct Free {
        char*& word;
        char* inline_word;
        ~Free() {
            if (word != inline_word) {
                PyMem_Free(word);
            }
        }
    } free_word{word, inline_word};
    Py_ssize_t start = 0;
    Py_ssize_t lines = 0;
    for (;;) {
        const void* newline = std::memchr(data + start, '\n', static_cast<std::size_t>(length - start));
        Py_ssize_t end = newline ? static_cast<const char*>(newline) - data : length;
        std::size_t size = static_cast<std::size_t>(end - start);
        if (size > INT_MAX) {
            PyErr_Format(PyExc_OverflowError, "a line of %zu bytes is too long to stem", size);
            return nullptr;
        }
        if (size > word_capacity) {
            char* bigger = static_cast<char*>(word == inline_word ? PyMem_Malloc(size) : PyMem_Realloc(word, size));
            if (bigger == nullptr) {
                PyErr_NoMemory();
                return nullptr;
            }
            word = bigger;
            word_capacity = size;
        }
        for (std::size_t k = 0; k < size; ++k) {
            unsigned char byte = static_cast<unsigned char>(data[start + static_cast<Py_ssize_t>(k)]);
            word[k] = static_cast<char>(static_cast<unsigned>(byte) - 'A' < 26u ? byte | 0x20 : byte);
        }
        const sb_symbol* stem = sb_stemmer_stem(stemmer, reinterpret_cast<const sb_symbol*>(word), static_cast<int>(size));
        if (stem == nullptr) {
            PyErr_NoMemory();
            return nullptr;
        }
        std::size_t stem_size = static_cast<std::size_t>(sb_stemmer_length(stemmer));
        if (const void* nul = std::memchr(stem, '\0', stem_size)) {
            stem_size = static_cast<std::size_t>(static_cast<const sb_symbol*>(nul) - stem);
        }
        if (pairs && (!output.append(word, size) || !output.append(" -> ", 4))) {
            return nullptr;
        }
        if (!output.append(stem, stem_size) || !output.append("\n", 1)) {
            return nullptr;
        }
        if (++lines % davuzod::items_between_signal_checks == 0 && PyErr_CheckSignals() < 0) {
            return nullptr;
        }
        if (newline == nullptr) {
            break;
        }
        start = end + 1;
    }
    return output.take().release();
}

void line_stemmer_dealloc(PyObject* self) noexcept {
    if (sb_stemmer* stemmer = std::exchange(as_line_stemmer(self)->stemmer, nullptr)) {
        sb_stemmer_delete(stemmer);
    }
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* line_stemmer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static const char* keywords[] = {"algorithm", nullptr};
    const char* algorithm = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s:LineStemmer", const_cast<char**>(keywords), &algorithm)) {
        return nullptr;
    }
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) {
        return nullptr;
    }
    as_line_stemmer(self.get())->stemmer = sb_stemmer_new(algorithm, "UTF_8");
    if (as_line_stemmer(self.get())->stemmer == nullptr) {
        PyErr_Format(PyExc_KeyError, "libstemmer has no algorithm %s", algorithm);
        return nullptr;
    }
    return self.release();
}

PyMethodDef line_stemmer_methods[] = {
    {"stem_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(line_stemmer_stem_lines)), METH_FASTCALL,
     "stem_lines(chunk, pairs, /) -> bytes: each line of chunk stemmed as stemwords writes it."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot line_stemmer_slots[] = {
    {Py_tp_doc, const_cast<char*>("LineStemmer(algorithm)\n\nWord lists stemmed as libstemmer's stemwords writes them.")},
    {Py_tp_new, reinterpret_cast<void*>(line_stemmer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(line_stemmer_dealloc)},
    {Py_tp_methods, line_stemmer_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec line_stemmer_spec = {
    .name = "lexvale._analysis.LineStemmer",
    .basicsize = sizeof(LineStemmerObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = line_stemmer_slots,
};

}  // namespace lexvale
