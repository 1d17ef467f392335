// associate: each objective row's nearest reference line and its distance from it (NSGA-III).
#include "../frame/values.hpp"
#include "_associate.hpp"

namespace {

const char* const kDoc = R"doc(
associate : function - 参考线关联(Association with reference lines)

描述:
    Associates every row of ObjV (normalised objective vectors) with the nearest reference line,
    the line from the origin through a row of refpoints, as the niching of NSGA-III does.
    Every reference row w is made a unit vector u = w / sqrt(sum of w_k^2); for a row f,
    p = sum of f_k u_k and d^2 = sum of (f_k - p u_k)^2, every sum taken from the left.  The
    first reference with the smallest d^2 wins, and the distance is sqrt(d^2).  A row with NaN
    gets index -1 and distance NaN, and so does a row whose every d^2 is NaN (an infinite
    objective).
    Checks, in this order: ObjV, refpoints, the lengths of the reference rows.

语法:
    index, distance = associate(ObjV, refpoints)

输入参数:
    ObjV      : array - 2-D objective matrix, one row per individual, one column per objective.

    refpoints : array - 2-D matrix of reference points, at least one row, one column per
                        column of ObjV; every row must have a positive finite length.

输出参数:
    index     : array - 1-D int32 array, the row of refpoints nearest to each row of ObjV.

    distance  : array - 1-D float64 array, each row's perpendicular distance from that line.

参考文献:
    [1] Deb K, Jain H. An evolutionary many-objective optimization algorithm using
    reference-point-based nondominated sorting approach, part I: solving problems with box
    constraints[J]. IEEE Transactions on Evolutionary Computation, 2014, 18(4): 577-601.

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(OBJV, evo::required("ObjV")) \
    ENTRY(REFPOINTS, evo::required("refpoints"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_OBJV, "error in associate: ObjV must be a 2-D Numpy ndarray.") \
    ENTRY(M_REFPOINTS, "error in associate: refpoints must be a 2-D Numpy ndarray with at least one row and one column per column of " \
      "ObjV.") \
    ENTRY(M_LENGTH, "error in associate: every row of refpoints must have a positive finite length.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

const int kLine = __LINE__ + 1;
PyObject* associate(evo::Args& a) {
    evo::require_ndarray(a[OBJV], 2, M_OBJV);
    evo::Array ObjV = evo::Array::coerce(a[OBJV], evo::Elem::f64, 2);
    const Py_ssize_t Nind = ObjV.dim(0), M = ObjV.dim(1);
    PyObject* refpoints = a[REFPOINTS];
    evo::require_ndarray(refpoints, 2, M_REFPOINTS);
    const evo::Shape shape(refpoints);
    if (shape[0] < 1 || shape[1] != M) evo::fail(M_REFPOINTS);
    evo::Array W = evo::Array::coerce(refpoints, evo::Elem::f64, 2);
    const Py_ssize_t K = W.dim(0);

    evo::Output index = evo::Output::empty({Nind}, evo::Elem::i32);
    evo::Output distance = evo::Output::empty({Nind}, evo::Elem::f64);
    const int n = evo::to_int(Nind), m = evo::to_int(M), k = evo::to_int(K);
    const double* F = ObjV.matrix(Nind, M);
    const double* w = W.matrix(K, M);
    int* at = index.out_ivector(Nind);
    double* d = distance.out_vector(Nind);
    const bool ok = evo::unlocked((std::int64_t)n * k * (m + 1), [&] { return _associate(F, n, m, w, k, at, d); });
    if (!ok) evo::fail(M_LENGTH);
    return evo::pair(evo::Ref::steal(index.release()), evo::Ref::steal(distance.release())).release();
}

const evo::KernelForms kForms[] = {{"_associate", _associate_forms}};
const evo::Module kModule = evo::with_forms(
    evo::operator_module("associate", "core/associate.cpp", kLine, kDoc, kParams,
                         kMessages, kBuiltins, associate),
    kForms);

}  // namespace

EVOCORE_MODULE(associate, kModule)
