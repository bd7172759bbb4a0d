// Counting a corpus's words straight into the arrays of a sparse matrix.
//
// Each document's words go from the scan to a column and a value without a
// Python object of their own: a stem that the table holds is looked up in
// the vocabulary (or hashed) as it is. A document the pass leaves to the
// pure-Python path, or one that is not an exact str, is analysed by the
// vectorizer's own callable, and its features counted here all the same.
#include "counting.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "../binding/buffer.h"
#include "../binding/ref.h"
#include "../binding/signals.h"
#include "pass_object.h"

namespace lexvale {

using davuzod::Buffer;
using davuzod::Ref;

namespace {

// The arrays of a CSR matrix, a row (a document) at a time.
template <typename Value>
struct Rows {
    Buffer<std::int64_t> indices;
    Buffer<std::int64_t> indptr;  // starts with 0 (start())
    Buffer<Value> values;

    bool start() noexcept { return indptr.push_back(0); }

    bool end_row() noexcept { return indptr.push_back(static_cast<std::int64_t>(indices.size())); }

    template <typename Item>
    static PyObject* bytes_of(const Buffer<Item>& items) noexcept {
        return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(items.data()),
                                             static_cast<Py_ssize_t>(items.size() * sizeof(Item)));
    }

    // (indices, indptr, values), each a bytearray of the machine's int64 or double.
    PyObject* arrays() const noexcept {
        Ref columns = Ref::steal(bytes_of(indices));
        Ref starts = columns ? Ref::steal(bytes_of(indptr)) : Ref();
        Ref data = starts ? Ref::steal(bytes_of(values)) : Ref();
        return data ? PyTuple_Pack(3, columns.get(), starts.get(), data.get()) : nullptr;
    }
};

// A mark no entry of the pass's table holds yet, for one counting call.
std::uint32_t new_mark(PassObject* pass) noexcept {
    if (++pass->last_mark == 0) {
        pass->table.clear_marks();
        pass->last_mark = 1;
    }
    return pass->last_mark;
}

// What a row builder knew, or learnt, of a feature that is the result of a
// word in the pass's table: the entry keeps it under the call's mark, so
// that the word's next occurrence costs no look-up.
struct Memo {
    bool known = false;   // `bits` is what the entry kept
    bool learnt = false;  // `bits` is new, for the entry to keep
    std::uint32_t bits = 0;
};

// What a row is made of: each feature (a str) becomes a column and a value.
class RowBuilder {
public:
    // Adds `feature` (held by the caller); `memo` where its word has an entry. False with an error set.
    virtual bool add(PyObject* feature, Memo* memo) noexcept = 0;
    virtual bool end_row() noexcept = 0;  // false with an error set
    // Forgets what was added since the last row ended; false with an error set.
    virtual bool drop_row() noexcept = 0;
    virtual PyObject* arrays() const noexcept = 0;
    // The mark under which entries keep what this call made of their words.
    virtual std::uint32_t mark() const noexcept = 0;

protected:
    ~RowBuilder() = default;
};

// Counts by vocabulary: a new feature takes the next column, as
// scikit-learn's vectorizers number them, unless the vocabulary is fixed.
class CountRows final : public RowBuilder {
public:
    CountRows(PassObject* pass, PyObject* vocabulary, bool fixed) noexcept
        : pass_(pass), vocabulary_(vocabulary), fixed_(fixed), mark_(new_mark(pass)) {}

    ~CountRows() { forget_added(); }

    bool start() noexcept { return rows_.start(); }

    bool add(PyObject* feature, Memo* memo) noexcept override {
        if (memo != nullptr && memo->known) {
            return memo->bits == absent || count(memo->bits);
        }
        PyObject* found = nullptr;
        int has = PyDict_GetItemRef(vocabulary_, feature, &found);
        if (has < 0) {
            return false;
        }
        Py_ssize_t column = 0;
        if (has) {
            // NumPy's integers too: scikit-learn's pruning leaves them in the vocabulary.
            Ref held = Ref::steal(found);
            Ref index = Ref::steal(PyNumber_Index(held.get()));
            column = index ? PyLong_AsSsize_t(index.get()) : -1;
            if (column == -1 && PyErr_Occurred()) {
                return false;
            }
            if (column < 0) {
                PyErr_Format(PyExc_ValueError, "the vocabulary gives %R the column %zd", feature, column);
                return false;
            }
        } else if (fixed_) {
            learn(memo, absent);
            return true;  // not a feature of this vocabulary
        } else {
            column = PyDict_GET_SIZE(vocabulary_);
            Ref number = Ref::steal(PyLong_FromSsize_t(column));
            if (!number || PyDict_SetItem(vocabulary_, feature, number.get()) < 0) {
                return false;
            }
            if (!added_.push_back(Py_NewRef(feature))) {
                Py_DECREF(feature);
                return false;
            }
        }
        if (static_cast<std::size_t>(column) < absent) {
            learn(memo, static_cast<std::uint32_t>(column));
        }
        return count(column);
    }

