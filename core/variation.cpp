// _variation: the real-coded variation of evocore.algorithms (not re-exported).
//   _variation("sbx", X, Y, lb, ub, rand, eta, prob) -> the children of the pairs (X[i], Y[i]):
//       the first children in rows 0 .. n-1, the second in rows n .. 2n-1; rand: n x (3d + 1)
//   _variation("mutation", X, None, lb, ub, rand, eta) -> X's rows mutated; rand: N x 2d
//   _variation("offspring", X, Y, lb, ub, rand, eta, prob, eta_m, rows) -> (children, copies):
//       the sbx children of the pairs, the first `rows` of them (n < rows <= 2n) then mutated
//       with index eta_m, and an int32 1 for each child equal to its parent; rand: 1-D, the
//       n (3d + 1) numbers of the crossover followed by the rows * 2d of the mutation
// Every array is coerced to C-contiguous float64 and never written; the uniform numbers come
// from the caller (its run's generator), so that the module draws nothing.  Checks, in this
// order: step, X, Y, lb and ub, rows, rand, eta, prob, eta_m.
#include "../frame/values.hpp"
#include "_variation.hpp"

#include <vector>

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
    ENTRY(PROB, evo::optional_float("prob", 1.0)) \
    ENTRY(ETA_M, evo::optional_int("eta_m", 20)) \
    ENTRY(ROWS, evo::optional("rows"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_STEP, "error in _variation: step must be 'sbx', 'mutation' or 'offspring'.") \
    ENTRY(M_X, "error in _variation: X must be a 2-D Numpy ndarray.") \
    ENTRY(M_Y, "error in _variation: Y must be a 2-D Numpy ndarray of X's shape (None for a mutation).") \
    ENTRY(M_BOUNDS, "error in _variation: lb and ub must be 1-D Numpy ndarrays with one entry per column of X.") \
    ENTRY(M_RAND, "error in _variation: rand must be a 2-D Numpy ndarray of (rows, 3 * columns + 1) for sbx, (rows, 2 * columns) for a mutation; 1-D of both in turn for offspring.") \
    ENTRY(M_ETA, "error in _variation: eta and eta_m must be whole numbers from 0 to 1000.") \
    ENTRY(M_PROB, "error in _variation: prob must be a number.") \
    ENTRY(M_ROWS, "error in _variation: rows must be an int above the number of pairs and at most twice it.")
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

// eta or eta_m: a whole number from 0 to 1000.
int index_of(PyObject* v) {
    if (!evo::is_int_or_float(v)) evo::fail(M_ETA);
    const double eta = evo::to_double(v);
    if (!(eta >= 0.0 && eta <= 1000.0) || eta != (double)(int)eta) evo::fail(M_ETA);
    return (int)eta;
}

const int kLine = __LINE__ + 1;
PyObject* variation(evo::Args& a) {
    const bool sbx = evo::is_step(a[STEP], "sbx"), offspring = evo::is_step(a[STEP], "offspring");
    const bool pairs = sbx || offspring;
    if (!pairs && !evo::is_step(a[STEP], "mutation")) evo::fail(M_STEP);
    evo::Array x = matrix(a[X], M_X);
    const Py_ssize_t n = x.dim(0), d = x.dim(1);
    evo::Array y;
    if (pairs) {
        y = matrix(a[Y], M_Y);
        if (y.dim(0) != n || y.dim(1) != d) evo::fail(M_Y);
    } else if (a[Y] != Py_None) {
        evo::fail(M_Y);
    }
    evo::Array lo = bound(a[LB], d), hi = bound(a[UB], d);
    // the rows of the result: every child of sbx, the first `rows` of offspring, X's for a mutation
    Py_ssize_t rows = sbx ? 2 * n : n;
    if (offspring) {
        PyObject* r = a[ROWS];
        if (!evo::is_int(r) || evo::int_sign_against(r, 0) < 0 || evo::int_sign_against(r, 2 * n) > 0) evo::fail(M_ROWS);
        rows = evo::int_value(r);
    }
    evo::Array r;
    if (offspring) {
        evo::require_ndarray(a[RAND], 1, M_RAND);
        r = evo::Array::coerce(a[RAND], evo::Elem::f64, 1);
        if (r.dim(0) != n * (3 * d + 1) + rows * 2 * d) evo::fail(M_RAND);
    } else {
        r = matrix(a[RAND], M_RAND);
        if (r.dim(0) != n || r.dim(1) != (sbx ? 3 * d + 1 : 2 * d)) evo::fail(M_RAND);
    }
    const int eta = index_of(a[ETA]);
    if (!evo::is_int_or_float(a[PROB])) evo::fail(M_PROB);
    const double prob = evo::to_double(a[PROB]);
    const int eta_m = offspring ? index_of(a[ETA_M]) : 0;

    const int pn = evo::to_int(n), m = evo::to_int(d), nrows = evo::to_int(rows);
    evo::Output out = evo::Output::empty({rows, d}, evo::Elem::f64);
    evo::Output copies;
    if (offspring) copies = evo::Output::empty({rows}, evo::Elem::i32);
    const double* X_ = x.matrix(n, d);
    const double* l = lo.vector(d);
    const double* u = hi.vector(d);
    const double* R = offspring ? r.vector(r.dim(0)) : r.matrix(n, r.dim(1));
    const double* Y_ = pairs ? y.matrix(n, d) : nullptr;
    double* O = out.out_matrix(rows, d);
    int* same = offspring ? copies.out_ivector(rows) : nullptr;
    std::vector<double> scratch(offspring ? (std::size_t)(2 * n * d) : 0);
    evo::unlocked((std::int64_t)n * d * 8, [&] {
        if (offspring) {
            _offspring(X_, Y_, pn, m, l, u, R, eta, prob, eta_m, nrows, O, same, scratch.data());
        } else if (sbx) {
            _sbx(X_, Y_, pn, m, l, u, R, eta, prob, O);
        } else {
            _mutation(X_, pn, m, l, u, R, eta, O);
        }
    });
    if (!offspring) return out.release();
    return evo::pair(evo::Ref::steal(out.release()), evo::Ref::steal(copies.release())).release();
}

const evo::Module kModule = evo::operator_module("_variation", "core/variation.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, variation);

}  // namespace

EVOCORE_MODULE(_variation, kModule)
