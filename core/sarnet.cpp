// sarnet: order crossover (OX) of a permutation-coded chromosome matrix.
#include "../frame/array.hpp"
#include "../frame/values.hpp"
#include "_sarnet.hpp"

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

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

#define PARAMS(ENTRY) \
    ENTRY(OLDCHROM, evo::required("OldChrom")) \
    ENTRY(XOVR, evo::optional_float("XOVR", 0.7)) \
    ENTRY(HALF_N, evo::optional_false("Half_N")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel")) \
    ENTRY(PARAMS4, evo::optional("params4"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("sarnet", "Parallel")) \
    ENTRY(M_CHROMOSOME, "error in sarnet: Chromosome error. (染色体不满足排列编码规则。)") \
    ENTRY(M_HALF_N, "error in sarnet: Half_N error. (传入参数Half_N有误，详见API文档。)") \
    ENTRY(M_XOVR, "error in sarnet: XOVR must be in [0,1]. (交叉概率XOVR必须在[0, 1]之间。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

// np.min(OldChrom) and np.max(OldChrom) as 32-bit ints, through NumPy.
void numpy_bounds(PyObject* OldChrom, int& Lb, int& Ub) {
    Lb = evo::as_int(evo::call(evo::np_attr(evo::names.min).get(), OldChrom).get());
    Ub = evo::as_int(evo::call(evo::np_attr(evo::names.max).get(), OldChrom).get());
}

// The genes the kernels read, in memory of this call's own: the kernels index tables by gene
// values, so a value another thread writes into the caller's array meanwhile must not reach them.
// The range is that of the copy itself.  A buffer (up to kKeptGenes) is kept for a later call,
// which saves the page faults of fresh memory on every call: a call takes one from the kept ones
// and gives it back, so the process keeps one per call that ran at the same time.  (A thread's
// own buffer, a C++ thread_local with a destructor, would ask the C library for
// __cxa_thread_atexit_impl, which a wheel for older Linux cannot.)
constexpr std::size_t kKeptGenes = std::size_t{1} << 22;

class KeptBuffers {
public:
    std::vector<int> take() {
        std::lock_guard<std::mutex> hold(lock_);
        if (free_.empty()) return {};
        std::vector<int> v = std::move(free_.back());
        free_.pop_back();
        return v;
    }
    void give(std::vector<int>&& v) {
        std::lock_guard<std::mutex> hold(lock_);
        free_.push_back(std::move(v));
    }

private:
    std::mutex lock_;
    std::vector<std::vector<int>> free_;
};

KeptBuffers& kept_buffers() {
    static KeptBuffers* const kept = new KeptBuffers;  // never destroyed: a call may end after exit began
    return *kept;
}

struct Genes {
    std::vector<int> kept;       // a buffer given back when the call ends
    std::unique_ptr<int[]> own;  // a matrix larger than one that is kept
    const int* data = nullptr;
    int lo = 0, hi = -1;

    Genes() = default;
    Genes(Genes&&) = default;
    ~Genes() {
        if (kept.capacity() != 0) kept_buffers().give(std::move(kept));
    }
};

Genes private_genes(const evo::Array& Chrom, int Nind, int Lind, int Parallel) {
    Genes g;
    const std::size_t n = (std::size_t)Nind * (std::size_t)Lind;
    if (n == 0) return g;
    const int* from = Chrom.imatrix(Nind, Lind);
    int* to;
    if (n <= kKeptGenes) {
        g.kept = kept_buffers().take();
        if (g.kept.size() < n) g.kept.resize(n);
        to = g.kept.data();
    } else {
        g.own.reset(new int[n]);
        to = g.own.get();
    }
    evo::unlocked((std::int64_t)n, [&] { gene_copy(from, (std::int64_t)n, to, &g.lo, &g.hi, Parallel); });
    g.data = to;
    return g;
}

const int kLine = __LINE__ + 1;
PyObject* sarnet(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    PyObject* OldChrom = a[OLDCHROM];
    const evo::Shape shape(OldChrom);
    const int Nind = evo::to_int(shape[0]);
    const int Lind = evo::to_int(shape[1]);

    // An exact C-ordered int32 matrix with genes is its own bounds' witness: np.min and np.max
    // give the range of its copy.  Anything else asks NumPy, on the array as passed, and the
    // converted genes must lie within what it says (an object array may compare oddly).
    evo::Array Chrom = evo::Array::in_place(OldChrom, evo::Elem::i32, 2);
    const bool exact = Chrom && Chrom.size() > 0;
    int Lb = 0, Ub = 0;
    if (!exact) numpy_bounds(OldChrom, Lb, Ub);
    if (!Chrom) Chrom = evo::Array::coerce(OldChrom, evo::Elem::i32, 2);
    const Genes copy = private_genes(Chrom, Nind, Lind, Parallel);
    if (exact) Lb = copy.lo, Ub = copy.hi;
    const int* genes = copy.data;

    const std::int64_t work = (std::int64_t)Nind * Lind;
    const bool within = Chrom.size() == 0 || (Lb <= copy.lo && copy.hi <= Ub);
    const int check =
        within ? evo::unlocked(work, [&] { return _check_permutation(genes, Nind, Lind, Lb, Ub, Parallel); }) : 0;
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
    evo::Output NewChrom;
    if (!global) {
        const int rows = half ? Nind / 2 : Nind;
        NewChrom = evo::Output::empty({rows, Lind}, evo::Elem::i32);
        auto kernel = half ? _sarnet_half : _sarnet;
        int* out = NewChrom.out_imatrix(rows, Lind);
        done = evo::unlocked(work, [&] { return kernel(genes, Nind, Lind, Lb, Ub, out, pc, randDelta, Parallel); });
    } else {
        const int Num = evo::int_sign_against(Half_N, Nind) > 0 ? Nind : evo::int_value(Half_N);
        NewChrom = evo::Output::empty({Num, Lind}, evo::Elem::i32);
        int* out = NewChrom.out_imatrix(Num, Lind);
        done = evo::unlocked((std::int64_t)Num * Lind, [&] {
            return _sarnet_gb(genes, Nind, Lind, Lb, Ub, out, Num, randDelta, Parallel);
        });
    }
    if (!done) evo::out_of_memory();
    return NewChrom.release();
}

const evo::KernelForms kForms[] = {{"_sarnet", permutation_forms}};
const evo::Module kModule = evo::with_forms(
    evo::operator_module("sarnet", "core/sarnet.cpp", kLine, kDoc, kParams,
                         kMessages, kBuiltins, sarnet, nullptr, true),
    kForms);

}  // namespace

EVOCORE_MODULE(sarnet, kModule)
