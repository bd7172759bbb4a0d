// Arrow columns in and out: a column of strings read through the Arrow C data
// interface, and the stems of each of its rows written as a list<string>
// column, without a Python object per word. The result is held by a capsule
// (lexvale.columns.StemColumn keeps it) and exported, as often as asked, as
// Arrow arrays and streams that share its buffers.
#include "arrow_column.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "../binding/buffer.h"
#include "../binding/ref.h"
#include "../binding/signals.h"
#include "arrow_abi.h"
#include "pass_object.h"

namespace lexvale {

using davuzod::Buffer;
using davuzod::Ref;

namespace {

constexpr const char* column_capsule_name = "lexvale.stem_column";

// ---- the result, shared by its exports

struct StemColumn {
    std::atomic<long> references{1};
    std::int64_t rows_made = 0;
    std::int64_t null_count = 0;
    Buffer<std::uint8_t> validity;   // a bit per row, 1 for a row that is not null
    Buffer<std::int64_t> rows;       // each row's first item, and the end
    Buffer<std::int64_t> items;      // each item's first byte, and the end
    Buffer<char> data;               // the items' UTF-8
    // As exported: 32-bit offsets where they fit (list<string>), else 64-bit.
    bool large_rows = false;
    bool large_items = false;
    Buffer<std::int32_t> rows32;
    Buffer<std::int32_t> items32;

    bool start() noexcept { return rows.push_back(0) && items.push_back(0); }

    std::int64_t length() const noexcept { return rows_made; }

    std::size_t item_count() const noexcept { return items.size() - 1; }

    bool add_row(bool valid) noexcept {
        std::int64_t row = rows_made;
        if (static_cast<std::size_t>(row / 8) >= validity.size() && !validity.push_back(0)) {
            return false;
        }
        if (valid) {
            validity[static_cast<std::size_t>(row / 8)] |= static_cast<std::uint8_t>(1u << (row % 8));
        } else {
            ++null_count;
        }
        if (!rows.push_back(static_cast<std::int64_t>(item_count()))) {
            return false;
        }
        ++rows_made;
        return true;
    }

    bool add_item(const char* bytes, std::size_t size) noexcept {
        return data.append(bytes, size) && items.push_back(static_cast<std::int64_t>(data.size()));
    }

    // Back to `count` items (a row given back to Python).
    void truncate(std::size_t count) noexcept {
        items.resize(count + 1);  // shrinks: no allocation
        data.resize(static_cast<std::size_t>(items.back()));
    }

    // Offsets as exported: 32-bit copies where they fit, and the 64-bit ones freed.
    bool finish() noexcept {
        large_items = items.back() > INT32_MAX;
        large_rows = rows.back() > INT32_MAX;
        if (!large_items) {
            if (!items32.resize(items.size())) {
                return false;
            }
            for (std::size_t i = 0; i < items.size(); ++i) {
                items32[i] = static_cast<std::int32_t>(items[i]);
            }
            items.release_memory();
        }
        if (!large_rows) {
            if (!rows32.resize(rows.size())) {
                return false;
            }
            for (std::size_t i = 0; i < rows.size(); ++i) {
                rows32[i] = static_cast<std::int32_t>(rows[i]);
            }
            rows.release_memory();
        }
        return true;
    }