    std::uint32_t mark() const noexcept override { return mark_; }

    bool end_row() noexcept override {
        for (std::int64_t column : touched_) {
            auto& count = counts_[static_cast<std::size_t>(column)];
            if (!rows_.indices.push_back(column) || !rows_.values.push_back(count)) {
                return false;
            }
            count = 0;
        }
        touched_.clear();
        forget_added();
        return rows_.end_row();
    }

    bool drop_row() noexcept override {
        for (std::int64_t column : touched_) {
            counts_[static_cast<std::size_t>(column)] = 0;
        }
        touched_.clear();
        if (added_.empty()) {
            return true;
        }
        // The features this row added leave the vocabulary (they were its
        // last columns), and so do the columns entries learnt meanwhile.
        for (std::size_t i = added_.size(); i > 0; --i) {
            if (PyDict_DelItem(vocabulary_, added_[i - 1]) < 0) {
                return false;
            }
        }
        forget_added();
        mark_ = new_mark(pass_);
        return true;
    }

    PyObject* arrays() const noexcept override { return rows_.arrays(); }

private:
    static constexpr std::uint32_t absent = UINT32_MAX;  // an entry's column when a fixed vocabulary lacks it

    static void learn(Memo* memo, std::uint32_t bits) noexcept {
        if (memo != nullptr) {
            memo->learnt = true;
            memo->bits = bits;
        }
    }

    bool count(Py_ssize_t column) noexcept {
        auto at = static_cast<std::size_t>(column);
        if (at >= counts_.size() && !counts_.resize(std::max(at + 1, 2 * counts_.size()), 0)) {
            return false;
        }
        if (counts_[at]++ == 0 && !touched_.push_back(column)) {
            return false;
        }
        return true;
    }

    void forget_added() noexcept {
        for (PyObject* feature : added_) {
            Py_DECREF(feature);
        }
        added_.clear();
    }

    PassObject* pass_;
    PyObject* vocabulary_;  // borrowed: the caller's dict
    bool fixed_;
    std::uint32_t mark_;
    Buffer<PyObject*> added_;        // strong: the features the row being made added to the vocabulary
    Buffer<std::int64_t> counts_;    // by column, for the row being made; zero elsewhere
    Buffer<std::int64_t> touched_;   // the columns of the row being made, in first-seen order
    Rows<std::int64_t> rows_;
};

std::uint32_t rotate_left(std::uint32_t value, int by) noexcept {
    return (value << by) | (value >> (32 - by));
}

// MurmurHash3's 32-bit hash, as scikit-learn's hashing vectorizers take it of
// each feature's UTF-8 bytes.
std::int32_t murmurhash3_32(const char* data, std::size_t length, std::uint32_t seed) noexcept {
    constexpr std::uint32_t c1 = 0xcc9e2d51;
    constexpr std::uint32_t c2 = 0x1b873593;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::uint32_t hash = seed;
    std::size_t blocks = length / 4;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint32_t block = 0;
        std::memcpy(&block, bytes + 4 * i, 4);
        block *= c1;
        block = rotate_left(block, 15);
        block *= c2;
        hash ^= block;
        hash = rotate_left(hash, 13);
        hash = hash * 5 + 0xe6546b64;
    }
    const unsigned char* tail = bytes + 4 * blocks;
    std::uint32_t last = 0;
    switch (length & 3) {
    case 3:
        last ^= static_cast<std::uint32_t>(tail[2]) << 16;
        [[fallthrough]];
    case 2:
        last ^= static_cast<std::uint32_t>(tail[1]) << 8;
        [[fallthrough]];
    case 1:
        last ^= tail[0];
        last *= c1;
        last = rotate_left(last, 15);
        last *= c2;
        hash ^= last;
        break;
    default:
        break;
    }
    hash ^= static_cast<std::uint32_t>(length);
    hash ^= hash >> 16;
    hash *= 0x85ebca6b;
    hash ^= hash >> 13;
    hash *= 0xc2b2ae35;
    hash ^= hash >> 16;
    return static_cast<std::int32_t>(hash);
}

