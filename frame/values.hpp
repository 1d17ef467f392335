// Python values that modules test, build and compute with: scalar checks and conversions, result
// tuples, unpacking, row selectors, draws from NumPy's global generator, and the NumPy operations
// a module evaluates on whole arrays through the module global np.  All of them throw (with the
// Python exception set) on failure, like the rest of the frame.
#pragma once

#include "array.hpp"

#include <initializer_list>

namespace evo {

namespace value_names {
inline Name all{"all"}, ones{"ones"}, asarray{"asarray"}, negative{"negative"}, out{"out"}, copy{"copy"}, int64{"int64"},
    float32{"float32"}, float64{"float64"};
}  // namespace value_names

// ---- scalars ----------------------------------------------------------------------------------

// isinstance(o, (int, float)): bool and every subclass included.
inline bool is_int_or_float(PyObject* o) noexcept { return PyLong_Check(o) || PyFloat_Check(o); }

// float(o) as a Python float (o itself when it already is an exact float).
inline Ref to_float(PyObject* o) {
    if (PyFloat_CheckExact(o)) return Ref::borrow(o);
    return Ref::steal(PyNumber_Float(o));
}
// float(o) as a double.
inline double to_double(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    return PyFloat_AS_DOUBLE(to_float(o).get());
}
inline Ref make_float(double v) { return Ref::steal(PyFloat_FromDouble(v)); }

// The tuple (a, b), taking over both references.
inline Ref pair(Ref a, Ref b) {
    Ref t = Ref::steal(PyTuple_New(2));
    PyTuple_SET_ITEM(t.get(), 0, a.release());
    PyTuple_SET_ITEM(t.get(), 1, b.release());
    return t;
}

// Whether o is the str `name`: a private module's step.
inline bool is_step(PyObject* o, const char* name) {
    return PyUnicode_Check(o) && PyUnicode_CompareWithASCIIString(o, name) == 0;
}

// ---- arrays -----------------------------------------------------------------------------------

inline bool is_exact_ndarray(PyObject* o) noexcept { return Py_TYPE(o) == ndarray_type(); }

// o.astype(float)
inline Ref astype_float(PyObject* o) { return call_method(o, names.astype, (PyObject*)&PyFloat_Type); }

// MemoryError, for a kernel whose scratch memory could not be allocated.
[[noreturn]] inline void out_of_memory() {
    PyErr_NoMemory();
    rethrow();
}

// The error of handing a kernel an object that is not an ndarray:
// TypeError "Cannot convert <its type> to numpy.ndarray".
inline void require_ndarray_object(PyObject* o) {
    if (is_ndarray(o)) return;
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(o)->tp_name,
                 ndarray_type()->tp_name);
    rethrow();
}

// An argument handed to a kernel as a NumPy array: anything else raises that TypeError; an array
// is coerced (contiguity first, then the element type).
inline Array ndarray_argument(PyObject* obj, Elem elem, int ndim) {
    require_ndarray_object(obj);
    return Array::coerce(obj, elem, ndim);
}

// obj.dtype == np.<t> for one of the named NumPy scalar types.
inline bool dtype_is_one_of(PyObject* obj, std::initializer_list<PyObject*> types) {
    Ref dtype = getattr(obj, names.dtype);
    Ref numpy = np();
    for (PyObject* t : types) {
        Ref type = attr_of(numpy.get(), t);
        if (check(PyObject_RichCompareBool(dtype.get(), type.get(), Py_EQ))) return true;
    }
    return false;
}

// An ndarray whose element type is float64.
inline bool is_float64_array(PyObject* o) {
    if (!is_ndarray(o)) return false;
    Ref dtype = getattr(o, names.dtype);
    return check(PyObject_RichCompareBool(dtype.get(), (PyObject*)&PyFloat_Type, Py_EQ)) != 0;
}

// ---- NumPy through the module global np ------------------------------------------------------

