// sarnet: order crossover (OX) of a permutation-coded chromosome matrix.
#include "../frame/array.hpp"
#include "../frame/values.hpp"
#include "_sarnet.hpp"

#include <cmath>

namespace {

const char* const kDoc = R"doc(
sarnet : function - 顺序交叉(Order crossover: OX)

描述:
    该函数对排列编码的种群染色体矩阵进行顺序交叉[1]，返回交叉后的新染色体矩阵。
    当Half_N为True或False时，其含义与旧版本的参数Half相同：交配对是有序的，种群的前一半个体
    按顺序与后一半个体一一配对；若个体数为奇数，则最后一个个体不参与交叉。Half_N为False时返回
    与OldChrom行数相同的矩阵，Half_N为True时返回floor(行数/2)行的矩阵。
    当Half_N为正整数时，采用全局交叉，此时子代染色体的基因可来自OldChrom中的任意染色体。

语法:
    NewChrom =  sarnet(OldChrom)
    NewChrom =  sarnet(OldChrom, XOVR)
    NewChrom =  sarnet(OldChrom, XOVR, Half_N)
    NewChrom =  sarnet(OldChrom, XOVR, Half_N, Parallel)
    NewChrom =  sarnet(OldChrom, XOVR, Half_N, Parallel, params4)

输入参数:
    OldChrom : array     - 待交叉的种群染色体矩阵，每一行对应一个个体的一条染色体。

    XOVR     : float     - 交叉概率，缺省或为None时默认为0.7。

    Half_N   : bool/int  - (可选参数)控制交配方式：
                           为False时，对配对的两条染色体进行交叉，并返回全部交叉结果；
                           为True时，仅返回配对交叉结果的第一条染色体；
                           为正整数时，采用全局交叉，生成Half_N条染色体，若其大于种群规模，
                           则按种群规模处理，此时XOVR不起作用。
                           缺省或为None时默认为False。

    Parallel : bool      - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

    params4  : 无用参数，用于兼容同类的其他函数。

输出参数:
    NewChrom : array     - 交叉后的种群染色体矩阵。

参考文献:
    [1] Larrañaga P, Kuijpers C M H, Murga R H, et al. Genetic algorithms for the travelling
    salesman problem: A review of representations and operators[J]. Artificial Intelligence
    Review, 1999, 13(2): 129-170.

Core version: 2.7

)doc";

enum Param { OLDCHROM, XOVR, HALF_N, PARALLEL, PARAMS4 };
const evo::Param kParams[] = {
    evo::required("OldChrom"), evo::optional_float("XOVR", 0.7), evo::optional_false("Half_N"),
    evo::optional_false("Parallel"), evo::optional("params4"),
};

enum Message { M_PARALLEL, M_CHROMOSOME, M_HALF_N, M_XOVR };
const char* const kMessages[] = {
    "error in sarnet: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "error in sarnet: Chromosome error. (染色体不满足排列编码规则。)",
    "error in sarnet: Half_N error. (传入参数Half_N有误，详见API文档。)",
    "error in sarnet: XOVR must be in [0,1]. (交叉概率XOVR必须在[0, 1]之间。)",
};

const char* const kBuiltins[] = {"RuntimeError"};

// np.min(OldChrom) and np.max(OldChrom) as 32-bit ints.  An exact int32 ndarray is reduced
// here, which gives the same two integers without two trips through NumPy.
void gene_bounds(PyObject* OldChrom, const evo::Array& exact, int& Lb, int& Ub) {
    if (exact && exact.size() > 0) {
        const int* genes = exact.imatrix(exact.dim(0), exact.dim(1));
        evo::unlocked(exact.size(), [&] { gene_range(genes, exact.size(), &Lb, &Ub); });
        return;
    }
    Lb = evo::as_int(evo::call(evo::np_attr(evo::names.min).get(), OldChrom).get());
    Ub = evo::as_int(evo::call(evo::np_attr(evo::names.max).get(), OldChrom).get());
}

