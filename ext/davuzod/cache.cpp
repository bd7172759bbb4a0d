// The stem cache: trimming to the most recently used entries, and the maxCacheSize property.
#include <algorithm>
#include <cstdint>

#include "../binding/binder.h"
#include "../binding/ref.h"
#include "as_c_int.h"
#include "interpreter_internals.h"
#include "statics.h"
#include "stemmer.h"

namespace davuzod {

namespace {

// Entries whose last use is at or below this value are dropped by a trim.
class Threshold {
public:
    Threshold(PyObject* counter, std::int64_t window) noexcept {
        if (PyLong_CheckExact(counter) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(counter))) {
            compact_ = true;
            value_ = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(counter)) - window;
            object_ = Ref::steal(PyLong_FromLongLong(value_));
        } else {
            Ref window_object = Ref::steal(PyLong_FromLongLong(window));
            if (window_object) {
                object_ = Ref::steal(PyNumber_Subtract(counter, window_object.get()));
            }
        }
    }

    bool ok() const noexcept { return static_cast<bool>(object_); }

    // 1 when last_use is above the threshold, 0 when not, -1 on error.
    int is_exceeded_by(PyObject* last_use) const noexcept {
        if (compact_ && PyLong_CheckExact(last_use) &&
            PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(last_use))) {
            return PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(last_use)) > value_;
        }
        return PyObject_RichCompareBool(last_use, object_.get(), Py_GT);
    }

private:
    Ref object_;
    bool compact_ = false;
    std::int64_t value_ = 0;
};

// Element 1 of an entry: its last use.
Ref entry_last_use(PyObject* entry) noexcept {
    if (PyList_CheckExact(entry) && PyList_GET_SIZE(entry) == 2) {
        return Ref::borrow(PyList_GET_ITEM(entry, 1));
    }
    return Ref::steal(PyObject_GetItem(entry, module_statics.one));
}

}  // namespace

int cache_trim(StemmerObject* self) noexcept {
    Ref cache = Ref::borrow(self->cache);
    Py_ssize_t size = PyObject_Size(cache.get());
    if (size < 0) {
        return -1;
    }
    std::int64_t bound = self->max_cache_size;
    if (size < bound) {
        return 0;
    }
    // Eight tenths of the bound, truncated toward zero; 64 bits so that no bound overflows.
    std::int64_t window = bound * 8 / 10;
    // At most window - 1 entries survive: the new dictionary is made that size
    // at once rather than grown step by step, and the cache then refills to
    // its bound without growing again.
    Ref survivors = new_dict_with_room(static_cast<Py_ssize_t>(std::clamp<std::int64_t>(window, 0, size)));
    if (!survivors) {
        return -1;
    }
    Threshold threshold(self->counter, window);
    if (!threshold.ok()) {
        return -1;
    }
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (;;) {
        if (PyDict_Check(cache.get()) && PyDict_GET_SIZE(cache.get()) != size) {
            PyErr_SetObject(PyExc_RuntimeError, text().changed_size);
            return -1;
        }
        if (!PyDict_Next(cache.get(), &pos, &key, &value)) {
            break;
        }
        // A comparison may run Python code that changes the cache; hold what it reads.
        Ref word = Ref::borrow(key);
        Ref entry = Ref::borrow(value);
        Ref last_use = entry_last_use(entry.get());
        if (!last_use) {
            return -1;
        }
        int keep = threshold.is_exceeded_by(last_use.get());
        if (keep < 0 || (keep > 0 && PyDict_SetItem(survivors.get(), word.get(), entry.get()) < 0)) {
            return -1;
        }
    }
    // A comparison may have replaced the cache (a further __init__, the bound
    // set to 0, a trim of its own): the replacement is newer than anything
    // walked here, and entries of the old cache must not come back with it.
    if (self->cache != cache.get()) {
        return 0;
    }
    replace_field(self->cache, std::move(survivors));
    return 0;
}

int call_cache_trim(PyObject* self) noexcept {
    if (is_exact_stemmer(self)) {
        return cache_trim(as_stemmer(self));
    }
    Ref result = Ref::steal(PyObject_CallMethodNoArgs(self, text().purge_cache));
    return result ? 0 : -1;
}

PyObject* purge_cache_entry(PyObject* self, PyObject* const*, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
    if (!bind_nothing("_Stemmer__purgeCache", nargs, kwnames)) {
        return nullptr;
    }
    if (cache_trim(as_stemmer(self)) < 0) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

namespace {

PyObject* max_cache_size_get(PyObject* self, void*) noexcept {
    return PyLong_FromLong(as_stemmer(self)->max_cache_size);
}

int max_cache_size_set(PyObject* self, PyObject* value, void*) noexcept {
    if (value == nullptr) {
        PyErr_SetObject(PyExc_NotImplementedError, text().dunder_del);
        return -1;
    }
    std::int32_t bound = as_c_int(value);
    if (bound == -1 && PyErr_Occurred()) {
        return -1;
    }
    StemmerObject* stemmer = as_stemmer(self);
    stemmer->max_cache_size = bound;
    if (bound == 0) {
        Ref empty = Ref::steal(PyDict_New());
        if (!empty) {
            return -1;
        }
        replace_field(stemmer->cache, std::move(empty));
        replace_field(stemmer->counter, Ref::borrow(module_statics.zero));
        return 0;
    }
    return call_cache_trim(self);
}

constexpr char max_cache_size_doc[] =
    "Maximum number of entries to allow in the cache.\n"
    "\n"
    "        This may be set to zero to disable the cache entirely.\n"
    "\n"
    "        The maximum cache size may be set at any point - setting the\n"
    "        maximum size will purge entries from the cache if the new maximum\n"
    "        size is smaller than the current size.\n"
    "\n"
    "        ";

}  // namespace

PyGetSetDef cache_getset[] = {
    {"maxCacheSize", max_cache_size_get, max_cache_size_set, max_cache_size_doc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace davuzod
