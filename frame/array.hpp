// Array arguments and results: the ndarray check, coercion and typed buffers.
//
// An argument reaches a kernel in three steps: coerced (`Array::coerce` and its kin: contiguity,
// then the element type, each only when needed), read through a view that is checked against the
// counts the kernel is told (`matrix`, `vector`: const data only), while the kernel writes into an
// `Output`, an array the call made itself (`Output::empty`), the only kind whose data can be
// written.  Every pointer a kernel receives comes from one of them: a reference to the array
// object together with its memory as C-contiguous elements of the exact type.  An exact ndarray is read from its own fields, once import has seen them describe
// an array as its buffer export does (numpy_layout.hpp); any other object is asked through the
// buffer protocol.  Whatever an argument's `flags`, `dtype` or `shape` attributes claim, a kernel
// cannot read or write outside that memory.
#pragma once

#include "frame.hpp"

#include <initializer_list>

namespace evo {

enum class Elem { f64, i32 };

class Output;

// A read-only array: a call's argument, coerced, or a result moved from an Output.
class Array {
public:
    Array() noexcept = default;
    ~Array() { reset(); }
    // Moves are inline: the arguments of a call are moved into place on every call.
    Array(Array&& o) noexcept { take(o); }
    Array& operator=(Array&& o) noexcept {
        if (this != &o) {
            reset();
            take(o);
        }
        return *this;
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    // The argument coerced as documented: C-contiguous first (np.ascontiguousarray), then the
    // element type (astype(float) or astype(np.int32)), each only when needed; then its buffer.
    // An argument used as it is, is borrowed: `obj` must outlive the Array (a call's argument, or
    // an object the call holds), and no reference to it is taken, so that threads calling with
    // the same arrays do not contend for their reference counts.
    static Array coerce(PyObject* obj, Elem elem, int ndim);
    // The same, for a point that a library call computed: any number of dimensions is accepted as
    // long as the data are exactly `n` elements (np.matrix reductions stay 2-D, for example); the
    // array is held, the point being the result of a call.
    static Array coerce_elements(PyObject* obj, Elem elem, Py_ssize_t n);
    // obj.astype(float) or obj.astype(np.int32), always a new array, taken as it comes: a
    // result of another number of dimensions raises the buffer-dimension ValueError.
    static Array astype(PyObject* obj, Elem elem, int ndim);
    // obj itself (borrowed, as by coerce) when it is an exact ndarray that already is C-contiguous
    // data of the element type and number of dimensions, else an empty Array (nothing is
    // converted or raised): the fast path, which coerce and coerce_elements take first.
    static Array in_place(PyObject* obj, Elem elem, int ndim);

    explicit operator bool() const noexcept { return bool(ref_); }
    PyObject* obj() const noexcept { return ref_.get(); }
    Py_ssize_t dim(int axis) const noexcept { return shape_[axis]; }

    // The data of a (rows x cols) matrix or an n-vector, after checking that the buffer has
    // exactly that shape.
    const double* matrix(Py_ssize_t rows, Py_ssize_t cols) const { return (const double*)data(rows, cols, 2); }
    const double* vector(Py_ssize_t n) const { return (const double*)data(n, 0, 1); }
    const int* imatrix(Py_ssize_t rows, Py_ssize_t cols) const { return (const int*)data(rows, cols, 2); }
    const int* ivector(Py_ssize_t n) const { return (const int*)data(n, 0, 1); }
    // The first n elements of a vector that holds at least n.
    const double* head(Py_ssize_t n) const;
    // The data of an array of exactly n elements, whatever its number of dimensions.
    const double* elements(Py_ssize_t n) const;
    // The number of elements of the buffer.
    Py_ssize_t size() const noexcept { return itemsize_ ? len_ / itemsize_ : 0; }

    // Hands the array to the caller, as a new reference (the buffer is released first).
    PyObject* release();

private:
    friend class Output;
    static constexpr int kAnyDims = -1;
    void acquire(Ref obj, Elem elem, int ndim, bool writable);
    static Array coerced(PyObject* obj, Elem elem, int ndim);
    void realign(Elem elem, bool writable);
    bool direct_view(PyObject* obj, Elem elem, int ndim, bool writable);
    const void* data(Py_ssize_t n0, Py_ssize_t n1, int ndim) const;
    int* int_data(const void* p) const;
    void reset() noexcept {
        if (held_) release_view();
        if (borrowed_) (void)ref_.release();
        borrowed_ = false;
        buf_ = nullptr;
        len_ = itemsize_ = 0;
        ndim_ = 0;
        shape_ = dims_;
        ref_ = Ref();
    }
    void release_view() noexcept;
    // A borrowed object becomes one the Array holds a reference to.
    void hold() noexcept {
        if (borrowed_) Py_INCREF(ref_.get());
        borrowed_ = false;
    }
    // This array becomes o, which is left empty.
    void take(Array& o) noexcept {
        ref_ = std::move(o.ref_);
        borrowed_ = std::exchange(o.borrowed_, false);
        buf_ = o.buf_;
        len_ = o.len_;
        itemsize_ = o.itemsize_;
        ndim_ = o.ndim_;
        dims_[0] = o.dims_[0];
        dims_[1] = o.dims_[1];
        shape_ = o.shape_ == o.dims_ ? dims_ : o.shape_;
        if (o.held_) take_view(o);
        o.itemsize_ = 0;
        o.shape_ = o.dims_;
    }
    void take_view(Array& o) noexcept;

    void set_data(void* buf, Py_ssize_t len, Py_ssize_t itemsize, int ndim, const Py_ssize_t* shape);

    // The data: read from an exact ndarray directly, or from a buffer that `view_` holds.
    Ref ref_;
    char* buf_ = nullptr;
    Py_ssize_t len_ = 0, itemsize_ = 0;  // bytes; itemsize_ is 0 while nothing is described
    int ndim_ = 0;
    const Py_ssize_t* shape_ = dims_;  // dims_, or a held buffer's own shape beyond two dimensions
    Py_ssize_t dims_[2] = {};
    bool held_ = false;  // view_ is a buffer to release (set only then)
    bool borrowed_ = false;  // ref_ is the caller's reference, not one of the Array's own
    Py_buffer view_;
};

// An array the call made and alone holds, whose data the kernels write.  Moved into an Array,
// it is read like an argument.
class Output : public Array {
public:
    Output() noexcept = default;
    // np.empty(shape, dtype=float or np.int32), through the module global np.
    static Output empty(std::initializer_list<Py_ssize_t> shape, Elem elem);
    static Output empty(const Py_ssize_t* shape, int ndim, Elem elem);
    // A new C-contiguous float64 array holding a copy of `src`.
    static Output copy_of(const Array& src);
    // A NumPy result computed from exact ndarrays, taken writable as C-contiguous data of the
    // element type; the call changes it in place.
    static Output adopt(Ref obj, Elem elem, int ndim);