    std::int64_t exported_items() const noexcept {
        return static_cast<std::int64_t>(large_items ? items.size() : items32.size()) - 1;
    }
};

void unref(StemColumn* column) noexcept {
    if (column->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete column;
    }
}

StemColumn* ref(StemColumn* column) noexcept {
    column->references.fetch_add(1, std::memory_order_relaxed);
    return column;
}

// ---- exports

struct ExportedItems {
    StemColumn* column;
    const void* buffers[3];
};

void release_items(ArrowArray* array) noexcept {
    auto* exported = static_cast<ExportedItems*>(array->private_data);
    unref(exported->column);
    delete exported;
    array->release = nullptr;
}

struct ExportedRows {
    StemColumn* column;
    const void* buffers[2];
    ArrowArray items;
    ArrowArray* children[1];
};

void release_rows(ArrowArray* array) noexcept {
    auto* exported = static_cast<ExportedRows*>(array->private_data);
    if (exported->items.release != nullptr) {  // not moved out by the consumer
        exported->items.release(&exported->items);
    }
    unref(exported->column);
    delete exported;
    array->release = nullptr;
}

bool export_array(StemColumn* column, ArrowArray* out) noexcept {
    auto* items = new (std::nothrow) ExportedItems{ref(column), {}};
    auto* rows = items == nullptr ? nullptr : new (std::nothrow) ExportedRows{ref(column), {}, {}, {}};
    if (rows == nullptr) {  // the caller says so: a consumer's thread may hold no interpreter lock
        if (items != nullptr) {
            unref(items->column);
            delete items;
        }
        return false;
    }
    items->buffers[0] = nullptr;
    items->buffers[1] = column->large_items ? static_cast<const void*>(column->items.data()) : column->items32.data();
    static const char no_bytes[1] = {0};  // a buffer of no bytes is still a buffer
    items->buffers[2] = column->data.size() > 0 ? column->data.data() : no_bytes;
    rows->items = ArrowArray{column->exported_items(), 0, 0, 3, 0, items->buffers,
                             nullptr, nullptr, release_items, items};
    rows->children[0] = &rows->items;
    rows->buffers[0] = column->null_count > 0 ? column->validity.data() : nullptr;
    rows->buffers[1] = column->large_rows ? static_cast<const void*>(column->rows.data()) : column->rows32.data();
    *out = ArrowArray{column->length(), column->null_count, 0, 2, 1, rows->buffers, rows->children, nullptr,
                      release_rows, rows};
    return true;
}

struct ExportedSchema {
    ArrowSchema item;
    ArrowSchema* children[1];
};

void release_item_schema(ArrowSchema* schema) noexcept {
    schema->release = nullptr;
}

void release_schema(ArrowSchema* schema) noexcept {
    auto* exported = static_cast<ExportedSchema*>(schema->private_data);
    if (exported->item.release != nullptr) {
        exported->item.release(&exported->item);
    }
    delete exported;
    schema->release = nullptr;
}

bool export_schema(const StemColumn* column, ArrowSchema* out) noexcept {
    auto* exported = new (std::nothrow) ExportedSchema{};
    if (exported == nullptr) {  // the caller says so, as above
        return false;
    }
    exported->item = ArrowSchema{column->large_items ? "U" : "u", "item", nullptr, ARROW_FLAG_NULLABLE, 0,
                                 nullptr, nullptr, release_item_schema, nullptr};
    exported->children[0] = &exported->item;
    *out = ArrowSchema{column->large_rows ? "+L" : "+l", "", nullptr, ARROW_FLAG_NULLABLE, 1, exported->children,
                       nullptr, release_schema, exported};
    return true;
}

// A stream of the one array.
struct ExportedStream {
    StemColumn* column;
    bool done;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    return export_schema(exported->column, out) ? 0 : ENOMEM;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    if (exported->done) {
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    if (!export_array(exported->column, out)) {
        return ENOMEM;
    }
    exported->done = true;
    return 0;
}

const char* stream_error(ArrowArrayStream*) noexcept {
    return "out of memory";
}

void release_stream(ArrowArrayStream* stream) noexcept {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    unref(exported->column);
    delete exported;
    stream->release = nullptr;
}

// Capsules own what they carry until a consumer moves it out (and leaves its release null).
void free_schema_capsule(PyObject* capsule) noexcept {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    if (schema != nullptr && schema->release != nullptr) {
        schema->release(schema);
    }
    std::free(schema);
}

void free_array_capsule(PyObject* capsule) noexcept {
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, "arrow_array"));
    if (array != nullptr && array->release != nullptr) {
        array->release(array);
    }
    std::free(array);
}

void free_stream_capsule(PyObject* capsule) noexcept {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (stream != nullptr && stream->release != nullptr) {
        stream->release(stream);
    }
    std::free(stream);
}

void free_column_capsule(PyObject* capsule) noexcept {
    unref(static_cast<StemColumn*>(PyCapsule_GetPointer(capsule, column_capsule_name)));
}

StemColumn* column_of(PyObject* capsule) noexcept {
    return static_cast<StemColumn*>(PyCapsule_GetPointer(capsule, column_capsule_name));
}

// ---- input

enum class Layout { utf8, large_utf8, view, null };

// The layout of a column of strings, or TypeError naming the type.
bool layout_of(const ArrowSchema* schema, Layout& layout) noexcept {
    const char* format = schema->format == nullptr ? "" : schema->format;
    if (schema->dictionary == nullptr) {
        if (std::strcmp(format, "u") == 0) {
            layout = Layout::utf8;
            return true;
        }
        if (std::strcmp(format, "U") == 0) {
            layout = Layout::large_utf8;
            return true;
        }
        if (std::strcmp(format, "vu") == 0) {
            layout = Layout::view;
            return true;
        }
        if (std::strcmp(format, "n") == 0) {  // no value at all: what a column of nothing but nulls may be
            layout = Layout::null;
            return true;
        }
    }
    PyErr_Format(PyExc_TypeError,
                 "expected a column of strings (Arrow string, large_string or string_view), not one of Arrow "
                 "format '%s'%s",
                 format, schema->dictionary != nullptr ? " (dictionary-encoded)" : "");
    return false;
}

// The row'th string of `array`.
void string_at(const ArrowArray* array, Layout layout, std::int64_t row, const char*& bytes, std::int64_t& size) noexcept {
    std::int64_t at = array->offset + row;
    switch (layout) {
    case Layout::utf8: {
        const auto* offsets = static_cast<const std::int32_t*>(array->buffers[1]);
        bytes = static_cast<const char*>(array->buffers[2]) + offsets[at];
        size = offsets[at + 1] - offsets[at];
        return;
    }
    case Layout::large_utf8: {
        const auto* offsets = static_cast<const std::int64_t*>(array->buffers[1]);
        bytes = static_cast<const char*>(array->buffers[2]) + offsets[at];
        size = offsets[at + 1] - offsets[at];
        return;
    }
    default: {
        const auto* view = static_cast<const std::uint8_t*>(array->buffers[1]) + 16 * at;
        std::int32_t length = 0;
        std::memcpy(&length, view, 4);
        size = length;
        if (length <= 12) {
            bytes = reinterpret_cast<const char*>(view + 4);
            return;
        }
        std::int32_t buffer = 0;
        std::int32_t offset = 0;
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&offset, view + 12, 4);
        bytes = static_cast<const char*>(array->buffers[2 + buffer]) + offset;
    }
    }
}

