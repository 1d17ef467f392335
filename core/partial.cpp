// _partial: the steps of the operators that evocore.dask takes block by block of rows, with the
// operators' own kernels (not re-exported).  X is a 2-D array of rows; each step coerces it to
// C-contiguous float64 and never writes it.
//   _partial("maxima", X, first)                -> the strict column maxima of the feasibility rule,
//       1 x M: from row 0 when `first` (X begins the matrix, or holds the partial maxima of its
//       blocks in row order), else from -inf (a later block; -inf throughout without rows)
//   _partial("working", X, maxormins, CV, maxima) -> a new block: X times maxormins (as int32) when
//       given, then with CV the feasibility rule with the column maxima of the whole matrix
//   _partial("ideal", X, reverse)               -> the column minima (maxima) of X's rows by the
//       ideal point's rule, 1 x M: of a block, or of partial points in row order (NumPy's error
//       without rows, as the operators)
//   _partial("column", X, maxormins)            -> ulvaro's working column: X as float64 (X itself
//       when it already is), times maxormins when given
//   _partial("equal", X, value)                 -> whether every element of X equals value
//   _partial("extreme", X, maximum)             -> [[np.max(X) or np.min(X) as ulvaro takes it,
//       1.0 when no search can give another value, else 0.0]]
//   _partial("fitness", X, hi, lo, k)           -> ulvaro's formula: X - hi; with lo (the smallest
//       value of X - hi over the whole column) that shifted block scaled and raised to k
#include "../frame/columns.hpp"
#include "../frame/objective.hpp"
#include "_ulvaro.hpp"

#include <cstring>