    // The data to write, after the same shape checks as the views.
    double* out_matrix(Py_ssize_t rows, Py_ssize_t cols) { return (double*)data(rows, cols, 2); }
    double* out_vector(Py_ssize_t n) { return (double*)data(n, 0, 1); }
    int* out_imatrix(Py_ssize_t rows, Py_ssize_t cols) { return int_data(data(rows, cols, 2)); }
    int* out_ivector(Py_ssize_t n) { return int_data(data(n, 0, 1)); }

private:
    void* data(Py_ssize_t n0, Py_ssize_t n1, int ndim) { return const_cast<void*>(Array::data(n0, n1, ndim)); }
};

// The ndarray check: an instance of numpy.ndarray (subclasses pass) whose `ndim` equals `ndim`;
// otherwise the module error `msg`.  `ndim` is not read when the instance test fails.
void require_ndarray(PyObject* obj, int ndim, int msg);
bool is_ndarray(PyObject* obj) noexcept;

// obj.shape, read once; shape[axis] as a count.  An exact ndarray's shape is copied from the array
// itself: the values the attribute would give, without making the tuple.
class Shape {
public:
    explicit Shape(PyObject* obj);
    Py_ssize_t operator[](int axis) const;

private:
    static constexpr int kKept = 3;
    mutable Ref shape_;
    PyObject* exact_ = nullptr;  // an argument of the call, alive while the Shape is
    int kept_ = 0;
    Py_ssize_t dims_[kKept] = {};
};

// numpy.ndarray, whose instances' fields the frame then reads directly when a probe array shows
// that they lie where numpy_layout.hpp says (module execution); else no array is read so.
void read_fields_of(PyTypeObject* ndarray);
// An exact ndarray whose fields the frame reads: the shape, the data and the element type.
bool fields_readable(PyObject* obj) noexcept;
// The number of dimensions and the shape of such an array, read from the array object.
int exact_ndim(PyObject* exact) noexcept;
const Py_ssize_t* exact_shape(PyObject* exact) noexcept;
inline Py_ssize_t shape_at(PyObject* obj, int axis) { return Shape(obj)[axis]; }
// obj.ndim != ndim, with the attribute read through the interpreter.
bool ndim_differs(PyObject* obj, int ndim);
// len(obj)
Py_ssize_t length(PyObject* obj);

// np.min(a, 0) or np.max(a, 0).  For an exact ndarray this is the ufunc reduction that np.min
// itself performs, np.minimum.reduce(a, 0), called without np.min's Python-level wrapper.
Ref reduce_axis0(PyObject* a, bool maximum);

}  // namespace evo
