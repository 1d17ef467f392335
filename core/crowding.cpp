// crowding: the crowding distance of every row within its front (NSGA-II).
#include "../frame/values.hpp"
#include "_crowding.hpp"

namespace {

const char* const kDoc = R"doc(
crowding : function - 拥挤距离(Crowding distance)

描述:
    Computes the crowding distance of every row of ObjV within its front, the fronts being the
    rows of equal level (for example the levels that ndsort returns).
    The rows of one finite level form a front, in increasing row order.  In a front of one or
    two rows every row gets inf.  Otherwise, objective by objective from the left, the front's
    rows are ordered by that objective's value (NaN after every number, ties by row index); if
    the largest and the smallest value are equal the objective adds nothing, else the first and
    the last row become inf and every row between adds (next - previous) / (largest - smallest),
    computed in that order.  Rows whose level is not finite (inf, NaN) get 0.
    The values are used as given: no maxormins, no normalisation beyond the ranges above.
    Checks, in this order: ObjV, levels.

语法:
    distance = crowding(ObjV, levels)

输入参数:
    ObjV     : array - 2-D objective matrix, one row per individual, one column per objective.

    levels   : array - 1-D array with one front number per row of ObjV.

输出参数:
    distance : array - 1-D float64 array, the crowding distance of every row.

参考文献:
    [1] Deb K, Pratap A, Agarwal S, et al. A fast and elitist multiobjective genetic algorithm:
    NSGA-II[J]. IEEE Transactions on Evolutionary Computation, 2002, 6(2): 182-197.

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(OBJV, evo::required("ObjV")) \
    ENTRY(LEVELS, evo::required("levels"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_OBJV, "error in crowding: ObjV must be a 2-D Numpy ndarray.") \
    ENTRY(M_LEVELS, "error in crowding: levels must be a 1-D Numpy ndarray with one entry per row of ObjV.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

const int kLine = __LINE__ + 1;
PyObject* crowding(evo::Args& a) {
    evo::require_ndarray(a[OBJV], 2, M_OBJV);
    evo::Array ObjV = evo::Array::coerce(a[OBJV], evo::Elem::f64, 2);
    const Py_ssize_t Nind = ObjV.dim(0), M = ObjV.dim(1);
    PyObject* levels = a[LEVELS];
    if (!evo::is_ndarray(levels) || evo::ndim_differs(levels, 1) || evo::length(levels) != Nind) evo::fail(M_LEVELS);
    evo::Array front = evo::Array::coerce(levels, evo::Elem::f64, 1);

    evo::Output distance = evo::Output::empty({Nind}, evo::Elem::f64);
    const int n = evo::to_int(Nind), m = evo::to_int(M);
    const double* F = ObjV.matrix(Nind, M);
    const double* l = front.vector(Nind);
    double* out = distance.out_vector(Nind);
    evo::unlocked((std::int64_t)n * (m + 1) * 8, [&] { _crowding(F, n, m, l, out); });
    return distance.release();
}

const evo::Module kModule = evo::operator_module("crowding", "core/crowding.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, crowding);

}  // namespace

EVOCORE_MODULE(crowding, kModule)
