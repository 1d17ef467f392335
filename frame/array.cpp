#include "array.hpp"

#include <cstdint>
#include <cstring>

namespace evo {

namespace {

constexpr char kLittleEndian = 1 == *(const char*)"\1\0\0\0" ? '<' : '>';

const char* c_name(Elem e) { return e == Elem::f64 ? "double" : "int"; }
Py_ssize_t item_size(Elem e) { return e == Elem::f64 ? (Py_ssize_t)sizeof(double) : (Py_ssize_t)sizeof(int); }

// The struct code of a buffer format that describes one native-order item, else 0.
char format_code(const char* f) {
    if (f == nullptr) return 'B';
    if (*f == '@' || *f == '=' || *f == kLittleEndian) ++f;
    return (f[0] != 0 && f[1] == 0) ? f[0] : 0;
}

bool code_matches(char code, Elem e) {
    if (e == Elem::f64) return code == 'd';
    return code == 'i' || (code == 'l' && sizeof(long) == sizeof(int));
}

const char* describe(const char* format) {
    switch (format_code(format)) {
        case 'b': return "'signed char'";
        case 'B': return "'unsigned char'";
        case 'h': return "'short'";
        case 'H': return "'unsigned short'";
        case 'i': return "'int'";
        case 'I': return "'unsigned int'";
        case 'l': return "'long'";
        case 'L': return "'unsigned long'";
        case 'q': return "'long long'";
        case 'Q': return "'unsigned long long'";
        case 'e': return "'half'";
        case 'f': return "'float'";
        case 'd': return "'double'";
        case 'g': return "'long double'";
        case '?': return "'bool'";
        case 'O': return "'Python object'";
        default: return nullptr;
    }
}

bool aligned(const Py_buffer& v) { return (std::uintptr_t)v.buf % (std::uintptr_t)v.itemsize == 0; }

PyObject* small_int(int axis) { return axis == 0 ? constants.zero : axis == 1 ? constants.one : constants.two; }

}  // namespace

Array::Array(Array&& o) noexcept { *this = std::move(o); }

Array& Array::operator=(Array&& o) noexcept {
    if (this == &o) return *this;
    reset();
    ref_ = std::move(o.ref_);
    view_ = o.view_;
    // Simple exporters point shape and strides into the Py_buffer itself.
    if (o.view_.shape == &o.view_.len) view_.shape = &view_.len;
    if (o.view_.strides == &o.view_.itemsize) view_.strides = &view_.itemsize;
    held_ = std::exchange(o.held_, false);
    writable_ = o.writable_;
    o.view_ = Py_buffer{};
    return *this;
}

void Array::reset() noexcept {
    if (held_) PyBuffer_Release(&view_);
    held_ = false;
    view_ = Py_buffer{};
    ref_ = nullptr;
}

void Array::acquire(Ref obj, Elem elem, int ndim, bool writable) {
    reset();
    int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    check(PyObject_GetBuffer(obj.get(), &view_, flags));
    held_ = true;
    writable_ = writable;
    ref_ = std::move(obj);
    if (ndim != kAnyDims && view_.ndim != ndim) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)", ndim,
                     view_.ndim);
        rethrow();
    }
    if (!code_matches(format_code(view_.format), elem)) {
        const char* got = describe(view_.format);
        if (got)
            PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected '%s' but got %s", c_name(elem), got);
        else
            PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected '%s' but got '%s'", c_name(elem),
                         view_.format);
        rethrow();
    }
    if (view_.itemsize != item_size(elem)) {
        Py_ssize_t want = item_size(elem);
        PyErr_Format(PyExc_ValueError, "Item size of buffer (%zd byte%s) does not match size of '%s' (%zd byte%s)",
                     view_.itemsize, view_.itemsize == 1 ? "" : "s", c_name(elem), want, want == 1 ? "" : "s");
        rethrow();
    }
    if (!aligned(view_)) realign(elem);
}

// A buffer of the right type and order whose address is not a multiple of its element size (NumPy
// makes such views of byte buffers): the kernels get an aligned copy of the same bytes instead.
void Array::realign(Elem elem) {
    if (writable_) {
        PyErr_SetString(PyExc_ValueError, "Buffer is not aligned");
        rethrow();
    }
    Array copy = empty(view_.shape, view_.ndim, elem);
    std::memcpy(copy.view_.buf, view_.buf, (size_t)view_.len);
    copy.writable_ = false;
    *this = std::move(copy);
}

// An exact ndarray that already is C-contiguous data of the element type is used as it is; the
// answer is the same as that of its `flags` and `dtype`, which an exact ndarray cannot override.
bool Array::try_fast_view(PyObject* obj, Elem elem, int ndim) {
    if (PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();  // e.g. a dtype without a buffer format: the documented path decides
        return false;
    }
    held_ = true;
    if (view_.ndim == ndim && code_matches(format_code(view_.format), elem) && view_.itemsize == item_size(elem) &&
        PyBuffer_IsContiguous(&view_, 'C') && aligned(view_)) {
        ref_ = Ref::borrow(obj);
        return true;
    }
    reset();
    return false;
}

Array Array::coerce(PyObject* obj, Elem elem, int ndim) {
    Array a;
    if (Py_TYPE(obj) == ndarray_type() && a.try_fast_view(obj, elem, ndim)) return a;
    return coerced(obj, elem, ndim);
}

Array Array::coerce_elements(PyObject* obj, Elem elem, Py_ssize_t n) {
    Array a;
    if (!(Py_TYPE(obj) == ndarray_type() && a.try_fast_view(obj, elem, 1))) a = coerced(obj, elem, kAnyDims);
    a.elements(n);
    return a;
}

