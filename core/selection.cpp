// _selection: the selection steps of evocore.algorithms' elitist algorithms (not re-exported).
//   _selection("tournament", pairs, violation, W=None, crowd=None) -> the winners (int32) of
//       the binary tournaments pairs[2t] against pairs[2t + 1]: the winners of the even
//       tournaments first, then those of the odd ones, so that the first half mates with the
//       second.  pairs (coerced to int32) must index violation; W (a row of objective values a
//       candidate) and crowd (a crowding distance each) come together or not at all.
//   _selection("order", levels, crowd, rand, first=None) -> the first `first` rows (int32; all
//       of them when None) by increasing level, then decreasing crowding distance, then
//       increasing rand, then index: those of NumPy's np.lexsort((rand, -crowd, levels)), NaN
//       after every number of its key.
// Every array is coerced to C-contiguous and never written.  Checks, in this order: step, then
// the step's arrays from left to right.
#include "../frame/values.hpp"
#include "_selection.hpp"

#include <algorithm>
#include <vector>

namespace {

const char* const kDoc = "The selection steps of evocore.algorithms: _selection(step, a, b, c, d).";

#define PARAMS(ENTRY) \
    ENTRY(STEP, evo::required("step")) \
    ENTRY(A, evo::required("a")) \
    ENTRY(B, evo::required("b")) \
    ENTRY(C, evo::optional("c")) \
    ENTRY(D, evo::optional("d"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_STEP, "error in _selection: step must be 'tournament' or 'order'.") \
    ENTRY(M_PAIRS, "error in _selection: pairs must be a 1-D Numpy ndarray of an even number of indices into violation.") \
    ENTRY(M_VIOLATION, "error in _selection: violation must be a 1-D Numpy ndarray.") \
    ENTRY(M_W, "error in _selection: W must be None or a 2-D Numpy ndarray with one row per entry of violation.") \
    ENTRY(M_CROWD, "error in _selection: crowd must be a 1-D Numpy ndarray with one entry per row, given with W.") \
    ENTRY(M_LEVELS, "error in _selection: levels must be a 1-D Numpy ndarray.") \
    ENTRY(M_RAND, "error in _selection: rand must be a 1-D Numpy ndarray with one entry per row.") \
    ENTRY(M_FIRST, "error in _selection: first must be None or an int from 0 to the number of rows.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

// A 1-D float64 array of `n` entries (any length when n < 0).
evo::Array vector(PyObject* obj, Py_ssize_t n, int msg) {
    if (!evo::is_ndarray(obj) || evo::ndim_differs(obj, 1) || (n >= 0 && evo::length(obj) != n)) evo::fail(msg);
    return evo::Array::coerce(obj, evo::Elem::f64, 1);
}

PyObject* tournament(PyObject* pairs_, PyObject* violation_, PyObject* W_, PyObject* crowd_) {
    if (!evo::is_ndarray(pairs_) || evo::ndim_differs(pairs_, 1) || evo::length(pairs_) % 2) evo::fail(M_PAIRS);
    evo::Array pairs = evo::Array::coerce(pairs_, evo::Elem::i32, 1);
    evo::Array violation = vector(violation_, -1, M_VIOLATION);
    const Py_ssize_t N = violation.dim(0), count = pairs.dim(0);
    const int* p = pairs.ivector(count);
    for (Py_ssize_t i = 0; i < count; ++i)
        if (p[i] < 0 || p[i] >= N) evo::fail(M_PAIRS);
    evo::Array w, crowd;
    if (W_ != Py_None) {
        if (!evo::is_ndarray(W_) || evo::ndim_differs(W_, 2) || evo::length(W_) != N) evo::fail(M_W);
        w = evo::Array::coerce(W_, evo::Elem::f64, 2);
    }
    if ((W_ == Py_None) != (crowd_ == Py_None)) evo::fail(M_CROWD);
    if (crowd_ != Py_None) crowd = vector(crowd_, N, M_CROWD);

    const Py_ssize_t M = w ? w.dim(1) : 0;
    evo::Output out = evo::Output::empty({count / 2}, evo::Elem::i32);
    _tournament(p, evo::to_int(count / 2), violation.vector(N), w ? w.matrix(N, M) : nullptr, evo::to_int(M),
                crowd ? crowd.vector(N) : nullptr, out.out_ivector(count / 2));
    return out.release();
}

PyObject* order(PyObject* levels_, PyObject* crowd_, PyObject* rand_, PyObject* first_) {
    evo::Array levels = vector(levels_, -1, M_LEVELS);
    const Py_ssize_t N = levels.dim(0);
    evo::Array crowd = vector(crowd_, N, M_CROWD);
    evo::Array rand = vector(rand_, N, M_RAND);
    Py_ssize_t first = N;
    if (first_ != Py_None) {
        if (!evo::is_int(first_) || evo::int_sign_against(first_, 0) < 0 || evo::int_sign_against(first_, N) > 0)
            evo::fail(M_FIRST);
        first = evo::int_value(first_);
    }
    evo::Output out = evo::Output::empty({first}, evo::Elem::i32);
    std::vector<int> rows((std::size_t)N);
    _order(levels.vector(N), crowd.vector(N), rand.vector(N), evo::to_int(N), evo::to_int(first), rows.data());
    std::copy(rows.begin(), rows.begin() + first, out.out_ivector(first));
    return out.release();
}

const int kLine = __LINE__ + 1;
PyObject* selection(evo::Args& a) {
    if (evo::is_step(a[STEP], "tournament")) return tournament(a[A], a[B], a[C], a[D]);
    if (evo::is_step(a[STEP], "order")) return order(a[A], a[B], a[C], a[D]);
    evo::fail(M_STEP);
}

const evo::Module kModule = evo::operator_module("_selection", "core/selection.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, selection);

}  // namespace

EVOCORE_MODULE(_selection, kModule)
