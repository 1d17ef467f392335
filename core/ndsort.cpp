// ndsort: non-dominated sorting of a population into fronts, with the feasibility rule.
#include "../frame/values.hpp"
#include "_ndsort.hpp"

namespace {

const char* const kDoc = R"doc(
ndsort : function - 非支配排序(Non-dominated sorting)

描述:
    Sorts the rows of ObjV into non-dominated fronts (the ranking of NSGA-II and NSGA-III) and
    returns the front of every row.
    Objectives are minimised after multiplication by maxormins; a row dominates another when it
    is no larger in every objective and smaller in at least one.  Equal rows share a front,
    -0.0 equals +0.0 and infinities compare as numbers.
    With CV, a row's violation is the sum, column by column from the left, of its positive CV
    entries; rows of violation 0 are sorted by dominance, the others follow every feasible front,
    one front per distinct violation in ascending order.  A row with NaN in its ObjV or CV row
    counts as infeasible with violation +inf.
    With needNum, fronts are ranked in order until at least needNum rows are ranked; the rest
    get inf.
    Checks, in this order: Parallel, ObjV, maxormins, CV, needNum.

语法:
    levels, nfronts = ndsort(ObjV)
    levels, nfronts = ndsort(ObjV, CV)
    levels, nfronts = ndsort(ObjV, CV, maxormins)
    levels, nfronts = ndsort(ObjV, CV, maxormins, needNum)
    levels, nfronts = ndsort(ObjV, CV, maxormins, needNum, Parallel)

输入参数:
    ObjV      : array - 2-D objective matrix, one row per individual, one column per objective.

    CV        : array - (optional) 2-D constraint-violation matrix with one row per row of ObjV;
                        a positive entry is a violation.  None: every row is feasible.

    maxormins : array - (optional) 1-D array with one entry per objective: 1 for a minimised
                        and -1 for a maximised objective.  None: all 1.

    needNum   : int   - (optional) the number of rows to rank, 1 ... the number of rows.
                        None: all of them.

    Parallel  : bool  - (optional) whether to compute on the thread team; None means False.

输出参数:
    levels    : array - 1-D float64 array, the front of every row: 1.0 for the first, 2.0 for the
                        second, ...; inf for the rows left unranked because of needNum.

    nfronts   : int   - the number of fronts ranked.

参考文献:
    [1] Deb K, Pratap A, Agarwal S, et al. A fast and elitist multiobjective genetic algorithm:
    NSGA-II[J]. IEEE Transactions on Evolutionary Computation, 2002, 6(2): 182-197.

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(OBJV, evo::required("ObjV")) \
    ENTRY(CV, evo::optional("CV")) \
    ENTRY(MAXORMINS, evo::optional("maxormins")) \
    ENTRY(NEEDNUM, evo::optional("needNum")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, "error in ndsort: Parallel must be None, True or False.") \
    ENTRY(M_OBJV, "error in ndsort: ObjV must be a 2-D Numpy ndarray.") \
    ENTRY(M_MAXORMINS, "error in ndsort: maxormins must be a 1-D Numpy ndarray with one entry per column of ObjV.") \
    ENTRY(M_CV, "error in ndsort: CV must be a 2-D Numpy ndarray with one row per row of ObjV.") \
    ENTRY(M_NEEDNUM, "error in ndsort: needNum must be None or an integer from 1 to the number of rows of ObjV.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

evo::Name kBool{"bool_"};

// needNum as a count (0 for None): an int or a NumPy integer from 1 to Nind.  Booleans are not
// counts; a float is not an integer.
int need_num(PyObject* v, Py_ssize_t Nind) {
    if (v == Py_None) return 0;
    if (PyBool_Check(v) || !PyIndex_Check(v) || evo::check(PyObject_IsInstance(v, evo::np_attr(kBool.get()).get())))
        evo::fail(M_NEEDNUM);
    const evo::Ref n = evo::Ref::steal(PyNumber_Index(v));
    if (evo::int_sign_against(n.get(), 1) < 0 || evo::int_sign_against(n.get(), Nind) > 0) evo::fail(M_NEEDNUM);
    return evo::int_value(n.get());
}

const int kLine = __LINE__ + 1;
PyObject* ndsort(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    evo::require_ndarray(a[OBJV], 2, M_OBJV);
    evo::Array ObjV = evo::Array::coerce(a[OBJV], evo::Elem::f64, 2);
    const Py_ssize_t Nind = ObjV.dim(0), M = ObjV.dim(1);

    evo::Array signs;
    if (!a.is_none(MAXORMINS)) {
        PyObject* maxormins = a[MAXORMINS];
        if (!evo::is_ndarray(maxormins) || evo::ndim_differs(maxormins, 1) || evo::length(maxormins) != M)
            evo::fail(M_MAXORMINS);
        signs = evo::Array::coerce(maxormins, evo::Elem::i32, 1);
    }
    evo::Array violations;
    Py_ssize_t CVNum = 0;
    if (!a.is_none(CV)) {
        PyObject* cv = a[CV];
        if (!evo::is_ndarray(cv) || evo::ndim_differs(cv, 2) || evo::shape_at(cv, 0) != Nind) evo::fail(M_CV);
        violations = evo::Array::coerce(cv, evo::Elem::f64, 2);
        CVNum = violations.dim(1);
    }
    const int needNum = need_num(a[NEEDNUM], Nind);

    evo::Output levels = evo::Output::empty({Nind}, evo::Elem::f64);
    const int n = evo::to_int(Nind), m = evo::to_int(M), k = evo::to_int(CVNum);
    const double* F = ObjV.matrix(Nind, M);
    const int* b = signs ? signs.ivector(M) : nullptr;
    const double* c = violations ? violations.matrix(Nind, CVNum) : nullptr;
    double* out = levels.out_vector(Nind);
    const int nfronts = evo::unlocked((std::int64_t)n * (m + k + 8),
                                      [&] { return _ndsort(F, n, m, b, c, k, needNum, out, Parallel); });
    return evo::pair(evo::Ref::steal(levels.release()), evo::integer(nfronts)).release();
}

const evo::Module kModule = evo::operator_module("ndsort", "core/ndsort.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, ndsort);

}  // namespace

EVOCORE_MODULE(ndsort, kModule)
