// Python values a module body reads or makes: integer tests and conversions, unpacking of a
// sequence into a fixed number of names, row selectors and draws from NumPy's global generator.
// All of them throw (with the Python exception set) on failure, like the rest of the frame.
#pragma once

#include "frame.hpp"

namespace evo {

// isinstance(obj, int): int, its subclasses and so bool; NumPy integer scalars are not ints.
inline bool is_int(PyObject* obj) noexcept { return PyLong_Check(obj); }

// An integer object (or one with __index__) as a 32-bit signed integer, else OverflowError
// "value too large to convert to int".
inline int as_int(PyObject* obj) {
    Ref index = Ref::steal(PyNumber_Index(obj));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0 || v < INT32_MIN || v > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        rethrow();
    }
    return (int)v;
}

// `a, b, ... = seq` into out[0..n): ValueError "too many values to unpack (expected n)" when
// seq holds more, "need more than k value(s) to unpack" when it holds k < n.
inline void unpack(PyObject* seq, Ref* out, Py_ssize_t n) {
    if (PyTuple_CheckExact(seq) && PyTuple_GET_SIZE(seq) == n) {
        for (Py_ssize_t i = 0; i < n; ++i) out[i] = Ref::borrow(PyTuple_GET_ITEM(seq, i));
        return;
    }
    Ref it = Ref::steal(PyObject_GetIter(seq));
    for (Py_ssize_t i = 0; i <= n; ++i) {
        Ref item = Ref::steal_or_null(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) rethrow();
            if (i == n) return;
            PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", i, i == 1 ? "" : "s");
            rethrow();
        }
        if (i == n) {
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", n);
            rethrow();
        }
        out[i] = std::move(item);
    }
}

// The index (k, :) that selects row k of a matrix: a new tuple of k and slice(None).
inline Ref row_selector(Py_ssize_t k) {
    Ref slice = Ref::steal(PySlice_New(nullptr, nullptr, nullptr));
    Ref index = integer(k);
    return Ref::steal(PyTuple_Pack(2, index.get(), slice.get()));
}

// np.random.randint(low, high), through the module global np.
inline Ref np_randint(PyObject* low, PyObject* high) {
    static PyObject* random = nullptr;
    static PyObject* randint = nullptr;
    if (random == nullptr) random = check(PyUnicode_InternFromString("random"));
    if (randint == nullptr) randint = check(PyUnicode_InternFromString("randint"));
    Ref generator = np_attr(random);
    return call_method(generator.get(), randint, low, high);
}

}  // namespace evo
