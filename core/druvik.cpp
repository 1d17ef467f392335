// druvik: weighted Chebyshev aggregation of an objective matrix (MOEA/D).
#include "_aggregation.hpp"
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

#define PARAMS(ENTRY)                 \
    EVOCORE_AGGREGATION_PARAMS(ENTRY) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("druvik", "Parallel")) \
    EVOCORE_AGGREGATION_MESSAGES(ENTRY, "druvik")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "ValueError", "range", "ImportError"};

const int kLine = __LINE__ + 1;
PyObject* druvik(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    moead::Aggregation in = moead::aggregation_inputs(a, EVOCORE_AGGREGATION_GROUP);
    if (in.ideal) return in.ideal.release();

    evo::Output CombinObjV = evo::Output::empty({in.rows(), 1}, evo::Elem::f64);
    auto kernel = in.one_row() ? _druvik_1D : _druvik;
    const moead::AggregationData d = in.data(CombinObjV);
    evo::unlocked(d.work, [&] { kernel(d.ObjV, d.rows, d.Lind, d.weights, d.idealPoint, d.out, Parallel); });
    return CombinObjV.release();
}

const evo::Module kModule = evo::operator_module("druvik", "core/druvik.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, druvik);

}  // namespace

EVOCORE_MODULE(druvik, kModule)