// The kernels rely on every gene lying in Lb..Ub.  A matrix whose np.min or np.max does not
// tell its true bounds (an object array whose elements compare oddly) fails the check instead.
bool within(const evo::Array& Chrom, int Lb, int Ub) {
    if (Chrom.size() == 0) return true;
    int lo, hi;
    const int* genes = Chrom.imatrix(Chrom.dim(0), Chrom.dim(1));
    evo::unlocked(Chrom.size(), [&] { gene_range(genes, Chrom.size(), &lo, &hi); });
    return Lb <= lo && hi <= Ub;
}

const int kLine = __LINE__ + 1;
PyObject* sarnet(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    PyObject* OldChrom = a[OLDCHROM];
    const evo::Shape shape(OldChrom);
    const int Nind = evo::to_int(shape[0]);
    const int Lind = evo::to_int(shape[1]);

    evo::Array Chrom = evo::Array::in_place(OldChrom, evo::Elem::i32, 2);
    int Lb, Ub;
    gene_bounds(OldChrom, Chrom, Lb, Ub);
    bool trusted = bool(Chrom);
    if (!Chrom) Chrom = evo::Array::coerce(OldChrom, evo::Elem::i32, 2);
    const int* genes = Chrom.imatrix(Nind, Lind);

    const std::int64_t work = (std::int64_t)Nind * Lind;
    const int check = trusted || within(Chrom, Lb, Ub)
                          ? evo::unlocked(work, [&] { return _check_permutation(genes, Nind, Lind, Lb, Ub, Parallel); })
                          : 0;
    if (check < 0) evo::out_of_memory();
    if (check == 0) evo::fail(M_CHROMOSOME);

    PyObject* Half_N = a[HALF_N];
    const bool global = !(Half_N == Py_None || PyBool_Check(Half_N));
    if (global && (!evo::is_int(Half_N) || evo::int_sign_against(Half_N, 0) <= 0)) evo::fail(M_HALF_N);
    const bool half = Half_N == Py_True;

    if (Nind < 2 || (Lind < 2 && !global && !half)) return Chrom.release();

    double pc = 0.7;
    if (!a.is_none(XOVR)) {
        PyObject* x = a[XOVR];
        if (evo::less_than(x, evo::constants.zero) || evo::greater_than(x, evo::constants.one)) evo::fail(M_XOVR);
        pc = evo::to_double(x);
        if (std::isnan(pc)) evo::fail(M_XOVR);
    }
    const int randDelta = evo::rand_delta(a);

    bool done;
    evo::Array NewChrom;
    if (!global) {
        const int rows = half ? Nind / 2 : Nind;
        NewChrom = evo::Array::empty({rows, Lind}, evo::Elem::i32);
        auto kernel = half ? _sarnet_half : _sarnet;
        int* out = NewChrom.out_imatrix(rows, Lind);
        done = evo::unlocked(work, [&] { return kernel(genes, Nind, Lind, Lb, Ub, out, pc, randDelta, Parallel); });
    } else {
        const int Num = evo::int_sign_against(Half_N, Nind) > 0 ? Nind : evo::int_value(Half_N);
        NewChrom = evo::Array::empty({Num, Lind}, evo::Elem::i32);
        int* out = NewChrom.out_imatrix(Num, Lind);
        done = evo::unlocked((std::int64_t)Num * Lind, [&] {
            return _sarnet_gb(genes, Nind, Lind, Lb, Ub, out, Num, randDelta, Parallel);
        });
    }
    if (!done) evo::out_of_memory();
    return NewChrom.release();
}

const evo::Module kModule = evo::operator_module("sarnet", "core/sarnet.cpp", kLine, kDoc, kParams, kMessages,
                                                   kBuiltins, sarnet, nullptr, true);

}  // namespace

EVOCORE_MODULE(sarnet, kModule)
