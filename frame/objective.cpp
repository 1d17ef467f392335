#include "objective.hpp"

#include "columns.hpp"
#include "rows.hpp"

#include <cstddef>

namespace {

// Rows of a narrow matrix are multiplied several at a time: `pattern` repeats b (as doubles) over
// kPatternRows rows, so the products run as one flat vectorised loop; each element is still
// (double)b[j] * a[i*Lind + j].
constexpr std::ptrdiff_t kPatternRows = 16;
constexpr std::ptrdiff_t kNarrow = 16;

}  // namespace

void m_mul_row_int(const double* a, const int* b, double* r, int Nind, int Lind, int Parallel) {
    if (Nind < 1 || Lind < 1) return;
    const std::ptrdiff_t L = Lind;
    if (L > kNarrow) {
        evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
            const double* x = a + i * L;
            double* y = r + i * L;
            for (std::ptrdiff_t j = 0; j < L; ++j) y[j] = (double)b[j] * x[j];
        });
        return;
    }
    double pattern[kPatternRows * kNarrow];
    for (std::ptrdiff_t k = 0; k < kPatternRows * L; ++k) pattern[k] = (double)b[k % L];
    evo::for_ranges(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; i += kPatternRows) {
            const std::ptrdiff_t n = (end - i < kPatternRows ? end - i : kPatternRows) * L;
            const double* x = a + i * L;
            double* y = r + i * L;
            for (std::ptrdiff_t k = 0; k < n; ++k) y[k] = pattern[k] * x[k];
        }
    });
}

namespace evo {

void working_matrix(Array& ObjV, Py_ssize_t Nind, Py_ssize_t Lind, PyObject* maxormins, PyObject* CV,
                    WorkingMessages msg) {
    if (maxormins == Py_None && CV == Py_None) return;
    Output work;
    if (maxormins != Py_None) {
        if (!is_ndarray(maxormins) || ndim_differs(maxormins, 1) || length(maxormins) != Lind) fail(msg.maxormins);
        Array signs = Array::coerce(maxormins, Elem::i32, 1);
        work = Output::empty({Nind, Lind}, Elem::f64);
        const double* a = ObjV.matrix(Nind, Lind);
        const int* b = signs.ivector(Lind);
        double* r = work.out_matrix(Nind, Lind);
        const int n = to_int(Nind), L = to_int(Lind);
        unlocked((std::int64_t)n * L, [&] { m_mul_row_int(a, b, r, n, L, 0); });
    }
    if (CV != Py_None) {
        if (ndim_differs(CV, 2) || shape_at(CV, 0) != Nind) fail(msg.CV);
        // The working copy of ObjV, unless the product already is one, is written by the rule itself.
        const bool copy = !work;
        if (copy) work = Output::empty({Nind, Lind}, Elem::f64);
        Array cv = Array::coerce(CV, Elem::f64, 2);
        const Py_ssize_t CVNum = cv.dim(1);
        double* R = work.out_matrix(Nind, Lind);
        const double* cvp = cv.matrix(Nind, CVNum);
        const double* F = ObjV.matrix(Nind, Lind);
        const int n = to_int(Nind), L = to_int(Lind), k = to_int(CVNum);
        const bool done = unlocked((std::int64_t)n * (L + k), [&] {
            return copy ? penalised_copy(F, cvp, R, n, L, k) : modifyObjV(R, cvp, n, L, k);
        });
        if (!done) {
            PyErr_NoMemory();
            rethrow();
        }
    }
    if (work) ObjV = std::move(work);
}

Ref ideal_point(const Array& work, Py_ssize_t Nind, Py_ssize_t Lind, bool maximum) {
    if (Py_TYPE(work.obj()) != ndarray_type() || Nind < 1) return reduce_axis0(work.obj(), maximum);
    Output point = Output::empty({Lind}, Elem::f64);
    const double* X = work.matrix(Nind, Lind);
    double* out = point.out_vector(Lind);
    unlocked((std::int64_t)Nind * Lind, [&] {
        if (maximum)
            fold_columns<NumpyMax>(X, Nind, Lind, out);
        else
            fold_columns<NumpyMin>(X, Nind, Lind, out);
    });
    return Ref::steal(point.release());
}


}  // namespace evo
