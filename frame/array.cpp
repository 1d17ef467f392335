#include "array.hpp"
#include "numpy_layout.hpp"

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

PyObject* small_int(int axis) { return axis == 0 ? constants.zero : axis == 1 ? constants.one : constants.two; }

}  // namespace

void Array::take_view(Array& o) noexcept {
    held_ = std::exchange(o.held_, false);
    view_ = o.view_;
    // Simple exporters point shape and strides into the Py_buffer itself.
    if (o.view_.shape == &o.view_.len) view_.shape = &view_.len;
    if (o.view_.strides == &o.view_.itemsize) view_.strides = &view_.itemsize;
    if (o.shape_ == &o.view_.len) shape_ = &view_.len;
}

void Array::release_view() noexcept {
    PyBuffer_Release(&view_);
    held_ = false;
}

void Array::set_data(void* buf, Py_ssize_t len, Py_ssize_t itemsize, int ndim, const Py_ssize_t* shape) {
    buf_ = (char*)buf;
    len_ = len;
    itemsize_ = itemsize;
    ndim_ = ndim;
    if (ndim <= 2) {
        for (int k = 0; k < ndim; ++k) dims_[k] = shape[k];
        shape_ = dims_;
    } else {
        shape_ = shape;
    }
}

// ---- exact ndarrays, read directly -------------------------------------------------------------
//
// An exact ndarray's data pointer, shape and flags are read from the array object itself, and
// its element type from its dtype object (numpy_layout.hpp), once module execution has seen those
// fields describe an array as its buffer export does.  The answer is the one the buffer protocol
// would give, without the export.

namespace {

using namespace numpy_layout;

// numpy.ndarray once its fields are known to read right; until then (or if they do not) none.
PyTypeObject* g_readable = nullptr;

bool native_elements(PyObject* descr, Elem e) {
    const DescrFields& d = descr_fields(descr);
    if (d.byteorder != '=' && d.byteorder != '|' && d.byteorder != kLittleEndian) return false;
    if (e == Elem::f64) return d.type_num == kDouble;
    return d.type_num == kInt || (d.type_num == kLong && sizeof(long) == sizeof(int));
}

}  // namespace

bool numpy_layout::layout_matches(PyObject* probe) {
    const ArrayFields& a = fields(probe);
    Py_buffer view;
    check(PyObject_GetBuffer(probe, &view, PyBUF_RECORDS_RO));
    Ref dtype = Ref::steal_or_null(PyObject_GetAttr(probe, names.dtype));
    const bool same = dtype && a.descr == dtype.get() && a.data == view.buf && a.nd == 2 && view.ndim == 2 &&
                      a.dimensions[0] == view.shape[0] && a.dimensions[1] == view.shape[1] &&
                      a.strides[0] == view.strides[0] && a.strides[1] == view.strides[1] &&
                      (a.flags & kCContiguous) && (a.flags & kWriteable) && !view.readonly &&
                      format_code(view.format) == 'd' && native_elements(a.descr, Elem::f64);
    PyBuffer_Release(&view);
    if (!dtype) rethrow();
    return same;
}

void read_fields_of(PyTypeObject* ndarray) {
    g_readable = nullptr;
    Ref probe = Ref::steal_or_null(PyObject_CallFunction((PyObject*)ndarray, "((ii))", 2, 3));
    if (!probe) {
        PyErr_Clear();  // not NumPy's ndarray: every array goes through its attributes and buffer
        return;
    }
    if (Py_TYPE(probe.get()) == ndarray && layout_matches(probe.get())) g_readable = ndarray;
}

bool fields_readable(PyObject* obj) noexcept { return Py_TYPE(obj) == g_readable; }

int exact_ndim(PyObject* exact) noexcept { return fields(exact).nd; }
const Py_ssize_t* exact_shape(PyObject* exact) noexcept { return fields(exact).dimensions; }

