// tamsen: a random real/integer population between the bounds of FieldDR.
#include <vector>

#include "../frame/array.hpp"
#include "../frame/convert.hpp"
#include "../frame/values.hpp"
#include "_tamsen.hpp"

namespace {

const char* const kDoc = R"doc(
tamsen : function - 创建一个混合实数整数（实整数）值种群染色体矩阵(Create real & integer points)

描述：
    该函数结合了工具箱的实值种群创建函数和整数值种群创建函数，创建一个混合实数整数（实整数）值的种群染色体矩阵。

语法:
    Chrom = tamsen(Nind, FieldDR)
    Chrom = tamsen(Nind, FieldDR, Parallel)

输入参数:
    Nind     : int   - 种群个体数。
    FieldDR  : array - 实值译码矩阵（当编码为'RI'或'P'时使用），结构为3行的矩阵：
                       [lb;        (下界)
                        ub;        (上界)
                        varTypes]  (变量类型(0:continued | 1:discrete))
    Parallel : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

输出参数:
    Chrom    : array - 种群染色体矩阵，每一行对应一个个体，每一列对应染色体上的一个位置，
                       其元素为随机的实数值和整数值。

Core version: 2.7

)doc";

enum Param { NIND, FIELDDR, PARALLEL };
const evo::Param kParams[] = {evo::required("Nind"), evo::required("FieldDR"), evo::optional_false("Parallel")};

enum Message { M_PARALLEL, M_NIND, M_FIELDDR };
const char* const kMessages[] = {
    "error in tamsen: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "error in tamsen: Nind must be an integer > 0. (种群规模Nind必须为一个大于0的整数。)",
    "error in tamsen: FieldDR must be a matrix with 3 rows. (译码矩阵FieldDR必须是3行的Numpy ndarray类型矩阵。)",
};

const char* const kBuiltins[] = {"RuntimeError", "range", "ValueError", "ImportError", "MemoryError",
                                 "enumerate", "TypeError", "Ellipsis", "id", "IndexError"};

// Module constants: the integer 3 and the row selectors (k, :) of FieldDR.
PyObject* g_three = nullptr;
PyObject* g_row[3] = {};

int make_constants() {
    g_three = evo::integer(3).release();
    for (int k = 0; k < 3; ++k) g_row[k] = evo::row_selector(k).release();
    return 0;
}

// FieldDR[k, :].astype(float or np.int32), taken as a vector.
evo::Array field_row(PyObject* FieldDR, int k, evo::Elem elem) {
    return evo::Array::astype(evo::getitem(FieldDR, g_row[k]).get(), elem, 1);
}

const int kLine = __LINE__ + 1;
PyObject* tamsen(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    evo::Ref shape[2];  // mF, Lind = FieldDR.shape
    evo::unpack(evo::getattr(a[FIELDDR], evo::names.shape).get(), shape, 2);
    PyObject* Nind = a[NIND];
    if (!evo::is_int(Nind) || evo::less_equal(Nind, evo::constants.zero)) evo::fail(M_NIND);
    if (evo::not_equal(shape[0].get(), g_three)) evo::fail(M_FIELDDR);

    const int randDelta = evo::draw_rand_delta();

    evo::Ref FieldDR = evo::Ref::borrow(a[FIELDDR]);
    evo::Ref flags = evo::getattr(FieldDR.get(), evo::names.flags);
    if (!evo::truth(evo::getitem(flags.get(), evo::names.C_CONTIGUOUS).get()))
        FieldDR = evo::call(evo::np_attr(evo::names.ascontiguousarray).get(), FieldDR.get());
    const evo::Array lbs = field_row(FieldDR.get(), 0, evo::Elem::f64);
    const evo::Array ubs = field_row(FieldDR.get(), 1, evo::Elem::f64);
    const evo::Array varTypes = field_row(FieldDR.get(), 2, evo::Elem::i32);

    const Py_ssize_t rows = evo::index_value(Nind), Lind = evo::index_value(shape[1].get());
    evo::Array Chrom = evo::Array::empty({rows, Lind}, evo::Elem::f64);
    double* out = Chrom.out_matrix(rows, Lind);
    // The kernel widens the discrete bounds in place: in copies of the rows, never in FieldDR.
    const double* lb = lbs.vector(Lind);
    const double* ub = ubs.vector(Lind);
    std::vector<double> lb_copy(lb, lb + Lind), ub_copy(ub, ub + Lind);
    const int* types = varTypes.ivector(Lind);
    _tamsen(out, evo::to_int(rows), evo::to_int(Lind), lb_copy.data(), ub_copy.data(), types, randDelta,
            Parallel * 1);

    bool float_flag = false;
    for (Py_ssize_t i = 0; i < Lind && !float_flag; ++i) float_flag = types[i] == 0;
    evo::Ref result = evo::Ref::steal(Chrom.release());
    if (float_flag) return result.release();
    return evo::call_method(result.get(), evo::names.astype, evo::np_attr(evo::names.int32).get()).release();
}

const evo::Module kModule = evo::operator_module("tamsen", "core/tamsen.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, tamsen, make_constants);

}  // namespace

EVOCORE_MODULE(tamsen, kModule)
