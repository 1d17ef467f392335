#include "objective.hpp"

#include "rows.hpp"

#include <cstddef>

void m_mul_row_int(const double* a, const int* b, double* r, int Nind, int Lind, int Parallel) {
    if (Nind < 1 || Lind < 1) return;
    const std::ptrdiff_t L = Lind;
    evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
        const double* x = a + i * L;
        double* y = r + i * L;
        for (std::ptrdiff_t j = 0; j < L; ++j) y[j] = (double)b[j] * x[j];
    });
}

namespace evo {

Array working_matrix(Array ObjV, Py_ssize_t Nind, Py_ssize_t Lind, PyObject* maxormins, PyObject* CV,
                     WorkingMessages msg) {
    Array work;
    if (maxormins != Py_None) {
        if (!is_ndarray(maxormins) || ndim_differs(maxormins, 1) || length(maxormins) != Lind) fail(msg.maxormins);
        Array signs = Array::coerce(maxormins, Elem::i32, 1);
        work = Array::empty({Nind, Lind}, Elem::f64);
        m_mul_row_int(ObjV.matrix(Nind, Lind), signs.ivector(Lind), work.out_matrix(Nind, Lind), to_int(Nind),
                      to_int(Lind), 0);
    }
    if (CV != Py_None) {
        if (ndim_differs(CV, 2) || shape_at(CV, 0) != Nind) fail(msg.CV);
        if (!work) work = Array::copy_of(ObjV);
        Array cv = Array::coerce(CV, Elem::f64, 2);
        const Py_ssize_t CVNum = cv.dim(1);
        if (!modifyObjV(work.out_matrix(Nind, Lind), cv.matrix(Nind, CVNum), to_int(Nind), to_int(Lind),
                        to_int(CVNum))) {
            PyErr_NoMemory();
            rethrow();
        }
    }
    return work ? std::move(work) : std::move(ObjV);
}

Aggregation aggregation_inputs(const Args& a, const AggregationMessages& msg) {
    Aggregation in;
    require_ndarray(a[kObjV], 2, msg.ObjV);
    Array ObjV = Array::coerce(a[kObjV], Elem::f64, 2);
    in.Nind = ObjV.dim(0);
    in.Lind = ObjV.dim(1);

    PyObject* weights = a[kWeights];
    require_ndarray(weights, 2, msg.weights);
    const Shape shape(weights);
    if (shape[1] != in.Lind) fail(msg.disagree);
    if (shape[0] != in.Nind && in.Nind != 1) fail(msg.disagree);
    in.weights = Array::coerce(weights, Elem::f64, 2);

    in.ObjV = working_matrix(std::move(ObjV), in.Nind, in.Lind, a[kMaxormins], a[kCV], {msg.maxormins, msg.CV});
    if (a.is_none(kIdealPoint)) {
        in.ideal = reduce_axis0(in.ObjV.obj(), false);
        return in;
    }
    PyObject* idealPoint = a[kIdealPoint];
    require_ndarray(idealPoint, 1, msg.idealPoint);
    if (length(idealPoint) != in.Lind) fail(msg.idealPoint_length);
    in.idealPoint = Array::coerce(idealPoint, Elem::f64, 1);
    return in;
}

}  // namespace evo
