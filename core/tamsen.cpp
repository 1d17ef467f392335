// tamsen: a random real/integer population between the bounds of FieldDR.
#include "_tamsen.hpp"
#include "_tamsen_call.hpp"

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

EVOCORE_PARAMS(EVOCORE_TAMSEN_PARAMS);
EVOCORE_MESSAGES(EVOCORE_TAMSEN_MESSAGES);

using namespace tamsen_call;

const int kLine = __LINE__ + 1;
PyObject* tamsen(evo::Args& a) {
    const Checked c = check(a[NIND], a[FIELDDR], a[PARALLEL], EVOCORE_TAMSEN_GROUP);
    const int randDelta = evo::rand_delta(a);
    return population(a[NIND], a[FIELDDR], c, [&](double* Chrom, int Nind, int Lind, double* lbs, double* ubs,
                                                  const int* varTypes) {
        _tamsen(Chrom, Nind, Lind, lbs, ubs, varTypes, randDelta, c.Parallel);
    });
}

const evo::Module kModule = evo::operator_module("tamsen", "core/tamsen.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, tamsen, make_constants, true);

}  // namespace

EVOCORE_MODULE(tamsen, kModule)
