// fendrik: merging of a constraint-violation matrix into one column, with the count of the
// individuals that satisfy the constraints.
#include "../frame/values.hpp"
#include "_fendrik.hpp"

namespace {

const char* const kDoc = R"doc(
fendrik : function - 合并违反约束条件程度矩阵(Merge CV)

描述:
    该函数把违反约束程度矩阵CV的各列合并成一列：每一行把超过阈值的元素值相加，得到该个体合并后的违反约束程度。

语法:
    1.return_count=False时：
    Violation = fendrik(CV)
    Violation = fendrik(CV, Threshold)
    Violation = fendrik(CV, Threshold, return_count)
    Violation = fendrik(CV, Threshold, return_count, Parallel)
    2.return_count=True时：
    Violation, count = fendrik(CV)
    Violation, count = fendrik(CV, Threshold)
    Violation, count = fendrik(CV, Threshold, return_count)
    Violation, count = fendrik(CV, Threshold, return_count, Parallel)

输入参数:
    CV           : array - 违反约束程度矩阵，每一行对应一个个体，每一列对应一个约束。不能传入None。

    Threshold    : float / array - (可选参数)阈值。
                   为float时，合并后的值小于或等于Threshold的个体视为满足约束条件；
                   为一维array时，它的长度必须等于CV的列数，CV中小于或等于对应阈值的元素视为满足该约束。
                   缺省或为None时默认为0.0。

    return_count : bool  - (可选参数)表示是否返回满足约束条件的个体数，缺省或为None时默认为False。

    Parallel     : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

输出参数:
    Violation    : array - 合并后的违反约束程度列向量。

    count        : int   - 满足约束条件的个体数。

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(CV, evo::required("CV")) \
    ENTRY(THRESHOLD, evo::optional("Threshold")) \
    ENTRY(RETURN_COUNT, evo::optional_false("return_count")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("fendrik", "Parallel")) \
    ENTRY(M_CV, "error in fendrik: CV cannot be None. (传入参数CV必须不为None。)") \
    ENTRY(M_THRESHOLD_TYPE, "error in fendrik: Type of Threshold error. (当传入参数Threshold的类型不合法，详见API文档。)") \
    ENTRY(M_THRESHOLD_ELEMENT, "error in fendrik: The elementtype of Threshold must be int or float when Threshold is a Numpy ndarray. " \
      "(当传入参数Threshold是个Numpy ndarray一维数组时，其元素的类型必须是int或float。)") \
    ENTRY(M_THRESHOLD_DIM, "error in fendrik: The dimension of Threshold must be 1 when Threshold is a Numpy ndarray. " \
      "(当传入参数Threshold是个Numpy ndarray类型数组时，它必须是个一维数组。)") \
    ENTRY(M_THRESHOLD_LEN, "error in fendrik: The length of Threshold must be equal to the column number of CV. " \
      "(当传入参数Threshold是个Numpy ndarray类型一维数组时，它的长度必须等于CV的列数。)") \
    ENTRY(M_RETURN_COUNT, "error in fendrik: Type of return_count error. (当传入参数return_count的类型不合法，详见API文档。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "TypeError"};

// Type 1 (a scalar: int or float, bool included, None meaning 0.0) or type 2 (a 1-D int32,
// int64, float32 or float64 array of one threshold per column).
int threshold_type(PyObject* Threshold, Py_ssize_t col) {
    if (Threshold == Py_None || evo::is_int_or_float(Threshold)) return 1;
    if (!evo::is_ndarray(Threshold)) evo::fail(M_THRESHOLD_TYPE);
    namespace n = evo::value_names;
    if (!evo::dtype_is_one_of(Threshold, {evo::names.int32, n::int64.get(), n::float32.get(), n::float64.get()}))
        evo::fail(M_THRESHOLD_ELEMENT);
    if (evo::ndim_differs(Threshold, 1)) evo::fail(M_THRESHOLD_DIM);
    if (evo::length(Threshold) != col) evo::fail(M_THRESHOLD_LEN);
    return 2;
}

const int kLine = __LINE__ + 1;
PyObject* fendrik(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    if (a.is_none(CV)) evo::fail(M_CV);
    const evo::Shape shape(a[CV]);
    const Py_ssize_t Nind = shape[0], col = shape[1];
    PyObject* Threshold = a[THRESHOLD];
    const int Type = threshold_type(Threshold, col);
    const int return_count = evo::bool_switch(a[RETURN_COUNT], M_RETURN_COUNT);

    evo::Output violation = evo::Output::empty({Nind, 1}, evo::Elem::f64);
    // CV is read in place when it is C-contiguous float64, and converted as any CV otherwise.
    evo::require_ndarray_object(a[CV]);
    evo::Array cv = evo::Array::coerce(a[CV], evo::Elem::f64, 2);
    const double* CVp = cv.matrix(Nind, col);
    const int rows = evo::to_int(Nind), cols = evo::to_int(col);
    double* out = violation.out_matrix(Nind, 1);
    const std::int64_t work = (std::int64_t)rows * cols;
    int count;
    if (Type == 1) {
        const double threshold = Threshold == Py_None ? 0.0 : evo::to_double(Threshold);
        count = evo::unlocked(work, [&] {
            return _fendrik_type1(CVp, rows, cols, out, threshold, return_count, Parallel);
        });
    } else {
        evo::Array limits = evo::Array::coerce(Threshold, evo::Elem::f64, 1);
        const double* bounds = limits.vector(col);
        count = evo::unlocked(work, [&] { return _fendrik_type2(CVp, rows, cols, out, bounds, return_count, Parallel); });
    }
    if (!return_count) return violation.release();
    return evo::pair(evo::Ref::steal(violation.release()), evo::integer(count)).release();
}

const evo::Module kModule = evo::operator_module("fendrik", "core/fendrik.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, fendrik);

}  // namespace

EVOCORE_MODULE(fendrik, kModule)