// Whether `array` has the buffers its layout reads (a producer's array is checked, not trusted).
bool has_buffers(const ArrowArray* array, Layout layout) noexcept {
    std::int64_t needed = layout == Layout::null ? 0 : layout == Layout::view ? 3 : 3;
    if (array->n_buffers < needed || array->length < 0 || array->offset < 0 ||
        (needed > 0 && (array->buffers == nullptr || array->buffers[1] == nullptr))) {
        PyErr_SetString(PyExc_ValueError, "the Arrow array lacks the buffers of its type");
        return false;
    }
    return true;
}

// Whether a view's data buffer is one the array has (views of an array's own making always are).
bool view_buffer_exists(const ArrowArray* array, std::int64_t row) noexcept {
    const auto* view = static_cast<const std::uint8_t*>(array->buffers[1]) + 16 * (array->offset + row);
    std::int32_t length = 0;
    std::int32_t buffer = 0;
    std::memcpy(&length, view, 4);
    std::memcpy(&buffer, view + 8, 4);
    // The buffers: validity, views, the data buffers, and their sizes last.
    return length <= 12 || (buffer >= 0 && 2 + static_cast<std::int64_t>(buffer) < array->n_buffers - 1 &&
                            array->buffers[2 + buffer] != nullptr);
}

bool is_null(const ArrowArray* array, std::int64_t row) noexcept {
    const auto* validity = static_cast<const std::uint8_t*>(array->buffers[0]);
    if (array->null_count == 0 || validity == nullptr) {
        return false;
    }
    std::int64_t at = array->offset + row;
    return (validity[at / 8] >> (at % 8) & 1) == 0;
}

// ---- analysis

// The pass's words of a row, written as items of the column.
class ItemSink final : public WordSink {
public:
    ItemSink(PassObject* pass, StemColumn& column) noexcept : pass_(pass), column_(column) {}

    bool add(Py_ssize_t, Py_ssize_t, const KeyBuffer& key) noexcept override {
        if (key.size() > INT_MAX) {
            too_long_ = true;
            return false;
        }
        Ref made;
        bool stop = false;
        PyObject* result = result_of(pass_, key, made, stop);
        if (result == nullptr) {
            return false;
        }
        Ref stem = Ref::borrow(result);  // held: a signal handler or folding may change the table
        if (++words_ % davuzod::items_between_signal_checks == 0 && PyErr_CheckSignals() < 0) {
            return false;
        }
        if (stop) {
            return true;
        }
        if (!add_item(stem.get())) {
            return false;
        }
        Ref original;
        int kept = original_of(pass_, key, stem.get(), original);
        return kept == 0 || (kept == 1 && add_item(original.get()));
    }

