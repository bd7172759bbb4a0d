// lexvale's FTS5 tokenizer: a SQLite loadable extension that registers the
// tokenizer "lexvale" with a connection's FTS5.
//
// It is loaded into a Python process only (lexvale.sqlite.register), and
// takes the interpreter's lock to run the analyzer. The tokenizer's settings
// and the analysis are lexvale.sqlite's Python half: this file carries
// tokens between FTS5 and it. SQLite calls it without the lock (Python's
// sqlite3 and APSW release it around each step); the tokens are handed to
// FTS5 after the lock is released again, so other threads run while FTS5
// writes its index.
#include <Python.h>
#include <sqlite3ext.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <new>
#include <tuple>

#include "../binding/buffer.h"
#include "../binding/ref.h"

SQLITE_EXTENSION_INIT1

namespace {

using davuzod::Buffer;
using davuzod::Ref;

// The Python half's tokenizer of one FTS5 table.
struct Tokenizer {
    PyObject* python;  // strong
};

// The pending Python exception, cleared, as the SQLite result code it
// becomes. SQLite gives a failed tokenizer a message of its own, which names
// nothing: the Python half warns of bad settings itself (and raises its
// _Refused), and any other exception goes to sys.unraisablehook. A
// KeyboardInterrupt interrupts the statement and is raised again once the
// interpreter runs its handlers.
int take_exception(PyObject* refused = nullptr) noexcept {
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
        PyErr_Clear();
        PyErr_SetInterruptEx(SIGINT);
        return SQLITE_INTERRUPT;
    }
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        return SQLITE_NOMEM;
    }
    if (refused == nullptr || !PyErr_ExceptionMatches(refused)) {
        PyErr_FormatUnraisable("Exception ignored in lexvale's FTS5 tokenizer");
    }
    PyErr_Clear();
    return SQLITE_ERROR;
}

bool interpreter_usable() noexcept {
    return Py_IsInitialized() && !Py_IsFinalizing();
}

int create_with_lock(const char** arguments, int count, Fts5Tokenizer** out) noexcept;

int create(void*, const char** arguments, int count, Fts5Tokenizer** out) noexcept {
    if (!interpreter_usable()) {
        return SQLITE_ERROR;
    }
    PyGILState_STATE lock = PyGILState_Ensure();
    int rc = create_with_lock(arguments, count, out);
    PyGILState_Release(lock);
    return rc;
}

int create_with_lock(const char** arguments, int count, Fts5Tokenizer** out) noexcept {
    int rc = SQLITE_OK;
    Ref given = Ref::steal(PyList_New(0));
    for (int i = 0; given && i < count; ++i) {
        Ref argument = Ref::steal(PyUnicode_DecodeUTF8(arguments[i], std::strlen(arguments[i]), "surrogateescape"));
        if (!argument || PyList_Append(given.get(), argument.get()) < 0) {
            given.reset();
        }
    }
    Ref module = given ? Ref::steal(PyImport_ImportModule("lexvale.sqlite")) : Ref();
    Ref python = module ? Ref::steal(PyObject_CallMethod(module.get(), "_tokenizer", "O", given.get())) : Ref();
    auto* tokenizer = python ? new (std::nothrow) Tokenizer{python.get()} : nullptr;
    if (tokenizer != nullptr) {
        std::ignore = python.release();
        *out = reinterpret_cast<Fts5Tokenizer*>(tokenizer);
    } else if (PyErr_Occurred()) {
        Ref pending = Ref::steal(PyErr_GetRaisedException());
        Ref refused = module ? Ref::steal(PyObject_GetAttrString(module.get(), "_Refused")) : Ref();
        PyErr_Clear();  // without it, the pending exception is reported as it is
        PyErr_SetRaisedException(pending.release());
        rc = take_exception(refused.get());
    } else {
        rc = SQLITE_NOMEM;
    }
    return rc;
}

void destroy(Fts5Tokenizer* handle) noexcept {
    auto* tokenizer = reinterpret_cast<Tokenizer*>(handle);
    if (interpreter_usable()) {
        PyGILState_STATE lock = PyGILState_Ensure();
        Py_DECREF(tokenizer->python);
        PyGILState_Release(lock);
    }  // else the interpreter is gone, and the object with it
    delete tokenizer;
}