bool Array::direct_view(PyObject* obj, Elem elem, int ndim, bool writable) {
    const ArrayFields& a = fields(obj);
    if (a.nd < 0 || a.nd > 2 || (ndim != kAnyDims && a.nd != ndim)) return false;
    if (!(a.flags & kCContiguous) || (writable && !(a.flags & kWriteable))) return false;
    if (!native_elements(a.descr, elem)) return false;
    const Py_ssize_t itemsize = item_size(elem);
    if ((std::uintptr_t)a.data % (std::uintptr_t)itemsize != 0) return false;
    Py_ssize_t n = 1;
    for (int k = 0; k < a.nd; ++k) n *= a.dimensions[k];
    set_data(a.data, n * itemsize, itemsize, a.nd, a.dimensions);
    return true;
}

void Array::acquire(Ref obj, Elem elem, int ndim, bool writable) {
    reset();
    if (fields_readable(obj.get()) && direct_view(obj.get(), elem, ndim, writable)) {
        ref_ = std::move(obj);
        return;
    }
    int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    check(PyObject_GetBuffer(obj.get(), &view_, flags));
    held_ = true;
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
    set_data(view_.buf, view_.len, view_.itemsize, view_.ndim, view_.shape);
    if ((std::uintptr_t)buf_ % (std::uintptr_t)itemsize_ != 0) realign(elem, writable);
}

// A buffer of the right type and order whose address is not a multiple of its element size (NumPy
// makes such views of byte buffers): the kernels get an aligned copy of the same bytes instead.
void Array::realign(Elem elem, bool writable) {
    if (writable) {
        PyErr_SetString(PyExc_ValueError, "Buffer is not aligned");
        rethrow();
    }
    Output copy = Output::empty(shape_, ndim_, elem);
    std::memcpy(copy.buf_, buf_, (size_t)len_);
    *this = std::move(copy);
}

// The one fast path: an exact ndarray that already is C-contiguous data of the element type is
// used as it is, borrowed; the answer is the same as that of its `flags` and `dtype`, which an
// exact ndarray cannot override.
Array Array::in_place(PyObject* obj, Elem elem, int ndim) {
    Array a;
    if (fields_readable(obj) && a.direct_view(obj, elem, ndim, false)) {
        a.ref_ = Ref::steal_or_null(obj);
        a.borrowed_ = true;
    }
    return a;
}

Array Array::coerce(PyObject* obj, Elem elem, int ndim) {
    Array a = in_place(obj, elem, ndim);
    return a ? std::move(a) : coerced(obj, elem, ndim);
}