// Hashes features into n_features columns, as scikit-learn's hashing
// vectorizer does: the column is |hash| modulo n_features, and the value 1,
// or the hash's sign with alternate_sign. A row's columns come out sorted,
// each once with its values summed (zeros included), as its sum_duplicates()
// leaves them.
class HashRows final : public RowBuilder {
public:
    HashRows(PassObject* pass, std::int64_t n_features, bool alternate_sign) noexcept
        : n_features_(n_features), alternate_sign_(alternate_sign), mark_(new_mark(pass)) {}

    bool add(PyObject* feature, Memo* memo) noexcept override {
        if (memo != nullptr && memo->known) {
            // The column in the low 31 bits, a negative value in the top one.
            return row_.push_back({memo->bits & 0x7fffffff, memo->bits >> 31 ? -1.0 : 1.0});
        }
        Py_ssize_t size = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(feature, &size);
        if (bytes == nullptr) {
            return false;
        }
        std::int32_t hash = murmurhash3_32(bytes, static_cast<std::size_t>(size), 0);
        std::int64_t magnitude = hash < 0 ? -static_cast<std::int64_t>(hash) : hash;
        bool negative = alternate_sign_ && hash < 0;
        std::int64_t column = magnitude % n_features_;
        if (!row_.push_back({column, negative ? -1.0 : 1.0})) {
            return false;
        }
        if (memo != nullptr && n_features_ <= 0x7fffffff) {
            memo->learnt = true;
            memo->bits = static_cast<std::uint32_t>(column) | (negative ? 0x80000000u : 0u);
        }
        return true;
    }

    std::uint32_t mark() const noexcept override { return mark_; }

    bool start() noexcept { return rows_.start(); }

    bool end_row() noexcept override {
        std::sort(row_.begin(), row_.end(), [](const Hashed& a, const Hashed& b) { return a.column < b.column; });
        for (std::size_t i = 0; i < row_.size();) {
            std::int64_t column = row_[i].column;
            double sum = 0;
            for (; i < row_.size() && row_[i].column == column; ++i) {
                sum += row_[i].value;
            }
            if (!rows_.indices.push_back(column) || !rows_.values.push_back(sum)) {
                return false;
            }
        }
        row_.clear();
        return rows_.end_row();
    }

    bool drop_row() noexcept override {
        row_.clear();
        return true;
    }

    PyObject* arrays() const noexcept override { return rows_.arrays(); }

private:
    std::int64_t n_features_;
    bool alternate_sign_;
    std::uint32_t mark_;
    struct Hashed {
        std::int64_t column;
        double value;
    };
    Buffer<Hashed> row_;
    Rows<double> rows_;
};

// The pass's words of a text, as features of a row: stop words dropped,
// originals kept where the pass keeps them, as the analyzer's call gives them.
class FeatureSink final : public WordSink {
public:
    FeatureSink(PassObject* pass, RowBuilder& rows) noexcept : pass_(pass), rows_(rows) {}

    bool add(Py_ssize_t, Py_ssize_t, const KeyBuffer& key) noexcept override {
        if (key.size() > INT_MAX) {
            too_long_ = true;  // libstemmer takes no longer word; the pure-Python path says so
            return false;
        }
        Ref made;
        bool stop = false;
        WordEntry* entry = nullptr;
        PyObject* result = result_of(pass_, key, made, stop, &entry);
        if (result == nullptr) {
            return false;
        }
        // Held: a signal handler, the vocabulary's look-up or folding may run
        // Python code that uses this pass and changes its table. For the
        // same reason the entry is read now, and found again to be written.
        Ref stem = Ref::borrow(result);
        Memo memo;
        Memo* known = nullptr;
        if (entry != nullptr) {
            known = &memo;
            if (entry->mark == rows_.mark()) {
                memo.known = true;
                memo.bits = entry->column;
            }
        }
        entry = nullptr;
        if (++words_ % davuzod::items_between_signal_checks == 0 && PyErr_CheckSignals() < 0) {
            return false;
        }
        if (stop) {
            return true;
        }
        if (!rows_.add(stem.get(), known)) {
            return false;
        }
        if (memo.learnt) {
            keep(key, stem.get(), memo.bits);
        }
        Ref original;
        int kept = original_of(pass_, key, stem.get(), original);
        return kept == 0 || (kept == 1 && rows_.add(original.get(), nullptr));
    }

