// _variation: the real-coded variation of evocore.algorithms (not re-exported).
//   _variation("sbx", X, Y, lb, ub, rand, eta, prob) -> the children of the pairs (X[i], Y[i]):
//       the first children in rows 0 .. n-1, the second in rows n .. 2n-1; rand: n x (3d + 1)
//   _variation("mutation", X, None, lb, ub, rand, eta) -> X's rows mutated; rand: N x 2d
// Every array is coerced to C-contiguous float64 and never written; the uniform numbers come
// from the caller (its run's generator), so that the module draws nothing.  Checks, in this
// order: step, X, Y, lb and ub, rand, eta, prob.
#include "../frame/values.hpp"
#include "_variation.hpp"

namespace {

const char* const kDoc = "The crossover and mutation of evocore.algorithms: _variation(step, X, Y, lb, ub, rand, eta, prob).";

#define PARAMS(ENTRY) \
    ENTRY(STEP, evo::required("step")) \
    ENTRY(X, evo::required("X")) \
    ENTRY(Y, evo::required("Y")) \
    ENTRY(LB, evo::required("lb")) \
    ENTRY(UB, evo::required("ub")) \
    ENTRY(RAND, evo::required("rand")) \
    ENTRY(ETA, evo::required("eta")) \
    ENTRY(PROB, evo::optional_float("prob", 1.0))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_STEP, "error in _variation: step must be 'sbx' or 'mutation'.") \
    ENTRY(M_X, "error in _variation: X must be a 2-D Numpy ndarray.") \
    ENTRY(M_Y, "error in _variation: Y must be a 2-D Numpy ndarray of X's shape (None for a mutation).") \
    ENTRY(M_BOUNDS, "error in _variation: lb and ub must be 1-D Numpy ndarrays with one entry per column of X.") \
    ENTRY(M_RAND, "error in _variation: rand must be a 2-D Numpy ndarray of (rows, 3 * columns + 1) for sbx, (rows, 2 * columns) for a mutation.") \
    ENTRY(M_ETA, "error in _variation: eta must be a whole number from 0 to 1000.") \
    ENTRY(M_PROB, "error in _variation: prob must be a number.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

evo::Array matrix(PyObject* obj, int msg) {
    evo::require_ndarray(obj, 2, msg);
    return evo::Array::coerce(obj, evo::Elem::f64, 2);
}

evo::Array bound(PyObject* obj, Py_ssize_t d) {
    if (!evo::is_ndarray(obj) || evo::ndim_differs(obj, 1) || evo::length(obj) != d) evo::fail(M_BOUNDS);
    return evo::Array::coerce(obj, evo::Elem::f64, 1);
}

const int kLine = __LINE__ + 1;
PyObject* variation(evo::Args& a) {
    const bool sbx = evo::is_step(a[STEP], "sbx");
    if (!sbx && !evo::is_step(a[STEP], "mutation")) evo::fail(M_STEP);
    evo::Array x = matrix(a[X], M_X);
    const Py_ssize_t rows = x.dim(0), d = x.dim(1);
    evo::Array y;
    if (sbx) {
        y = matrix(a[Y], M_Y);
        if (y.dim(0) != rows || y.dim(1) != d) evo::fail(M_Y);
    } else if (a[Y] != Py_None) {
        evo::fail(M_Y);
    }
    evo::Array lo = bound(a[LB], d), hi = bound(a[UB], d);
    evo::Array r = matrix(a[RAND], M_RAND);
    if (r.dim(0) != rows || r.dim(1) != (sbx ? 3 * d + 1 : 2 * d)) evo::fail(M_RAND);
    if (!evo::is_int_or_float(a[ETA])) evo::fail(M_ETA);
    const double eta = evo::to_double(a[ETA]);
    if (!(eta >= 0.0 && eta <= 1000.0) || eta != (double)(int)eta) evo::fail(M_ETA);
    if (!evo::is_int_or_float(a[PROB])) evo::fail(M_PROB);
    const double prob = evo::to_double(a[PROB]);

    const int n = evo::to_int(rows), m = evo::to_int(d);
    evo::Output out = evo::Output::empty({sbx ? 2 * rows : rows, d}, evo::Elem::f64);
    const double* X_ = x.matrix(rows, d);
    const double* l = lo.vector(d);
    const double* u = hi.vector(d);
    const double* R = r.matrix(rows, r.dim(1));
    const double* Y_ = sbx ? y.matrix(rows, d) : nullptr;
    double* O = out.out_matrix(sbx ? 2 * rows : rows, d);
    evo::unlocked((std::int64_t)rows * d * 8, [&] {
        if (sbx) {
            _sbx(X_, Y_, n, m, l, u, R, (int)eta, prob, O);
        } else {
            _mutation(X_, n, m, l, u, R, (int)eta, O);
        }
    });
    return out.release();
}

const evo::Module kModule = evo::operator_module("_variation", "core/variation.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, variation);

}  // namespace

EVOCORE_MODULE(_variation, kModule)