// A token as FTS5 takes it: its bytes in `Tokens::bytes`, its flags and its
// place in the text in UTF-8 bytes.
struct Token {
    std::size_t offset;
    int size;
    int flags;
    int start;
    int end;
};

struct Tokens {
    Buffer<char> bytes;
    Buffer<Token> tokens;
};

// UTF-8 bytes of a character of text decoded with "surrogateescape", where
// each byte that was not UTF-8 is one character U+DC80..U+DCFF.
int utf8_size(Py_UCS4 c) noexcept {
    if (c < 0x80 || (c >= 0xDC80 && c <= 0xDCFF)) {
        return 1;
    }
    return c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// Character offsets into the text to UTF-8 offsets into the bytes FTS5 gave,
// walking forward from the last offset asked for. The tokens' starts never
// go back, nor do their ends: one walker for each keeps a text's offsets
// linear in its length.
class ByteOffsets {
public:
    explicit ByteOffsets(PyObject* text) noexcept : text_(text) {}

    Py_ssize_t of(Py_ssize_t target) noexcept {
        if (target < character_) {
            character_ = 0;
            byte_ = 0;
        }
        int kind = PyUnicode_KIND(text_);
        const void* data = PyUnicode_DATA(text_);
        for (; character_ < target; ++character_) {
            byte_ += utf8_size(PyUnicode_READ(kind, data, character_));
        }
        return byte_;
    }

private:
    PyObject* text_;
    Py_ssize_t character_ = 0;
    Py_ssize_t byte_ = 0;
};

bool read_index(PyObject* token, Py_ssize_t field, Py_ssize_t limit, Py_ssize_t& value) noexcept {
    value = PyLong_AsSsize_t(PyTuple_GET_ITEM(token, field));
    if (value == -1 && PyErr_Occurred()) {
        return false;
    }
    if (value < 0 || value > limit) {
        PyErr_Format(PyExc_ValueError, "token field %zd out of range: %zd", field, value);
        return false;
    }
    return true;
}

// The tokens the Python half gives for `text` (a list of lexvale Tokens:
// stem, start, end, word, position), as FTS5 takes them. A word dropped
// before a token (a stop word) leaves its position to an empty token, so
// that phrases do not match across it and positions are the tokens'; a
// query's leading ones are left out, as a phrase starts at its first word.
// A token at its predecessor's position (a word kept beside its stem) is
// FTS5's colocated token.
bool collect(PyObject* found, PyObject* text, bool leading_gaps, Tokens& out) noexcept {
    if (!PyList_Check(found)) {
        PyErr_Format(PyExc_TypeError, "the tokenizer gave a %T, not a list", found);
        return false;
    }
    ByteOffsets starts(text);
    ByteOffsets ends(text);
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    Py_ssize_t previous = -1;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(found); ++i) {
        PyObject* token = PyList_GET_ITEM(found, i);
        if (!PyTuple_Check(token) || PyTuple_GET_SIZE(token) != 5 || !PyUnicode_Check(PyTuple_GET_ITEM(token, 0))) {
            PyErr_Format(PyExc_TypeError, "the tokenizer gave a %T, not a Token", token);
            return false;
        }
        Py_ssize_t start = 0;
        Py_ssize_t end = 0;
        Py_ssize_t position = 0;
        if (!read_index(token, 1, length, start) || !read_index(token, 2, length, end) ||
            !read_index(token, 4, PY_SSIZE_T_MAX, position)) {
            return false;
        }
        Py_ssize_t first_byte = starts.of(start);
        Py_ssize_t last_byte = ends.of(end);
        if (last_byte > INT_MAX) {
            PyErr_SetString(PyExc_OverflowError, "text longer than FTS5 takes");
            return false;
        }
        if ((previous >= 0 || leading_gaps) && position > previous + 1) {
            for (Py_ssize_t gap = previous + 1; gap < position; ++gap) {
                if (!out.tokens.push_back(
                        {out.bytes.size(), 0, 0, static_cast<int>(first_byte), static_cast<int>(first_byte)})) {
                    return false;
                }
            }
        }
        int flags = position == previous ? FTS5_TOKEN_COLOCATED : 0;
        previous = position;
        Ref encoded;
        Py_ssize_t size = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(token, 0), &size);
        if (bytes == nullptr) {
            // A stem holding bytes of the text that were not UTF-8 gives them back.
            PyErr_Clear();
            encoded = Ref::steal(PyUnicode_AsEncodedString(PyTuple_GET_ITEM(token, 0), "utf-8", "surrogateescape"));
            if (!encoded) {
                return false;
            }
            bytes = PyBytes_AS_STRING(encoded.get());
            size = PyBytes_GET_SIZE(encoded.get());
        }
        if (size > INT_MAX) {
            PyErr_SetString(PyExc_OverflowError, "token longer than FTS5 takes");
            return false;
        }
        bool kept = out.tokens.push_back({out.bytes.size(), static_cast<int>(size), flags, static_cast<int>(first_byte),
                              static_cast<int>(last_byte)});
        if (!kept || !out.bytes.append(bytes, static_cast<std::size_t>(size))) {
            return false;
        }
    }
    return true;
}