    bool too_long() const noexcept override { return too_long_; }

    void reset() noexcept { too_long_ = false; }

private:
    // The entry of `key`, if it still gives `stem`, keeps `bits` under the call's mark.
    void keep(const KeyBuffer& key, PyObject* stem, std::uint32_t bits) noexcept {
        WordEntry* entry = pass_->table.find(key.data(), key.size(), hash_word(key.data(), key.size()));
        if (entry != nullptr && entry->value == stem) {
            entry->mark = rows_.mark();
            entry->column = bits;
        }
    }

    PassObject* pass_;
    RowBuilder& rows_;
    bool too_long_ = false;
    Py_ssize_t words_ = 0;
};

// A row for each document: scanned by the pass where `analyse` and it can,
// else the features `fallback(document)` gives (a list of str).
PyObject* fill_rows(PassObject* self, PyObject* documents, PyObject* fallback, bool analyse,
                    RowBuilder& rows) noexcept {
    Ref iterator = Ref::steal(PyObject_GetIter(documents));
    if (!iterator) {
        return nullptr;
    }
    FeatureSink sink(self, rows);
    while (Ref document = Ref::steal(PyIter_Next(iterator.get()))) {
        bool done = false;
        if (analyse && PyUnicode_CheckExact(document.get())) {
            Outcome outcome = scan_text(self, document.get(), sink);
            if (outcome == Outcome::error) {
                return nullptr;
            }
            done = outcome == Outcome::done;
            if (!done) {
                if (!rows.drop_row()) {
                    return nullptr;
                }
                sink.reset();
            }
        }
        if (!done && !add_fallback_results(fallback, document.get(),
                                           [&](PyObject* feature) { return rows.add(feature, nullptr); })) {
            return nullptr;
        }
        if (!rows.end_row()) {
            return nullptr;
        }
    }
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return rows.arrays();
}

bool read_flag(PyObject* value, bool& flag) noexcept {
    int truth = PyObject_IsTrue(value);
    flag = truth == 1;
    return truth >= 0;
}

}  // namespace

const char pass_count_doc[] =
    "count(documents, vocabulary, fixed, fallback, analyse, /) -> (indices, indptr, counts)\n\n"
    "Each document's features counted by the columns of `vocabulary` (a dict, to which new features are added\n"
    "unless `fixed`), as the arrays of a CSR matrix (bytearrays of int64). With `analyse`, an exact str is\n"
    "scanned by the pass; other documents, and those it leaves to Python, are analysed by `fallback`.";

PyObject* pass_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
    bool fixed = false;
    bool analyse = false;
    if (nargs != 5 || !PyDict_CheckExact(args[1]) || !read_flag(args[2], fixed) || !read_flag(args[4], analyse)) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "count(documents, vocabulary: dict, fixed, fallback, analyse, /)");
        }
        return nullptr;
    }
    CountRows rows(as_pass(self), args[1], fixed);
    if (!rows.start()) {
        return nullptr;
    }
    return fill_rows(as_pass(self), args[0], args[3], analyse, rows);
}

const char pass_hash_count_doc[] =
    "hash_count(documents, n_features, alternate_sign, fallback, analyse, /) -> (indices, indptr, values)\n\n"
    "Each document's features hashed into n_features columns, as scikit-learn's hashing vectorizer does, as\n"
    "the arrays of a CSR matrix (bytearrays of int64, int64 and double), each row's columns sorted and once.";

PyObject* pass_hash_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
    bool alternate_sign = false;
    bool analyse = false;
    if (nargs != 5 || !read_flag(args[2], alternate_sign) || !read_flag(args[4], analyse)) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError,
                            "hash_count(documents, n_features, alternate_sign, fallback, analyse, /)");
        }
        return nullptr;
    }
    Ref number = Ref::steal(PyNumber_Index(args[1]));  // NumPy's integers too, as parameter grids give them
    Py_ssize_t n_features = number ? PyLong_AsSsize_t(number.get()) : -1;
    if (n_features == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    if (n_features < 1) {
        PyErr_Format(PyExc_ValueError, "n_features must be at least 1, not %zd", n_features);
        return nullptr;
    }
    HashRows rows(as_pass(self), n_features, alternate_sign);
    if (!rows.start()) {
        return nullptr;
    }
    return fill_rows(as_pass(self), args[0], args[3], analyse, rows);
}

}  // namespace lexvale
