// as_c_int: exact ints read directly, anything else through __int__ alone.
#include "as_c_int.h"

#include <limits>

#include "../binding/ref.h"
#include "statics.h"

namespace davuzod {

namespace {

std::int32_t int_to_c_int(PyObject* value) noexcept {
    long long wide = PyLong_AsLongLong(value);
    if (wide == -1 && PyErr_Occurred()) {
        return -1;  // beyond 64 bits: the interpreter's own OverflowError
    }
    if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max()) {
        PyErr_SetObject(PyExc_OverflowError, text().too_large);
        return -1;
    }
    return static_cast<std::int32_t>(wide);
}

}  // namespace

std::int32_t as_c_int(PyObject* obj) noexcept {
    if (PyLong_Check(obj)) {
        return int_to_c_int(obj);
    }
    PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
    if (number == nullptr || number->nb_int == nullptr) {
        PyErr_SetObject(PyExc_TypeError, text().integer_required);
        return -1;
    }
    Ref converted = Ref::steal(number->nb_int(obj));
    if (!converted) {
        if (!PyErr_Occurred()) {
            PyErr_SetObject(PyExc_TypeError, text().integer_required);
        }
        return -1;
    }
    if (!PyLong_CheckExact(converted.get())) {
        if (!PyLong_Check(converted.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(converted.get())->tp_name);
            return -1;
        }
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an "
                             "instance of a strict subclass of int is deprecated, and may be "
                             "removed in a future version of Python.",
                             Py_TYPE(converted.get())->tp_name) < 0) {
            return -1;
        }
    }
    return int_to_c_int(converted.get());
}

}  // namespace davuzod