// The tokens of `text`, asked of the Python half (with the interpreter's lock held).
int tokens_of(Tokenizer* tokenizer, int flags, const char* text, int length, Tokens& tokens) noexcept {
    Ref decoded = Ref::steal(PyUnicode_DecodeUTF8(text, length, "surrogateescape"));
    Ref found;
    if (decoded && (flags & FTS5_TOKENIZE_QUERY) != 0) {
        found = Ref::steal(PyObject_CallMethod(tokenizer->python, "query", "Oi", decoded.get(),
                                               (flags & FTS5_TOKENIZE_PREFIX) != 0));
    } else if (decoded) {
        found = Ref::steal(PyObject_CallMethod(tokenizer->python, "document", "O", decoded.get()));
    }
    if (!found || !collect(found.get(), decoded.get(), (flags & FTS5_TOKENIZE_QUERY) == 0, tokens)) {
        return take_exception();
    }
    return SQLITE_OK;
}

using TokenCallback = int (*)(void*, int, const char*, int, int, int);

int tokenize(Fts5Tokenizer* handle, void* context, int flags, const char* text, int length,
             TokenCallback callback) noexcept {
    auto* tokenizer = reinterpret_cast<Tokenizer*>(handle);
    if (!interpreter_usable()) {
        return SQLITE_ERROR;
    }
    Tokens tokens;
    PyGILState_STATE lock = PyGILState_Ensure();
    int rc = tokens_of(tokenizer, flags, text, length, tokens);
    PyGILState_Release(lock);
    for (const Token& token : tokens.tokens) {
        if (rc != SQLITE_OK) {
            break;
        }
        static const char no_bytes[1] = {0};
        const char* start = tokens.bytes.size() > 0 ? tokens.bytes.data() + token.offset : no_bytes;
        rc = callback(context, token.flags, start, token.size, token.start, token.end);
    }
    return rc;
}

// The connection's FTS5, found through its SQL function; `rc` is SQLite's
// answer. Preparing any statement reads the schema, which another connection
// writing the file may hold locked a while: it is asked again, as a busy
// timeout would wait, for up to about five seconds.
fts5_api* fts5_of(sqlite3* db, int& rc) noexcept {
    fts5_api* api = nullptr;
    for (int attempt = 0; attempt < 500; ++attempt) {
        sqlite3_stmt* statement = nullptr;
        rc = sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
            rc = sqlite3_step(statement);
            rc = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
        }
        sqlite3_finalize(statement);
        if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) {
            break;
        }
        sqlite3_sleep(10);
    }
    return api;
}

}  // namespace

// The extension's entry point, named for lexvale.sqlite.register to load.
extern "C" __attribute__((visibility("default"))) int sqlite3_lexvale_init(sqlite3* db, char** error,
                                                                           const sqlite3_api_routines* routines) {
    SQLITE_EXTENSION_INIT2(routines);
    int rc = SQLITE_OK;
    fts5_api* api = fts5_of(db, rc);
    if (rc != SQLITE_OK) {
        *error = sqlite3_mprintf("could not reach FTS5: %s", sqlite3_errmsg(db));
        return rc;
    }
    if (api == nullptr || api->iVersion < 2) {
        *error = sqlite3_mprintf("this SQLite has no FTS5 (compiled without SQLITE_ENABLE_FTS5)");
        return SQLITE_ERROR;
    }
    static fts5_tokenizer methods = {create, destroy, tokenize};
    return api->xCreateTokenizer(api, "lexvale", nullptr, &methods, nullptr);
}