// np.ones(shape), float64.
inline Ref np_ones(std::initializer_list<Py_ssize_t> shape) {
    Ref dims = Ref::steal(PyTuple_New((Py_ssize_t)shape.size()));
    Py_ssize_t k = 0;
    for (Py_ssize_t n : shape) PyTuple_SET_ITEM(dims.get(), k++, integer(n).release());
    return call(np_attr(value_names::ones.get()).get(), dims.get());
}

// np.all(a), as a truth value.
inline bool np_all(PyObject* a) { return truth(call(np_attr(value_names::all.get()).get(), a).get()); }

// np.max(a) or np.min(a) over all elements.
inline Ref np_extreme(PyObject* a, bool maximum) {
    return call(np_attr(maximum ? names.max : names.min).get(), a);
}

// The arithmetic operators, as NumPy implements them for its arrays.
inline Ref multiply(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_Multiply(a, b)); }
inline Ref subtract(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_Subtract(a, b)); }
inline Ref divide(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_TrueDivide(a, b)); }
inline Ref negative(PyObject* a) { return Ref::steal(PyNumber_Negative(a)); }
inline Ref power(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_Power(a, b, Py_None)); }
inline Ref equal(PyObject* a, PyObject* b) { return Ref::steal(PyObject_RichCompare(a, b, Py_EQ)); }
inline Ref matmul(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_MatrixMultiply(a, b)); }

// In place on an array this call owns (a -= b, a /= b, a **= b, np.negative(a, out=a)): the same
// element operations, without a new array.
inline void subtract_in_place(PyObject* a, PyObject* b) { Ref::steal(PyNumber_InPlaceSubtract(a, b)); }
inline void divide_in_place(PyObject* a, PyObject* b) { Ref::steal(PyNumber_InPlaceTrueDivide(a, b)); }
inline void power_in_place(PyObject* a, PyObject* b) { Ref::steal(PyNumber_InPlacePower(a, b, Py_None)); }
inline void negative_in_place(PyObject* a) {
    static Shared out_kw;
    PyObject* kw = out_kw.get([] { return PyTuple_Pack(1, value_names::out.get()); });
    Ref f = np_attr(value_names::negative.get());
    PyObject* argv[] = {nullptr, a, a};
    Ref::steal(PyObject_Vectorcall(f.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, kw));
}

// ---- integers, unpacking, row selectors, NumPy's generator -----------------------------------

// isinstance(obj, int): int, its subclasses and so bool; NumPy integer scalars are not ints.
inline bool is_int(PyObject* obj) noexcept { return PyLong_Check(obj); }

// The value of an int as a 32-bit C int, else OverflowError "value too large to convert to int".
inline int int_value(PyObject* v) {
    int overflow = 0;
    const long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0 || r < INT32_MIN || r > INT32_MAX) {
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

// An int compared with a C value without converting it: -1, 0 or 1 as v <, == or > c.
inline int int_sign_against(PyObject* v, long long c) {
    int overflow = 0;
    const long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0) return overflow;
    return r < c ? -1 : r > c ? 1 : 0;
}

// An integer object (anything with __index__) as a count; OverflowError when it does not fit.
inline Py_ssize_t index_value(PyObject* o) {
    Py_ssize_t n = PyNumber_AsSsize_t(o, PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) rethrow();
    return n;
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

// One draw from NumPy's global generator, np.random.randint(2, 2147483647), as a 32-bit int:
// the seed material of the random kernels.
inline int draw_rand_delta();

// The seed material of a random call: what its `_seeded` entry was handed, else one draw from
// NumPy's global generator.
inline int rand_delta(const Args& a) { return a.seed() != 0 ? a.seed() : draw_rand_delta(); }

inline int draw_rand_delta() {
    static Name random{"random"}, randint{"randint"};
    static Shared top;
    PyObject* largest = top.get([] { return PyLong_FromLong(2147483647); });
    Ref generator = np_attr(random.get());
    return as_int(call_method(generator.get(), randint.get(), constants.two, largest).get());
}

}  // namespace evo
