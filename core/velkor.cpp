// velkor: encoding of a real/integer phenotype matrix into a binary/Gray chromosome matrix.
#include "../frame/convert.hpp"
#include "_velkor.hpp"

#include <new>

namespace {

const char* const kDoc = R"doc(
velkor : function - 实整数值矩阵（包含实数和整数）到二进制/格雷编码矩阵的转换(Real-integer numbers to binary strings)

描述：
    该函数根据译码矩阵FieldD，把由十进制实数和整数组成的种群表现型矩阵编码成二进制/格雷编码的种群染色体矩阵。

语法:
    Chrom = velkor(Phen, FieldD)
    Chrom = velkor(Phen, FieldD, Parallel)

输入参数:
    Phen     : array - 种群表现型矩阵，每一行对应一个个体，每一列对应一个决策变量。

    FieldD   : array - 译码矩阵（当种群染色体的编码为'BG'时使用的译码矩阵），结构如下：
               [lens;      (int)  每个决策变量编码后在染色体中所占的长度。
                lb;        (float) 指明每个变量使用的下界。
                ub;        (float) 指明每个变量使用的上界。
                codes;     (0:binary     | 1:gray) 指明子串是怎么编码的。
                scales;    (0: rithmetic | 1:logarithmic) 指明每个子串是否使用对数或算术刻度。
                lbin;      (0:excluded   | 1:included)
                ubin;      (0:excluded   | 1:included)
                varTypes]  (0:continued  | 1:discrete)
               lbin和ubin指明了范围中是否包含每个边界。

    Parallel : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

输出参数:
    Chrom    : array - 种群染色体矩阵，每一行对应一个个体的二进制/格雷编码串。

Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(PHEN, evo::required("Phen")) \
    ENTRY(FIELDD, evo::required("FieldD")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("velkor", "Parallel")) \
    ENTRY(M_ROWS, "error in velkor: FieldD must have 8 rows. (FieldD必须有8行。)") \
    ENTRY(M_DISAGREE, "error in velkor: FieldD and Phen disagree. (译码矩阵FieldD的列数必须等于种群表现型矩阵Phen的列数。)") \
    ENTRY(M_LENGTH, "error in velkor: The elements of the first row of FieldD should not be bigger than 31. " \
      "(FieldD的第一行的元素不能超过31。)") \
    ENTRY(M_NEGATIVE, "error in velkor: The elements of the first row of FieldD should not be negative. " \
      "(FieldD的第一行的元素不能为负数。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "ValueError", "range", "ImportError", "MemoryError",
                                 "enumerate",    "TypeError",  "Ellipsis", "id",      "IndexError"};

// The rows of FieldD the function reads, as (k, :) selectors made once; row 4 (scales) is not.
enum Row { LENS, LBS, UBS, CODES, LBINS, UBINS, VARTYPES, NROWS };
constexpr long kRowIndex[NROWS] = {0, 1, 2, 3, 5, 6, 7};
PyObject* g_rows[NROWS];

int make_constants() {
    try {
        for (int r = 0; r < NROWS; ++r) g_rows[r] = evo::row_selector(kRowIndex[r]).release();
        return 0;
    } catch (const evo::PyException&) {
        return -1;
    }
}

const int kLine = __LINE__ + 1;
PyObject* velkor(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    PyObject* FieldD = a[FIELDD];
    const evo::Shape phen_shape(a[PHEN]);
    const int Nind = evo::to_int(phen_shape[0]);
    const evo::Shape fieldd_shape(FieldD);
    const int eight = evo::to_int(fieldd_shape[0]);
    const int Nvar = evo::to_int(fieldd_shape[1]);
    if (eight != 8) evo::fail(M_ROWS);
    if (Nvar != phen_shape[1]) evo::fail(M_DISAGREE);

    evo::Array Phen = evo::Array::coerce(a[PHEN], evo::Elem::f64, 2);
    evo::MatrixRows rows(FieldD, eight, Nvar);  // FieldD made C-contiguous first
    auto i32 = [&](Row r) { return rows.i32(g_rows[r], kRowIndex[r]); };
    auto f64 = [&](Row r) { return rows.f64(g_rows[r], kRowIndex[r]); };
    const int* lens = i32(LENS);
    const double* lbs = f64(LBS);
    const double* ubs = f64(UBS);
    const int* codes = i32(CODES);
    const int* lbins = i32(LBINS);
    const int* ubins = i32(UBINS);
    const int* varTypes = i32(VARTYPES);
    const int Lind = rows.sum(lens);
    if (checkLen(lens, Nvar)) evo::fail(M_LENGTH);
    if (checkLenNegative(lens, Nvar)) evo::fail(M_NEGATIVE);

    evo::Output Chrom = evo::Output::empty({Nind, Lind}, evo::Elem::i32);
    const double* phen = Phen.matrix(Nind, Nvar);
    int* out = Chrom.out_imatrix(Nind, Lind);
    const bool done = evo::unlocked((std::int64_t)Nind * (Nvar + (std::int64_t)Lind), [&] {
        return _velkor(phen, Nind, Lind, lens, lbs, ubs, codes, lbins, ubins, varTypes, out, Nvar, Parallel);
    });
    if (!done) throw std::bad_alloc();
    return Chrom.release();
}

const evo::KernelForms kForms[] = {{"_velkor", _velkor_forms}};
const evo::Module kModule = evo::with_forms(
    evo::operator_module("velkor", "core/velkor.cpp", kLine, kDoc, kParams,
                         kMessages, kBuiltins, velkor, make_constants),
    kForms);

}  // namespace

EVOCORE_MODULE(velkor, kModule)
