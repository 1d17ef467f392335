// quelan: penalty-based boundary intersection aggregation of an objective matrix (MOEA/D).
#include "_aggregation.hpp"
#include "_moead_doc.hpp"
#include "_quelan.hpp"

namespace {

const char* const kDoc = R"doc(
quelan : function - 基于惩罚的边界交叉法多目标聚合函数(Penalty-based boundary intersection approach)

描述:
    该函数实现MOEA/D提出者的基于惩罚的边界交叉法多目标聚合[1]，返回多个目标聚合成单目标后的目标函数值列向量。

语法:
    CombinObjV = quelan(ObjV, weights)
    CombinObjV = quelan(ObjV, weights, idealPoint)
    CombinObjV = quelan(ObjV, weights, idealPoint, CV)
    CombinObjV = quelan(ObjV, weights, idealPoint, CV, maxormins)
    CombinObjV = quelan(ObjV, weights, idealPoint, CV, maxormins, Theta)
    CombinObjV = quelan(ObjV, weights, idealPoint, CV, maxormins, Theta, Parallel)

输入参数:
)doc" EVOCORE_DOC_AGGREGATION_INPUTS R"doc(    Theta      : float - (可选参数)该方法的参数theta，必须大于0，缺省或为None时默认为5。

    Parallel   : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

输出参数:
    CombinObjV : array - 多个目标聚合成单目标后的目标函数值列向量。

)doc" EVOCORE_DOC_MOEAD_REFERENCE R"doc(Core version: 2.7

)doc";

#define PARAMS(ENTRY)                 \
    EVOCORE_AGGREGATION_PARAMS(ENTRY) \
    ENTRY(THETA, evo::optional_int("Theta", 5)) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("quelan", "Parallel")) \
    ENTRY(M_THETA_SCALAR, "error in quelan: Theta must be a scalar. (Theta必须是一个标量。)") \
    ENTRY(M_THETA_POSITIVE, "error in quelan: Theta must be bigger than 0. (Theta必须是大于0。)") \
    EVOCORE_AGGREGATION_MESSAGES(ENTRY, "quelan")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "ValueError", "range", "ImportError"};

PyObject* kFive = nullptr;  // the float 5.0 that Theta=None stands for

int make_constants() {
    kFive = PyFloat_FromDouble(5.0);
    return kFive ? 0 : -1;
}

// None is 5.0; otherwise an int or float (bool included) greater than 0, NaN passing.
double theta_value(PyObject* Theta) {
    if (Theta == Py_None) return PyFloat_AS_DOUBLE(kFive);
    if (!PyFloat_Check(Theta) && !PyLong_Check(Theta)) evo::fail(M_THETA_SCALAR);
    if (evo::less_equal(Theta, evo::constants.zero)) evo::fail(M_THETA_POSITIVE);
    if (PyFloat_CheckExact(Theta)) return PyFloat_AS_DOUBLE(Theta);
    evo::Ref value = evo::Ref::steal(PyNumber_Float(Theta));
    return PyFloat_AS_DOUBLE(value.get());
}

const int kLine = __LINE__ + 1;
PyObject* quelan(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    const double Theta = theta_value(a[THETA]);
    moead::Aggregation in = moead::aggregation_inputs(a, EVOCORE_AGGREGATION_GROUP);
    if (in.ideal) return in.ideal.release();

    evo::Output CombinObjV = evo::Output::empty({in.rows(), 1}, evo::Elem::f64);
    auto kernel = in.one_row() ? _quelan_1D : _quelan;
    const moead::AggregationData d = in.data(CombinObjV);
    evo::unlocked(d.work, [&] {
        kernel(d.ObjV, d.rows, d.Lind, (float)Theta, d.weights, d.idealPoint, d.out, Parallel);
    });
    return CombinObjV.release();
}

const evo::Module kModule = evo::operator_module("quelan", "core/quelan.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, quelan, make_constants);

}  // namespace

EVOCORE_MODULE(quelan, kModule)
