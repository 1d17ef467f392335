#include "convert.hpp"

#include <cstdint>

namespace evo {

namespace {

PyObject* g_sum = nullptr;  // interned "sum", made on first use (under the interpreter lock)

Ref type_object(Elem elem) {
    return elem == Elem::f64 ? Ref::borrow((PyObject*)&PyFloat_Type) : np_attr(names.int32);
}

}  // namespace

Ref c_contiguous(PyObject* obj) {
    Ref flags = getattr(obj, names.flags);
    if (truth(getitem(flags.get(), names.C_CONTIGUOUS).get())) return Ref::borrow(obj);
    return call(np_attr(names.ascontiguousarray).get(), obj);
}

Ref row_selector(long k) {
    Ref index = Ref::steal(PyLong_FromLong(k));
    Ref all = Ref::steal(PySlice_New(nullptr, nullptr, nullptr));
    return Ref::steal(PyTuple_Pack(2, index.get(), all.get()));
}

Array Array::astype(PyObject* obj, Elem elem, int ndim) {
    Array a;
    a.acquire(call_method(obj, names.astype, type_object(elem).get()), elem, ndim, false);
    return a;
}

Array Array::in_place(PyObject* obj, Elem elem, int ndim) {
    Array a;
    if (Py_TYPE(obj) == ndarray_type() && a.try_fast_view(obj, elem, ndim)) return a;
    return Array();
}

int* Array::out_imatrix(Py_ssize_t rows, Py_ssize_t cols) {
    void* p = out_data(rows, cols, 2);
    if (view_.itemsize != (Py_ssize_t)sizeof(int)) {  // acquire() admitted only double or int
        PyErr_SetString(PyExc_SystemError, "int32 data asked of a float64 array");
        rethrow();
    }
    return (int*)p;
}

MatrixRows::MatrixRows(PyObject* m, Py_ssize_t rows, Py_ssize_t cols)
    : m_(m), cols_(cols), whole_(Array::in_place(m, Elem::f64, 2)) {
    if (whole_) base_ = whole_.matrix(rows, cols);
    taken_.reserve(8);
}

const MatrixRows::Taken& MatrixRows::through_numpy(PyObject* selector, Elem elem) {
    Array row = Array::astype(getitem(m_, selector).get(), elem, 1);
    const void* data = elem == Elem::f64 ? (const void*)row.vector(cols_) : (const void*)row.ivector(cols_);
    taken_.push_back({std::move(row), {}, data});
    return taken_.back();
}

const double* MatrixRows::f64(PyObject* selector, Py_ssize_t k) {
    if (base_) return base_ + k * cols_;
    return (const double*)through_numpy(selector, Elem::f64).data;
}

const int* MatrixRows::i32(PyObject* selector, Py_ssize_t k) {
    if (base_) {
        const double* x = base_ + k * cols_;
        std::vector<int> values((std::size_t)cols_);
        Py_ssize_t j = 0;
        for (; j < cols_ && x[j] > -2147483649.0 && x[j] < 2147483648.0; ++j) values[j] = (int)x[j];
        if (j == cols_) {
            taken_.push_back({Array(), std::move(values), nullptr});
            return (const int*)(taken_.back().data = taken_.back().values.data());
        }
    }
    return (const int*)through_numpy(selector, Elem::i32).data;
}

int MatrixRows::sum(const int* row) const {
    for (const Taken& t : taken_) {
        if (t.data != row) continue;
        if (t.array && Py_TYPE(t.array.obj()) != ndarray_type()) {
            if (g_sum == nullptr) g_sum = check(PyUnicode_InternFromString("sum"));
            Ref total = call(np_attr(g_sum).get(), t.array.obj());
            Py_ssize_t n = PyNumber_AsSsize_t(total.get(), PyExc_OverflowError);
            if (n == -1 && PyErr_Occurred()) {
                if (!PyErr_ExceptionMatches(PyExc_OverflowError)) rethrow();
                PyErr_Clear();
                n = PY_SSIZE_T_MAX;  // reported below in the words of a count
            }
            return to_int(n);
        }
        std::int64_t total = 0;
        for (Py_ssize_t j = 0; j < cols_; ++j) total += row[j];
        return to_int((Py_ssize_t)total);
    }
    PyErr_SetString(PyExc_SystemError, "sum of a row not taken");
    rethrow();
}

}  // namespace evo
