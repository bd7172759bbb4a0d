// Binding arguments to parameters, and every message a binding failure carries.
#include "binder.h"

#include <cstring>

namespace davuzod {

namespace {

// The message formats; each exists only here.
constexpr const char count_format[] = "%.200s() takes %.8s %zd positional argument%.1s (%zd given)";
constexpr const char unexpected_format[] = "%s() got an unexpected keyword argument '%U'";
constexpr const char multiple_format[] = "%s() got multiple values for keyword argument '%U'";
constexpr const char not_string_format[] = "%.200s() keywords must be strings";
constexpr const char phrase_format[] = "%.200s() %s";
constexpr const char phrase_count_format[] = "%.200s() %s (%zd given)";

[[gnu::cold]] void raise_count(const char* name, const char* qualifier, Py_ssize_t expected,
                               Py_ssize_t given) noexcept {
    PyErr_Format(PyExc_TypeError, count_format, name, qualifier, expected,
                 expected == 1 ? "" : "s", given);
}

[[gnu::cold]] void raise_count(const ParamTable& table, Py_ssize_t given) noexcept {
    if (table.exact()) {
        raise_count(table.name, "exactly", table.required, given);
    } else if (given < table.required) {
        raise_count(table.name, "at least", table.required, given);
    } else {
        raise_count(table.name, "at most", table.count, given);
    }
}

[[gnu::cold]] void raise_unexpected(const char* name, PyObject* keyword) noexcept {
    PyErr_Format(PyExc_TypeError, unexpected_format, name, keyword);
}

[[gnu::cold]] void raise_multiple(const char* name, PyObject* keyword) noexcept {
    PyErr_Format(PyExc_TypeError, multiple_format, name, keyword);
}

// Equal text of two exact or subclassed strings whose hashes are known to agree.
bool same_text(PyObject* a, PyObject* b) noexcept {
    Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    int kind = PyUnicode_KIND(a);
    return length == PyUnicode_GET_LENGTH(b) && kind == PyUnicode_KIND(b) &&
           std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * kind) == 0;
}

// Finds the open parameter (index >= first_open) that `keyword` names.
// Returns its index, or -1 with the binding error raised.
Py_ssize_t match_keyword(const ParamTable& table, Py_ssize_t first_open, PyObject* keyword) noexcept {
    // Names written in source are interned, so they are the very parameter objects.
    for (Py_ssize_t i = first_open; i < table.count; ++i) {
        if (keyword == table.param(i)) {
            return i;
        }
    }
    if (PyUnicode_CheckExact(keyword)) {
        Py_hash_t hash = PyObject_Hash(keyword);
        if (hash == -1) {
            return -1;
        }
        for (Py_ssize_t i = first_open; i < table.count; ++i) {
            PyObject* param = table.param(i);
            if (PyObject_Hash(param) == hash && same_text(keyword, param)) {
                return i;
            }
        }
        for (Py_ssize_t i = 0; i < first_open; ++i) {
            PyObject* param = table.param(i);
            if (PyObject_Hash(param) == hash && same_text(keyword, param)) {
                raise_multiple(table.name, keyword);
                return -1;
            }
        }
    } else if (PyUnicode_Check(keyword)) {
        // A str subclass may define its own equality; ask it.
        for (Py_ssize_t i = first_open; i < table.count; ++i) {
            int equal = PyObject_RichCompareBool(keyword, table.param(i), Py_EQ);
            if (equal != 0) {
                return equal > 0 ? i : -1;
            }
        }
        for (Py_ssize_t i = 0; i < first_open; ++i) {
            int equal = PyObject_RichCompareBool(keyword, table.param(i), Py_EQ);
            if (equal < 0) {
                return -1;
            }
            if (equal > 0) {
                raise_multiple(table.name, keyword);
                return -1;
            }
        }
    } else {
        PyErr_Format(PyExc_TypeError, not_string_format, table.name);
        return -1;
    }
    raise_unexpected(table.name, keyword);
    return -1;
}

// Puts a keyword's value into the slot it names; a slot already filled by an
// earlier keyword of the same call is a second value for that parameter.
bool fill_from_keyword(const ParamTable& table, Py_ssize_t first_open, PyObject* keyword,
                       PyObject* value, Ref* slots) noexcept {
    Py_ssize_t index = match_keyword(table, first_open, keyword);
    if (index < 0) {
        return false;
    }
    if (slots[index]) {
        raise_multiple(table.name, keyword);
        return false;
    }
    slots[index] = Ref::borrow(value);
    return true;
}

bool check_required(const ParamTable& table, Py_ssize_t first_open, Ref* slots) noexcept {
    for (Py_ssize_t i = first_open; i < table.required; ++i) {
        if (!slots[i]) {
            raise_count(table, i);
            return false;
        }
    }
    return true;
}

void clear_slots(const ParamTable& table, Ref* slots) noexcept {
    for (Py_ssize_t i = 0; i < table.count; ++i) {
        slots[i].reset();
    }
}

// The count test, which comes before any keyword is looked at, then the
// positional values into the leading slots.
bool bind_positional(const ParamTable& table, PyObject* const* values, Py_ssize_t nargs, bool has_keywords,
                     Ref* slots) noexcept {
    if (has_keywords ? nargs > table.count : (nargs < table.required || nargs > table.count)) {
        raise_count(table, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        slots[i] = Ref::borrow(values[i]);
    }
    return true;
}

// The end of every binding: a required parameter left empty is an error.
bool finish_binding(const ParamTable& table, Py_ssize_t nargs, Ref* slots) noexcept {
    if (!check_required(table, nargs, slots)) {
        clear_slots(table, slots);
        return false;
    }
    return true;
}

}  // namespace

bool bind_vector(const ParamTable& table, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, Ref* slots) noexcept {
    Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (!bind_positional(table, args, nargs, nkw > 0, slots)) {
        return false;
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (!fill_from_keyword(table, nargs, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots)) {
            clear_slots(table, slots);
            return false;
        }
    }
    return finish_binding(table, nargs, slots);
}

bool bind_dict(const ParamTable& table, PyObject* args, PyObject* kwargs, Ref* slots) noexcept {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    Py_ssize_t nkw = kwargs == nullptr ? 0 : PyDict_GET_SIZE(kwargs);
    if (!bind_positional(table, &PyTuple_GET_ITEM(args, 0), nargs, nkw > 0, slots)) {
        return false;
    }
    if (nkw > 0) {
        if (!PyArg_ValidateKeywordArguments(kwargs)) {
            clear_slots(table, slots);
            return false;
        }
        // One walk in the caller's order matches every key the way the vector
        // form does, so a key that equals a parameter name while hashing
        // differently (a str subclass) is bound rather than silently dropped.
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Ref held_key = Ref::borrow(key);
            Ref held_value = Ref::borrow(value);
            if (!fill_from_keyword(table, nargs, held_key.get(), held_value.get(), slots)) {
                clear_slots(table, slots);
                return false;
            }
        }
    }
    return finish_binding(table, nargs, slots);
}

bool bind_nothing(const char* name, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (nargs > 0) {
        raise_count(name, "exactly", 0, nargs);
        return false;
    }
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, 0);
        // The message shows the name as text; a C caller may pass any object.
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, not_string_format, name);
        } else {
            raise_unexpected(name, keyword);
        }
        return false;
    }
    return true;
}

bool bind_no_arguments(const char* name, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        PyErr_Format(PyExc_TypeError, phrase_format, name, "takes no keyword arguments");
        return false;
    }
    if (nargs != 0) {
        PyErr_Format(PyExc_TypeError, phrase_count_format, name, "takes no arguments", nargs);
        return false;
    }
    return true;
}

void raise_needs_argument(const char* name) noexcept {
    PyErr_Format(PyExc_TypeError, phrase_format, name, "needs an argument");
}

}  // namespace davuzod