    bool too_long() const noexcept override { return too_long_; }

    void reset() noexcept { too_long_ = false; }

    bool add_item(PyObject* text) noexcept {
        Py_ssize_t size = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
        if (bytes == nullptr) {
            return false;
        }
        return column_.add_item(bytes, static_cast<std::size_t>(size));
    }

private:
    PassObject* pass_;
    StemColumn& column_;
    bool too_long_ = false;
    Py_ssize_t words_ = 0;
};

// Appends the rows of `array` (a column of strings) to `column`.
bool add_rows(PassObject* pass, const ArrowSchema* schema, const ArrowArray* array, PyObject* fallback, bool analyse,
              StemColumn& column) noexcept {
    Layout layout = Layout::utf8;
    if (!layout_of(schema, layout)) {
        return false;
    }
    if (!has_buffers(array, layout)) {
        return false;
    }
    ItemSink sink(pass, column);
    for (std::int64_t row = 0; row < array->length; ++row) {
        if (layout == Layout::null || is_null(array, row)) {
            if (!column.add_row(false)) {
                return false;
            }
            continue;
        }
        if (layout == Layout::view && !view_buffer_exists(array, row)) {
            PyErr_Format(PyExc_ValueError, "row %lld of the Arrow array names a data buffer it lacks",
                         static_cast<long long>(row));
            return false;
        }
        const char* bytes = nullptr;
        std::int64_t size = 0;
        string_at(array, layout, row, bytes, size);
        if (size > PY_SSIZE_T_MAX) {
            PyErr_SetString(PyExc_OverflowError, "a string longer than Python takes");
            return false;
        }
        Ref text = Ref::steal(PyUnicode_DecodeUTF8(bytes, static_cast<Py_ssize_t>(size), nullptr));
        if (!text) {
            return false;
        }
        std::size_t items_before = column.item_count();
        bool done = false;
        if (analyse) {
            Outcome outcome = scan_text(pass, text.get(), sink);
            if (outcome == Outcome::error) {
                return false;
            }
            done = outcome == Outcome::done;
            if (!done) {
                column.truncate(items_before);
                sink.reset();
            }
        }
        if (!done && !add_fallback_results(fallback, text.get(), [&](PyObject* stem) { return sink.add_item(stem); })) {
            return false;
        }
        if (!column.add_row(true)) {
            return false;
        }
    }
    return true;
}

// Reads an ArrowArrayStream to its end, appending every array's rows.
bool add_stream(PassObject* pass, ArrowArrayStream* stream, PyObject* fallback, bool analyse,
                StemColumn& column) noexcept {
    ArrowSchema schema{};
    if (stream->get_schema(stream, &schema) != 0) {
        const char* why = stream->get_last_error(stream);
        PyErr_Format(PyExc_OSError, "the Arrow stream gave no schema: %s", why != nullptr ? why : "no reason given");
        return false;
    }
    Layout layout = Layout::utf8;
    bool fine = layout_of(&schema, layout);  // refused even when no array follows
    while (fine) {
        ArrowArray array{};
        if (stream->get_next(stream, &array) != 0) {
            const char* why = stream->get_last_error(stream);
            PyErr_Format(PyExc_OSError, "the Arrow stream failed: %s", why != nullptr ? why : "no reason given");
            fine = false;
            break;
        }
        if (array.release == nullptr) {
            break;  // its end
        }
        fine = add_rows(pass, &schema, &array, fallback, analyse, column);
        array.release(&array);
    }
    if (schema.release != nullptr) {
        schema.release(&schema);
    }
    return fine;
}

template <typename Struct>
Struct* new_struct() noexcept {
    auto* made = static_cast<Struct*>(std::calloc(1, sizeof(Struct)));
    if (made == nullptr) {
        PyErr_NoMemory();
    }
    return made;
}

}  // namespace

const char pass_arrow_doc[] =
    "arrow(source, fallback, analyse, /) -> capsule\n\n"
    "The stems of each row of an Arrow column of strings (`source`: an (arrow_schema, arrow_array) pair of\n"
    "capsules, or an arrow_array_stream capsule), as a capsule of the list<string> column that\n"
    "export_array() and export_stream() export. With `analyse`, rows are scanned by the pass; the others,\n"
    "and those it leaves to Python, by `fallback`. Nulls stay null.";

