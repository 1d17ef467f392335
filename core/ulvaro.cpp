// ulvaro: power-law fitness assignment for a single-objective column.
#include "../frame/objective.hpp"
#include "_ulvaro.hpp"

namespace {

const char* const kDoc = R"doc(
ulvaro : function - 幂尺度变换适应度计算

描述:
    该函数遵循"目标函数值越大，适应度越小"的约定，对单目标的目标函数值列向量作幂尺度变换，计算适应度。
    通过调整指数k，可以在保持种群多样性的策略与精英保留策略之间作选择。
    计算得到的最小适应度为0；当所有适应度都相等时，它们全部被设为1。

语法:
    FitnV = ulvaro(ObjV)
    FitnV = ulvaro(ObjV, CV)
    FitnV = ulvaro(ObjV, CV, maxormins)
    FitnV = ulvaro(ObjV, CV, maxormins, k)

输入参数:
    ObjV      : array - 目标函数值列向量。

    maxormins : array - (可选参数)一维数组，元素为1表示对应的目标是最小化目标，-1表示是最大化目标。
                        例如：array([1,1,-1,-1])表示前2个目标是最小化，后2个目标是最大化。
                        由于ObjV只有一列，maxormins只能有一个元素。缺省或为None时默认为1。

    CV        : array - (可选参数)违反约束程度矩阵。缺省或为None时默认所有个体都满足约束条件。
                        给定时按可行性法则处理：违反约束程度越大，适应度越小，且可行个体的适应度大于不可行个体。

