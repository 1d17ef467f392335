// Small pieces of the object protocol for module bodies: comparison with ==, the matrix product
// operator and the conversion of an argument that must be a NumPy array.
#pragma once

#include "array.hpp"

namespace evo {

// a == b, taken as a truth value.
inline bool equal(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0; }

// An integer object (anything with __index__) as a count; OverflowError when it does not fit.
inline Py_ssize_t index_value(PyObject* o) {
    Py_ssize_t n = PyNumber_AsSsize_t(o, PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) rethrow();
    return n;
}

// a @ b
inline Ref matmul(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_MatrixMultiply(a, b)); }

// An argument handed to a kernel as a NumPy array: anything else raises TypeError "Cannot convert
// <its type> to numpy.ndarray"; an array is coerced (contiguity first, then the element type).
inline Array ndarray_argument(PyObject* obj, Elem elem, int ndim) {
    if (!is_ndarray(obj)) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(obj)->tp_name,
                     ndarray_type()->tp_name);
        rethrow();
    }
    return Array::coerce(obj, elem, ndim);
}

}  // namespace evo