PyObject* pass_arrow(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "arrow(source, fallback, analyse, /)");
        return nullptr;
    }
    int analyse = PyObject_IsTrue(args[2]);
    if (analyse < 0) {
        return nullptr;
    }
    auto* column = new (std::nothrow) StemColumn();
    if (column == nullptr) {
        return PyErr_NoMemory();
    }
    if (!column->start()) {
        delete column;
        return nullptr;
    }
    Ref capsule = Ref::steal(PyCapsule_New(column, column_capsule_name, free_column_capsule));
    if (!capsule) {
        delete column;
        return nullptr;
    }
    PyObject* source = args[0];
    bool fine = false;
    if (PyTuple_Check(source) && PyTuple_GET_SIZE(source) == 2) {
        auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(PyTuple_GET_ITEM(source, 0), "arrow_schema"));
        auto* array = schema == nullptr ? nullptr
                                        : static_cast<ArrowArray*>(
                                              PyCapsule_GetPointer(PyTuple_GET_ITEM(source, 1), "arrow_array"));
        if (array != nullptr && (schema->release == nullptr || array->release == nullptr)) {
            PyErr_SetString(PyExc_ValueError, "the Arrow array was released already");
            array = nullptr;
        }
        fine = array != nullptr && add_rows(as_pass(self), schema, array, args[1], analyse != 0, *column);
    } else if (PyCapsule_IsValid(source, "arrow_array_stream")) {
        auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(source, "arrow_array_stream"));
        if (stream->release == nullptr) {
            PyErr_SetString(PyExc_ValueError, "the Arrow stream was released already");
        } else {
            fine = add_stream(as_pass(self), stream, args[1], analyse != 0, *column);
            stream->release(stream);  // read to its end: a stream is read once
        }
    } else {
        PyErr_Format(PyExc_TypeError, "expected Arrow capsules, not %T", source);
    }
    if (!fine) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "expected an (arrow_schema, arrow_array) pair of capsules");
        }
        return nullptr;
    }
    if (!column->finish()) {
        return nullptr;
    }
    return capsule.release();
}

PyObject* arrow_export_array(PyObject*, PyObject* capsule) noexcept {
    StemColumn* column = column_of(capsule);
    if (column == nullptr) {
        return nullptr;
    }
    auto* schema = new_struct<ArrowSchema>();
    auto* array = schema == nullptr ? nullptr : new_struct<ArrowArray>();
    Ref schema_capsule = schema == nullptr ? Ref() : Ref::steal(PyCapsule_New(schema, "arrow_schema", free_schema_capsule));
    if (!schema_capsule) {
        std::free(schema);
        std::free(array);
        return nullptr;
    }
    Ref array_capsule = array == nullptr ? Ref() : Ref::steal(PyCapsule_New(array, "arrow_array", free_array_capsule));
    if (!array_capsule) {
        std::free(array);
        return nullptr;
    }
    if (!export_schema(column, schema) || !export_array(column, array)) {
        return PyErr_NoMemory();
    }
    return PyTuple_Pack(2, schema_capsule.get(), array_capsule.get());
}

PyObject* arrow_export_stream(PyObject*, PyObject* capsule) noexcept {
    StemColumn* column = column_of(capsule);
    if (column == nullptr) {
        return nullptr;
    }
    auto* stream = new_struct<ArrowArrayStream>();
    if (stream == nullptr) {
        return nullptr;
    }
    Ref stream_capsule = Ref::steal(PyCapsule_New(stream, "arrow_array_stream", free_stream_capsule));
    if (!stream_capsule) {
        std::free(stream);
        return nullptr;
    }
    auto* exported = new (std::nothrow) ExportedStream{ref(column), false};  // no reference taken if it fails
    if (exported == nullptr) {
        return PyErr_NoMemory();
    }
    *stream = ArrowArrayStream{stream_schema, stream_next, stream_error, release_stream, exported};
    return stream_capsule.release();
}

PyObject* arrow_length(PyObject*, PyObject* capsule) noexcept {
    StemColumn* column = column_of(capsule);
    return column == nullptr ? nullptr : PyLong_FromLongLong(column->length());
}

}  // namespace lexvale
