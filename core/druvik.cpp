// druvik: weighted Chebyshev aggregation of an objective matrix (MOEA/D).
#include "../frame/objective.hpp"
#include "_moead_doc.hpp"
#include "_druvik.hpp"

namespace {

const char* const kDoc = R"doc(
druvik : function - 切比雪夫法多目标聚合函数(Chebyshev approach)

描述:
    该函数实现切比雪夫法多目标聚合[1]，返回多个目标聚合成单目标后的目标函数值列向量。

语法:
    CombinObjV = druvik(ObjV, weights)
    CombinObjV = druvik(ObjV, weights, idealPoint)
    CombinObjV = druvik(ObjV, weights, idealPoint, CV)
    CombinObjV = druvik(ObjV, weights, idealPoint, CV, maxormins)
    CombinObjV = druvik(ObjV, weights, idealPoint, CV, maxormins, Parallel)

输入参数:
)doc" EVOCORE_DOC_AGGREGATION_INPUTS R"doc(    Parallel   : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

输出参数:
    CombinObjV : array - 多个目标聚合成单目标后的目标函数值列向量。

)doc" EVOCORE_DOC_MOEAD_REFERENCE R"doc(Core version: 2.7

)doc";

enum Param { OBJV, WEIGHTS, IDEALPOINT, CV, MAXORMINS, PARALLEL };
const evo::Param kParams[] = {
    evo::required("ObjV"), evo::required("weights"), evo::optional("idealPoint"),
    evo::optional("CV"),   evo::optional("maxormins"), evo::optional_false("Parallel"),
};

enum Message { M_PARALLEL, M_OBJV, M_WEIGHTS, M_DISAGREE, M_MAXORMINS, M_CV, M_IDEALPOINT, M_IDEALPOINT_LEN };
const char* const kMessages[] = {
    "error in druvik: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "error in druvik: ObjV must be a Numpy ndarray. (ObjV必须是numpy的array类型矩阵。)",
    "error in druvik: weights must be a Numpy ndarray. (weights必须是numpy的array类型矩阵。)",
    "error in druvik: weights and ObjV disagree. (weights和ObjV不匹配，详见help()帮助文档。)",
    "error in druvik: maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)",
    "error in druvik: CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)",
    "error in druvik: idealPoint must be a 1-D Numpy ndarray. (输入参数idealPoint必须是一个numpy ndarray类型的一维数组。)",
    "error in druvik: The length of idealPoint must be equal to the column number of ObjV. "
    "(输入参数idealPoint的长度必须等于ObjV的列数。)",
};

const char* const kBuiltins[] = {"RuntimeError", "ValueError", "range", "ImportError"};

const int kLine = __LINE__ + 1;
PyObject* druvik(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    evo::Aggregation in = evo::aggregation_inputs(
        a, {M_OBJV, M_WEIGHTS, M_DISAGREE, M_MAXORMINS, M_CV, M_IDEALPOINT, M_IDEALPOINT_LEN});
    if (in.ideal) return in.ideal.release();

    evo::Array CombinObjV = evo::Array::empty({in.rows(), 1}, evo::Elem::f64);
    auto kernel = in.one_row() ? _druvik_1D : _druvik;
    const evo::AggregationData d = in.data(CombinObjV);
    evo::unlocked(d.work, [&] { kernel(d.ObjV, d.rows, d.Lind, d.weights, d.idealPoint, d.out, Parallel); });
    return CombinObjV.release();
}

const evo::Module kModule = evo::operator_module("druvik", "core/druvik.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, druvik);

}  // namespace

EVOCORE_MODULE(druvik, kModule)
