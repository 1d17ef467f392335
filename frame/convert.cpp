#include "convert.hpp"

#include <cstdint>

namespace evo {

namespace {


Ref type_object(Elem elem) {
    return elem == Elem::f64 ? Ref::borrow((PyObject*)&PyFloat_Type) : np_attr(names.int32);
}

}  // namespace

Ref c_contiguous(PyObject* obj) {
    Ref flags = getattr(obj, names.flags);
    if (truth(getitem(flags.get(), names.C_CONTIGUOUS).get())) return Ref::borrow(obj);
    return call(np_attr(names.ascontiguousarray).get(), obj);
}

Ref row_selector(Py_ssize_t k) {
    Ref index = Ref::steal(PyLong_FromLong(k));
    Ref all = Ref::steal(PySlice_New(nullptr, nullptr, nullptr));
    return Ref::steal(PyTuple_Pack(2, index.get(), all.get()));
}

Array Array::astype(PyObject* obj, Elem elem, int ndim) {
    Array a;
    a.acquire(call_method(obj, names.astype, type_object(elem).get()), elem, ndim, false);
    return a;
}

int* Array::int_data(const void* p) const {
    if (itemsize_ != (Py_ssize_t)sizeof(int)) {  // acquire() admitted only double or int
        PyErr_SetString(PyExc_SystemError, "int32 data asked of a float64 array");
        rethrow();
    }
    return (int*)const_cast<void*>(p);
}

MatrixRows::MatrixRows(PyObject* m, Py_ssize_t rows, Py_ssize_t cols)
    : m_(Ref::borrow(m)), rows_(rows), cols_(cols), whole_(Array::in_place(m, Elem::f64, 2)) {
    if (!whole_) {
        m_ = c_contiguous(m);
        whole_ = Array::in_place(m_.get(), Elem::f64, 2);
    }
    if (whole_) base_ = whole_.matrix(rows, cols);
}

const double* MatrixRows::f64(PyObject* selector, Py_ssize_t k) {
    if (base_) return base_ + k * cols_;
    arrays_.push_back(Array::astype(getitem(m_.get(), selector).get(), Elem::f64, 1));
    return arrays_.back().vector(cols_);
}

const int* MatrixRows::i32(PyObject* selector, Py_ssize_t k) {
    if (base_) {
        if (ints_.empty()) ints_.resize((std::size_t)(rows_ * cols_));
        const double* x = base_ + k * cols_;
        int* to = ints_.data() + k * cols_;
        Py_ssize_t j = 0;
        for (; j < cols_ && x[j] > -2147483649.0 && x[j] < 2147483648.0; ++j) to[j] = (int)x[j];
        if (j == cols_) return to;
    }
    arrays_.push_back(Array::astype(getitem(m_.get(), selector).get(), Elem::i32, 1));
    return arrays_.back().ivector(cols_);
}

int MatrixRows::sum(const int* row) const {
    const Array* taken = nullptr;
    for (const Array& a : arrays_)
        if (a.dim(0) == cols_ && (const void*)row == (const void*)a.ivector(cols_)) taken = &a;
    if (taken && Py_TYPE(taken->obj()) != ndarray_type()) {
        static Name sum{"sum"};
        Ref total = call(np_attr(sum.get()).get(), taken->obj());
        Py_ssize_t n = PyNumber_AsSsize_t(total.get(), PyExc_OverflowError);
        if (n == -1 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) rethrow();
            PyErr_Clear();
            n = PY_SSIZE_T_MAX;  // reported below in the words of a count
        }
        return to_int(n);
    }
    std::int64_t total = 0;  // np.sum of an exact int32 ndarray: the same number
    for (Py_ssize_t j = 0; j < cols_; ++j) total += row[j];
    return to_int((Py_ssize_t)total);
}

}  // namespace evo