namespace {

const char* const kDoc = "The block-wise steps of the operators for evocore.dask: _partial(step, X, ...).";

#define PARAMS(ENTRY) \
    ENTRY(STEP, evo::required("step")) \
    ENTRY(X, evo::required("X")) \
    ENTRY(A, evo::optional("a")) \
    ENTRY(B, evo::optional("b")) \
    ENTRY(C, evo::optional("c"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_STEP, "error in _partial: step must be 'maxima', 'working', 'ideal', 'column', 'equal', 'extreme' or 'fitness'.") \
    ENTRY(M_X, "error in _partial: X must be a 2-D Numpy ndarray.") \
    ENTRY(M_SWITCH, "error in _partial: a must be None, True or False.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

evo::Array rows(PyObject* X) {
    evo::require_ndarray(X, 2, M_X);
    return evo::Array::coerce(X, evo::Elem::f64, 2);
}

PyObject* maxima(const evo::Array& x, bool first) {
    const Py_ssize_t N = x.dim(0), M = x.dim(1);
    evo::Output out = evo::Output::empty({1, M}, evo::Elem::f64);
    const double* X = x.matrix(N, M);
    double* m = out.out_matrix(1, M);
    evo::unlocked((std::int64_t)N * M, [&] {
        if (first && N > 0) return evo::fold_columns<evo::StrictMax>(X, N, M, m);
        for (Py_ssize_t j = 0; j < M; ++j) m[j] = evo::StrictMax::identity;
        evo::fold_columns_into<evo::StrictMax>(X, N, M, m);
    });
    return out.release();
}

PyObject* working(const evo::Array& x, PyObject* maxormins, PyObject* CV, PyObject* maxima) {
    const Py_ssize_t N = x.dim(0), M = x.dim(1);
    const int n = evo::to_int(N), m = evo::to_int(M);
    evo::Output out = evo::Output::empty({N, M}, evo::Elem::f64);
    const double* X = x.matrix(N, M);
    double* R = out.out_matrix(N, M);
    if (maxormins != Py_None) {
        evo::Array signs = evo::ndarray_argument(maxormins, evo::Elem::i32, 1);
        const int* b = signs.ivector(M);
        evo::unlocked((std::int64_t)N * M, [&] { m_mul_row_int(X, b, R, n, m, 0); });
        X = R;
    }
    if (CV != Py_None) {
        evo::Array cv = evo::ndarray_argument(CV, evo::Elem::f64, 2);
        evo::Array top = evo::ndarray_argument(maxima, evo::Elem::f64, 1);
        const int k = evo::to_int(cv.dim(1));
        const double* c = cv.matrix(N, k);
        const double* t = top.vector(M);
        evo::unlocked((std::int64_t)N * (M + k), [&] { penalised_rows(X, c, t, R, n, m, k); });
    } else if (X != R) {
        std::memcpy(R, X, (size_t)N * (size_t)M * sizeof(double));
    }
    return out.release();
}

PyObject* ideal(const evo::Array& x, bool reverse) {
    const Py_ssize_t N = x.dim(0), M = x.dim(1);
    static evo::Name reshape{"reshape"};
    const evo::Ref point = evo::ideal_point(x, N, M, reverse);
    return evo::call_method(point.get(), reshape.get(), evo::constants.one, evo::integer(M).get()).release();
}

PyObject* column(const evo::Array& x, PyObject* maxormins) {
    if (maxormins == Py_None) return evo::Ref::borrow(x.obj()).release();  // no step writes it
    return evo::multiply(maxormins, evo::astype_float(x.obj()).get()).release();
}

PyObject* equal(const evo::Array& x, PyObject* value) {
    const Py_ssize_t N = x.dim(0), M = x.dim(1);
    const double* X = x.matrix(N, M);
    const double v = evo::to_double(value);
    const bool equal = evo::unlocked((std::int64_t)N * M, [&] { return ulvaro_steps::all_equal(X, N * M, v); });
    return evo::Ref::borrow(equal ? Py_True : Py_False).release();
}

PyObject* extreme(const evo::Array& x, bool maximum) {
    const Py_ssize_t N = x.dim(0), M = x.dim(1);
    const double* X = x.matrix(N, M);
    double value;
    const bool sole = N * M > 0 && evo::unlocked((std::int64_t)N * M, [&] {
        return ulvaro_steps::sole_extreme(X, N * M, maximum, value);
    });
    if (!sole) value = evo::to_double(evo::np_extreme(x.obj(), maximum).get());
    evo::Output out = evo::Output::empty({1, 2}, evo::Elem::f64);
    double* o = out.out_matrix(1, 2);
    o[0] = value;
    o[1] = sole;
    return out.release();
}

PyObject* fitness(const evo::Array& x, PyObject* hi, PyObject* lo, PyObject* k) {
    using namespace ulvaro_steps;
    evo::Ref shifted = shift(evo::Ref::borrow(x.obj()), evo::make_float(evo::to_double(hi)).get(), false);
    if (lo == Py_None) return shifted.release();
    const evo::Ref exponent = k == Py_None ? evo::make_float(1.0) : evo::to_float(k);
    const bool own = evo::is_exact_ndarray(shifted.get());  // a new array from NumPy's subtraction
    return scale(std::move(shifted), evo::make_float(evo::to_double(lo)).get(), exponent.get(), own).release();
}

const int kLine = __LINE__ + 1;
PyObject* partial(evo::Args& a) {
    PyObject* step = a[STEP];
    if (evo::is_step(step, "maxima")) return maxima(rows(a[X]), evo::bool_switch(a[A], M_SWITCH));
    if (evo::is_step(step, "working")) return working(rows(a[X]), a[A], a[B], a[C]);
    if (evo::is_step(step, "ideal")) return ideal(rows(a[X]), evo::bool_switch(a[A], M_SWITCH));
    if (evo::is_step(step, "column")) return column(rows(a[X]), a[A]);
    if (evo::is_step(step, "equal")) return equal(rows(a[X]), a[A]);
    if (evo::is_step(step, "extreme")) return extreme(rows(a[X]), evo::bool_switch(a[A], M_SWITCH));
    if (evo::is_step(step, "fitness")) return fitness(rows(a[X]), a[A], a[B], a[C]);
    evo::fail(M_STEP);
}

const evo::Module kModule = evo::operator_module("_partial", "core/partial.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, partial);

}  // namespace

EVOCORE_MODULE(_partial, kModule)