Array Array::coerced(PyObject* obj, Elem elem, int ndim) {
    Array a;
    Ref cur = Ref::borrow(obj);
    Ref flags = getattr(cur.get(), names.flags);
    if (!truth(getitem(flags.get(), names.C_CONTIGUOUS).get()))
        cur = call(np_attr(names.ascontiguousarray).get(), cur.get());
    Ref type = elem == Elem::f64 ? Ref::borrow((PyObject*)&PyFloat_Type) : np_attr(names.int32);
    if (not_equal(getattr(cur.get(), names.dtype).get(), type.get()))
        cur = call_method(cur.get(), names.astype, type.get());
    a.acquire(std::move(cur), elem, ndim, false);
    return a;
}

Array Array::empty(std::initializer_list<Py_ssize_t> shape, Elem elem) {
    return empty(shape.begin(), (int)shape.size(), elem);
}

Array Array::empty(const Py_ssize_t* shape, int ndim, Elem elem) {
    Ref numpy = np();
    Ref empty = getattr(numpy.get(), names.empty);
    Ref dims = Ref::steal(PyTuple_New(ndim));
    for (int k = 0; k < ndim; ++k) PyTuple_SET_ITEM(dims.get(), k, integer(shape[k]).release());
    Ref type = elem == Elem::f64 ? Ref::borrow((PyObject*)&PyFloat_Type) : getattr(numpy.get(), names.int32);
    PyObject* argv[] = {nullptr, dims.get(), type.get()};
    Ref result = Ref::steal(PyObject_Vectorcall(empty.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                names.dtype_kw));
    Array a;
    a.acquire(std::move(result), elem, ndim, true);
    return a;
}

Array Array::copy_of(const Array& src) {
    Array a = empty({src.dim(0), src.dim(1)}, Elem::f64);
    double* to = a.out_matrix(src.dim(0), src.dim(1));
    std::memcpy(to, src.matrix(src.dim(0), src.dim(1)), (size_t)src.view_.len);
    return a;
}

const void* Array::data(Py_ssize_t n0, Py_ssize_t n1, int ndim) const {
    if (!held_) {
        PyErr_SetString(PyExc_SystemError, "array buffer not held");
        rethrow();
    }
    if (view_.ndim != ndim || view_.shape[0] != n0 || (ndim == 2 && view_.shape[1] != n1)) {
        if (ndim == 2)
            PyErr_Format(PyExc_ValueError, "Buffer has wrong shape (expected (%zd, %zd), got (%zd, %zd))", n0, n1,
                         view_.ndim > 0 ? view_.shape[0] : (Py_ssize_t)0,
                         view_.ndim > 1 ? view_.shape[1] : (Py_ssize_t)0);
        else
            PyErr_Format(PyExc_ValueError, "Buffer has wrong shape (expected (%zd,), got (%zd,))", n0,
                         view_.ndim > 0 ? view_.shape[0] : (Py_ssize_t)0);
        rethrow();
    }
    return view_.buf;
}

const double* Array::head(Py_ssize_t n) const {
    return (const double*)data(view_.ndim == 1 && view_.shape[0] >= n ? view_.shape[0] : n, 0, 1);
}

const double* Array::elements(Py_ssize_t n) const {
    if (!held_) {
        PyErr_SetString(PyExc_SystemError, "array buffer not held");
        rethrow();
    }
    if (view_.len != n * view_.itemsize) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong size (expected %zd elements, got %zd)", n,
                     view_.len / view_.itemsize);
        rethrow();
    }
    return (const double*)view_.buf;
}

void* Array::out_data(Py_ssize_t n0, Py_ssize_t n1, int ndim) {
    const void* p = data(n0, n1, ndim);
    if (!writable_) {
        PyErr_SetString(PyExc_SystemError, "writing to an argument's buffer");
        rethrow();
    }
    return const_cast<void*>(p);
}

PyObject* Array::release() {
    if (held_) PyBuffer_Release(&view_);
    held_ = false;
    view_ = Py_buffer{};
    return ref_.release();
}

bool is_ndarray(PyObject* obj) noexcept { return PyObject_TypeCheck(obj, ndarray_type()); }

bool ndim_differs(PyObject* obj, int ndim) {
    return not_equal(getattr(obj, names.ndim).get(), small_int(ndim));
}

void require_ndarray(PyObject* obj, int ndim, int msg) {
    if (!is_ndarray(obj) || ndim_differs(obj, ndim)) fail(msg);
}

Shape::Shape(PyObject* obj) : shape_(getattr(obj, names.shape)) {}

Py_ssize_t Shape::operator[](int axis) const {
    PyObject* shape = shape_.get();
    Ref item = PyTuple_CheckExact(shape) && axis < PyTuple_GET_SIZE(shape)
                   ? Ref::borrow(PyTuple_GET_ITEM(shape, axis))
                   : getitem(shape, small_int(axis));
    Py_ssize_t n = PyNumber_AsSsize_t(item.get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) rethrow();
    return n;
}

Py_ssize_t length(PyObject* obj) {
    Py_ssize_t n = PyObject_Size(obj);
    if (n < 0) rethrow();
    return n;
}

Ref reduce_axis0(PyObject* a, bool maximum) {
    if (Py_TYPE(a) == ndarray_type())
        return call_method(np_attr(maximum ? names.maximum : names.minimum).get(), names.reduce, a, constants.zero);
    return call(np_attr(maximum ? names.max : names.min).get(), a, constants.zero);
}

// ---- arrays a call made itself ----------------------------------------------------------------

Array Array::adopt(Ref obj, Elem elem, int ndim) {
    Array a;
    a.acquire(std::move(obj), elem, ndim, true);
    return a;
}

}  // namespace evo
