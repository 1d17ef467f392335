// Scalar arguments: Python-level conversions and comparisons, each throwing on failure.
#pragma once

#include "frame.hpp"

#include <climits>

namespace evo {

// An instance of int that is not a bool (NumPy integer scalars are not ints).
inline bool is_int(PyObject* x) noexcept { return PyLong_Check(x) && !PyBool_Check(x); }

// The value of an int as a 32-bit C int, else OverflowError "value too large to convert to int".
inline int int_value(PyObject* v) {
    int overflow = 0;
    const long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0 || r < INT_MIN || r > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        rethrow();
    }
    return (int)r;
}

// A number as a 32-bit C int: an int as it is, any other object through its __int__ (so a float
// or a NumPy scalar is truncated toward zero; a NaN raises ValueError and an infinity
// OverflowError from that conversion).  Strings are not parsed: TypeError.
inline int as_int(PyObject* x) {
    if (PyLong_Check(x)) return int_value(x);
    PyNumberMethods* nb = Py_TYPE(x)->tp_as_number;
    if (nb == nullptr || nb->nb_int == nullptr) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        rethrow();
    }
    Ref v = Ref::steal(nb->nb_int(x));
    if (!PyLong_Check(v.get())) {
        PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(v.get())->tp_name);
        rethrow();
    }
    return int_value(v.get());
}

// float(x) as a C double.
inline double as_double(PyObject* x) {
    const double d = PyFloat_AsDouble(x);
    if (d == -1.0 && PyErr_Occurred()) rethrow();
    return d;
}

inline bool less_than(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_LT)) != 0; }
inline bool greater_than(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_GT)) != 0; }

// An int compared with a C value without converting it: -1, 0 or 1 as v <, == or > c.
inline int int_sign_against(PyObject* v, long long c) {
    int overflow = 0;
    const long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0) return overflow;
    return r < c ? -1 : r > c ? 1 : 0;
}

}  // namespace evo