Array Array::coerce_elements(PyObject* obj, Elem elem, Py_ssize_t n) {
    Array a = in_place(obj, elem, 1);
    if (a)
        a.hold();  // the point is a call's result, not an argument that outlives the Array
    else
        a = coerced(obj, elem, kAnyDims);
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

Output Output::empty(std::initializer_list<Py_ssize_t> shape, Elem elem) {
    return empty(shape.begin(), (int)shape.size(), elem);
}

Output Output::empty(const Py_ssize_t* shape, int ndim, Elem elem) {
    // np.empty and np.int32 as kept, else looked up (and held) for this call.
    const NumpyNow* now = numpy_now();
    Ref numpy, looked_up, int32;
    if (now == nullptr) {
        numpy = np();
        looked_up = attr_of(numpy.get(), names.empty);
    }
    PyObject* empty = now ? now->empty : looked_up.get();
    Ref dims = Ref::steal(PyTuple_New(ndim));
    for (int k = 0; k < ndim; ++k) PyTuple_SET_ITEM(dims.get(), k, integer(shape[k]).release());
    PyObject* type = (PyObject*)&PyFloat_Type;
    if (elem == Elem::i32) {
        if (now == nullptr) int32 = attr_of(numpy.get(), names.int32);
        type = now ? now->int32 : int32.get();
    }
    PyObject* argv[] = {nullptr, dims.get(), type};
    Ref result = Ref::steal(PyObject_Vectorcall(empty, argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                names.dtype_kw));
    Output a;
    a.acquire(std::move(result), elem, ndim, true);
    return a;
}

Output Output::copy_of(const Array& src) {
    Output a = empty({src.dim(0), src.dim(1)}, Elem::f64);
    double* to = a.out_matrix(src.dim(0), src.dim(1));
    std::memcpy(to, src.matrix(src.dim(0), src.dim(1)), (size_t)src.len_);
    return a;
}

const void* Array::data(Py_ssize_t n0, Py_ssize_t n1, int ndim) const {
    if (itemsize_ == 0) {
        PyErr_SetString(PyExc_SystemError, "array buffer not held");
        rethrow();
    }
    if (ndim_ != ndim || shape_[0] != n0 || (ndim == 2 && shape_[1] != n1)) {
        if (ndim == 2)
            PyErr_Format(PyExc_ValueError, "Buffer has wrong shape (expected (%zd, %zd), got (%zd, %zd))", n0, n1,
                         ndim_ > 0 ? shape_[0] : (Py_ssize_t)0, ndim_ > 1 ? shape_[1] : (Py_ssize_t)0);
        else
            PyErr_Format(PyExc_ValueError, "Buffer has wrong shape (expected (%zd,), got (%zd,))", n0,
                         ndim_ > 0 ? shape_[0] : (Py_ssize_t)0);
        rethrow();
    }
    return buf_;
}

const double* Array::head(Py_ssize_t n) const {
    return (const double*)data(ndim_ == 1 && shape_[0] >= n ? shape_[0] : n, 0, 1);
}

const double* Array::elements(Py_ssize_t n) const {
    if (itemsize_ == 0) {
        PyErr_SetString(PyExc_SystemError, "array buffer not held");
        rethrow();
    }
    if (len_ != n * itemsize_) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong size (expected %zd elements, got %zd)", n,
                     len_ / itemsize_);
        rethrow();
    }
    return (const double*)buf_;
}

PyObject* Array::release() {
    hold();
    Ref obj = std::move(ref_);
    reset();
    return obj.release();
}

bool is_ndarray(PyObject* obj) noexcept { return PyObject_TypeCheck(obj, ndarray_type()); }

bool ndim_differs(PyObject* obj, int ndim) {
    if (fields_readable(obj)) return exact_ndim(obj) != ndim;
    return not_equal(getattr(obj, names.ndim).get(), small_int(ndim));
}

void require_ndarray(PyObject* obj, int ndim, int msg) {
    if (!is_ndarray(obj) || ndim_differs(obj, ndim)) fail(msg);
}

Shape::Shape(PyObject* obj) {
    if (fields_readable(obj)) {
        exact_ = obj;
        const int nd = exact_ndim(obj);
        kept_ = nd < kKept ? nd : kKept;
        for (int k = 0; k < kept_; ++k) dims_[k] = exact_shape(obj)[k];
    } else {
        shape_ = getattr(obj, names.shape);
    }
}

Py_ssize_t Shape::operator[](int axis) const {
    if (exact_ != nullptr) {
        if (axis < kept_) return dims_[axis];
        if (!shape_) shape_ = getattr(exact_, names.shape);  // further axes, or the tuple's IndexError
    }
    PyObject* shape = shape_.get();
    Ref item = PyTuple_CheckExact(shape) && axis < PyTuple_GET_SIZE(shape)
                   ? Ref::borrow(PyTuple_GET_ITEM(shape, axis))
                   : getitem(shape, small_int(axis));
    Py_ssize_t n = PyNumber_AsSsize_t(item.get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) rethrow();
    return n;
}

Py_ssize_t length(PyObject* obj) {
    if (fields_readable(obj) && exact_ndim(obj) > 0) return exact_shape(obj)[0];
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

Output Output::adopt(Ref obj, Elem elem, int ndim) {
    Output a;
    a.acquire(std::move(obj), elem, ndim, true);
    return a;
}

}  // namespace evo
