// ornavi: the ideal point of an objective matrix, optionally merged with an earlier one.
#include "../frame/objective.hpp"
#include "_moead_doc.hpp"
#include "_ornavi.hpp"

namespace {

const char* const kDoc = R"doc(
ornavi : function - 生成多目标函数值空间中的理想点(Create ideal points)

描述:
    该函数用于生成多目标函数值空间中的理想点。
    若给定了旧的理想点old_idealPoint，则对其进行更新，并返回新的理想点。
    若给定了maxormins，则返回的是经过maxormins修正后的ObjV所对应的理想点(遵循"最小化目标"的约定，即越小越好)。

语法:
    idealPoint = ornavi(ObjV)
    idealPoint = ornavi(ObjV, CV)
    idealPoint = ornavi(ObjV, CV, maxormins)
    idealPoint = ornavi(ObjV, CV, maxormins, old_idealPoint)
    idealPoint = ornavi(ObjV, CV, maxormins, old_idealPoint, reverse)

输入参数:
    ObjV           : array - 目标函数值矩阵，每一列对应一个目标。

    CV             : array - (可选参数)违反约束程度矩阵。
                             缺省或为None时默认所有个体都满足约束条件。

    maxormins      : array - (可选参数)一维数组，元素为1表示对应的目标是最小化目标，-1表示是最大化目标。
                             例如：array([1,1,-1,-1])表示前2个目标是最小化，后2个目标是最大化。
                             缺省或为None时默认全为1。

    old_idealPoint : array - (可选参数)一维数组，存储旧的理想点的坐标。
                             给定时对其进行更新，并返回新的理想点。

    reverse        : bool  - (可选参数)表示是否反转约定，即改为越大越好。
                             缺省或为None时默认为False。

输出参数:
    idealPoint     : array - 一维数组，存储理想点的坐标。

)doc" EVOCORE_DOC_MOEAD_REFERENCE R"doc(Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(OBJV, evo::required("ObjV")) \
    ENTRY(CV, evo::optional("CV")) \
    ENTRY(MAXORMINS, evo::optional("maxormins")) \
    ENTRY(OLD_IDEALPOINT, evo::optional("old_idealPoint")) \
    ENTRY(REVERSE, evo::optional_false("reverse"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_REVERSE, EVOCORE_SWITCH_MESSAGE("ornavi", "reverse")) \
    ENTRY(M_OBJV, "error in ornavi: ObjV must be a Numpy ndarray. (ObjV必须是numpy的array类型矩阵。)") \
    ENTRY(M_MAXORMINS, "error in ornavi: maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)") \
    ENTRY(M_CV, "error in ornavi: CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)") \
    ENTRY(M_OLD, "error in ornavi: old_idealPoint must be a 1-D Numpy ndarray. " \
      "(输入参数old_idealPoint必须是一个Numpy ndarray类型的一维数组。)") \
    ENTRY(M_OLD_LEN, "error in ornavi: The length of old_idealPoint must not be smaller than the column number of ObjV. " \
      "(输入参数old_idealPoint的长度不能小于ObjV的列数。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "ValueError", "range", "ImportError"};

const int kLine = __LINE__ + 1;
PyObject* ornavi(evo::Args& a) {
    const bool reverse = evo::bool_switch(a[REVERSE], M_REVERSE);
    evo::require_ndarray(a[OBJV], 2, M_OBJV);
    evo::Array work = evo::Array::coerce(a[OBJV], evo::Elem::f64, 2);
    const Py_ssize_t N = work.dim(0), M = work.dim(1);
    evo::working_matrix(work, N, M, a[MAXORMINS], a[CV], {.maxormins = M_MAXORMINS, .CV = M_CV});
    if (a.is_none(OLD_IDEALPOINT)) return evo::ideal_point(work, N, M, reverse).release();

    PyObject* old = a[OLD_IDEALPOINT];
    evo::require_ndarray(old, 1, M_OLD);
    if (evo::length(old) < M) evo::fail(M_OLD_LEN);
    evo::Output idealPoint = evo::Output::empty({M}, evo::Elem::f64);
    // The population's point: the column reduction, or the one row itself.
    evo::Array reduced;
    if (N != 1) reduced = evo::Array::coerce_elements(evo::ideal_point(work, N, M, reverse).get(), evo::Elem::f64, M);
    const double* zm = N != 1 ? reduced.elements(M) : work.matrix(1, M);
    evo::Array old_point = evo::Array::coerce(old, evo::Elem::f64, 1);

    auto merge = reverse ? _ornavi_reverse : _ornavi;
    merge(zm, evo::to_int(M), old_point.head(M), idealPoint.out_vector(M), 0);
    return idealPoint.release();
}

const evo::Module kModule = evo::operator_module("ornavi", "core/ornavi.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, ornavi);

}  // namespace

EVOCORE_MODULE(ornavi, kModule)