    k         : float - (可选参数)正实数，缺省或为None时默认为1。

输出参数:
    FitnV     : array - 适应度列向量。

算法描述:
    F' = (-ObjV) ^ k，其中k ∈ (0, +∞]。
    k < 1 时压缩较优个体之间的差距，有利于保持种群的多样性；
    k > 1 时拉大这些差距，偏向精英保留。

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(OBJV, evo::required("ObjV")) \
    ENTRY(CV, evo::optional("CV")) \
    ENTRY(MAXORMINS, evo::optional("maxormins")) \
    ENTRY(K, evo::optional_int("k", 1))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_OBJV, "error in ulvaro: ObjV must be an n*1 array.  (目标函数矩阵ObjV必须是n行1列的Numpy ndarray类型矩阵。)") \
    ENTRY(M_MAXORMINS, "error in ulvaro: maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)") \
    ENTRY(M_K_SCALAR, "error in ulvaro: k must be a sclar. (传入本函数的参数k必须为一个标量。)") \
    ENTRY(M_K_POSITIVE, "error in ulvaro: The k must be more than 0. (传入本函数的参数k必须大于0。)") \
    ENTRY(M_CV, "error in ulvaro: CV must be a 2-D Numpy ndarray. (违反约束程度矩阵必须是一个2维的Numpy ndarray类型矩阵。)") \
    ENTRY(M_CV_ROWS, "error in ulvaro: CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

PyObject* kOne = nullptr;  // the float 1.0 that k=None stands for

int make_constants() {
    kOne = PyFloat_FromDouble(1.0);
    return kOne ? 0 : -1;
}

// k as a float greater than 0 (NaN passes): None is 1.0; an int (bool included) or a float.
evo::Ref exponent(PyObject* k) {
    if (k == Py_None) return evo::Ref::borrow(kOne);
    if (!evo::is_int_or_float(k)) evo::fail(M_K_SCALAR);
    evo::Ref value = evo::to_float(k);
    if (evo::to_double(value.get()) <= 0) evo::fail(M_K_POSITIVE);
    return value;
}

// ---- the fitness of the working column -------------------------------------------------------

using namespace ulvaro_steps;

// As written: np.all(ObjV == ObjV[0]), then the shift, the scaling and the power, each a new
// array made by NumPy.
PyObject* fitness(evo::Ref ObjV, Py_ssize_t Nind, PyObject* k) {
    evo::Ref first = evo::getitem(ObjV.get(), evo::constants.zero);
    if (evo::np_all(evo::equal(ObjV.get(), first.get()).get())) return evo::np_ones({Nind, 1}).release();
    const evo::Ref hi = evo::np_extreme(ObjV.get(), true);
    ObjV = shift(std::move(ObjV), hi.get(), false);
    const evo::Ref lo = evo::np_extreme(ObjV.get(), false);
    return scale(std::move(ObjV), lo.get(), k, false).release();
}

// Columns up to this length find their extremes in one pass of their own; longer ones use
// NumPy's reductions, whose wide vector loops then pay for the call.
constexpr std::ptrdiff_t kOwnScan = 1 << 13;

// np.max(ObjV) or np.min(ObjV) of the column `v` (n > 0 values) that ObjV holds.
evo::Ref extreme(PyObject* ObjV, const double* v, std::ptrdiff_t n, bool maximum) {
    double value;
    if (n <= kOwnScan && sole_extreme(v, n, maximum, value)) return evo::make_float(value);
    return evo::np_extreme(ObjV, maximum);
}

// The same steps on a column that this call alone holds: the equality test (and, for short
// columns, the extremes) read from its memory, NumPy's element operations run in place.
PyObject* fitness_in_place(evo::Ref ObjV, Py_ssize_t Nind, PyObject* k) {
    if (Nind == 0) return fitness(std::move(ObjV), Nind, k);  // NumPy's error for ObjV[0]
    evo::Output work = evo::Output::adopt(ObjV, evo::Elem::f64, 2);
    const double* v = work.matrix(Nind, 1);
    if (all_equal(v, Nind, v[0])) return evo::np_ones({Nind, 1}).release();
    const evo::Ref hi = extreme(ObjV.get(), v, Nind, true);
    ObjV = shift(std::move(ObjV), hi.get(), true);
    const evo::Ref lo = extreme(ObjV.get(), v, Nind, false);
    return scale(std::move(ObjV), lo.get(), k, true).release();
}

const int kLine = __LINE__ + 1;
PyObject* ulvaro(evo::Args& a) {
    PyObject* objv = a[OBJV];
    if (!evo::is_ndarray(objv) || evo::ndim_differs(objv, 2) || evo::shape_at(objv, 1) != 1) evo::fail(M_OBJV);
    // The working copy; `owned` while it is made by ndarray's own methods from exact ndarrays,
    // so that no other object can hold its memory.
    bool owned = evo::is_exact_ndarray(objv);
    evo::Ref ObjV = owned ? evo::astype_float(objv)
                          : evo::astype_float(evo::call_method(objv, evo::value_names::copy.get()).get());
    // The formula is element by element: a subclass's copy is worked on as a plain ndarray, so that
    // an operator of its own (np.matrix's ** is the matrix power) does not take over.
    // Its astype need not have given float64 either: the plain ndarray's own astype then does.
    if (!owned) {
        ObjV = evo::call(evo::np_attr(evo::value_names::asarray.get()).get(), ObjV.get());
        if (!evo::is_float64_array(ObjV.get())) ObjV = evo::astype_float(ObjV.get());
    }
    const Py_ssize_t Nind = evo::shape_at(ObjV.get(), 0);

    if (!a.is_none(MAXORMINS)) {
        PyObject* maxormins = a[MAXORMINS];
        if (!evo::is_ndarray(maxormins) || evo::ndim_differs(maxormins, 1) || evo::length(maxormins) != 1)
            evo::fail(M_MAXORMINS);
        ObjV = evo::multiply(maxormins, ObjV.get());
        if (!evo::is_float64_array(ObjV.get())) evo::fail(M_MAXORMINS);
        owned = owned && evo::is_exact_ndarray(maxormins);
    }
    const evo::Ref k = exponent(a[K]);

    if (!a.is_none(CV)) {
        PyObject* cv = a[CV];
        if (!evo::is_ndarray(cv) || evo::ndim_differs(cv, 2)) evo::fail(M_CV);
        const Py_ssize_t rows = evo::shape_at(ObjV.get(), 0);
        if (evo::shape_at(cv, 0) != rows) evo::fail(M_CV_ROWS);
        evo::Array CVf = evo::Array::coerce(cv, evo::Elem::f64, 2);
        evo::Output work = owned ? evo::Output::adopt(ObjV, evo::Elem::f64, 2)
                                : evo::Output::copy_of(evo::Array::coerce(ObjV.get(), evo::Elem::f64, 2));
        const Py_ssize_t M = work.dim(1), CVNum = CVf.dim(1);
        double* F = work.out_matrix(rows, M);
        const double* cvp = CVf.matrix(rows, CVNum);
        const int n = evo::to_int(rows), m = evo::to_int(M), k = evo::to_int(CVNum);
        if (!evo::unlocked((std::int64_t)n * (m + k), [&] { return modifyObjV(F, cvp, n, m, k); }))
            evo::out_of_memory();
        ObjV = evo::Ref::steal(work.release());
        owned = true;
    }
    return owned ? fitness_in_place(std::move(ObjV), Nind, k.get()) : fitness(std::move(ObjV), Nind, k.get());
}

const evo::Module kModule = evo::operator_module("ulvaro", "core/ulvaro.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, ulvaro, make_constants);

}  // namespace

EVOCORE_MODULE(ulvaro, kModule)
