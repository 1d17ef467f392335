// polvane: Euclidean, city-block and cosine distances (and cosine similarity) between the rows of
// two matrices.
#include "../frame/values.hpp"
#include "_polvane.hpp"

namespace {

const char* const kDoc = R"doc(
    polvane : function - 距离计算(Distance Calculation)

    描述:
        该函数用于计算两个矩阵之间的距离。

    语法:
        dis = polvane(A, B)
        dis = polvane(A, B, metric)
        dis = polvane(A, B, metric, Parallel)

    输入参数:
        A        : array - 矩阵A。

        B        : array - 矩阵B。

        metric   : str   - (可选参数)表示计算A和B之间的哪种距离，缺省时默认为'euclidean'，
                           允许的取值为'euclidean', 'cityblock', 'cosine', 'cosine_similarity'，
                           其中'cosine_similarity'表示计算A和B的余弦相似度。

        Parallel : bool  - (可选参数)表示是否采用并行计算，缺省或为None时默认为False。

    输出参数:
        dis      : array - A的各行与B的各行之间的距离(metric为'cosine_similarity'时为相似度)组成的
                           Numpy ndarray矩阵，其行数等于A的行数，列数等于B的行数。

    Core version: 2.7

)doc";

#define PARAMS(ENTRY) \
    ENTRY(A_, evo::required("A")) \
    ENTRY(B_, evo::required("B")) \
    ENTRY(METRIC, evo::optional_str("metric", "euclidean")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("polvane", "Parallel")) \
    ENTRY(M_COLUMNS, "error in polvane: The column of A must be equal to that of B. (传入参数A和B的列数必须相等。)") \
    ENTRY(M_METRIC, "error in polvane: The metric can only be euclidean, cityblock, cosine, or cosine_similarity. " \
      "(metric允许的取值为：euclidean, cityblock, cosine, or cosine_similarity。)")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

// The metric names, in the order they are compared, and the attribute name of a transpose.
enum Metric { EUCLIDEAN, CITYBLOCK, COSINE, COSINE_SIMILARITY, NMETRICS };
const char* const kMetricNames[NMETRICS] = {"euclidean", "cityblock", "cosine", "cosine_similarity"};
PyObject* kMetric[NMETRICS] = {};
PyObject* kT = nullptr;

int make_constants() {
    for (int m = 0; m < NMETRICS; ++m)
        if (!(kMetric[m] = PyUnicode_InternFromString(kMetricNames[m]))) return -1;
    kT = PyUnicode_InternFromString("T");
    return kT ? 0 : -1;
}

// obj.shape[axis], as the object the shape holds.
evo::Ref shape_item(PyObject* obj, int axis) {
    return evo::getitem(evo::getattr(obj, evo::names.shape).get(), axis ? evo::constants.one : evo::constants.zero);
}

using evo::Elem;

// The rows of matrix X (rows x dim) divided by their norms, into `unit`.
void normalize(PyObject* X, evo::Output& unit, Py_ssize_t rows, Py_ssize_t dim, int Parallel) {
    evo::Array Xm = evo::ndarray_argument(X, Elem::f64, 2);
    const double* x = Xm.matrix(rows, dim);
    double* u = unit.out_matrix(rows, dim);
    const int n = evo::to_int(rows), d = evo::to_int(dim);
    evo::unlocked((std::int64_t)n * d, [&] { _polvane_cos_normalize(x, u, n, d, Parallel); });
}

using Pairs = void (*)(const double*, const double*, double*, int, int, int, int);
using Same = void (*)(const double*, double*, int, int, int);

const int kLine = __LINE__ + 1;
PyObject* polvane(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    PyObject* const A = a[A_];
    PyObject* const B = a[B_];
    const evo::Ref row_a = shape_item(A, 0), col_a = shape_item(A, 1);
    const evo::Ref row_b = shape_item(B, 0), col_b = shape_item(B, 1);
    if (evo::not_equal(col_a.get(), col_b.get())) evo::fail(M_COLUMNS);
    int metric = 0;
    while (metric < NMETRICS && !evo::is_equal(a[METRIC], kMetric[metric])) ++metric;
    if (metric == NMETRICS) evo::fail(M_METRIC);

    const bool self = A == B;  // the same object twice: each pair once, one normalisation
    const Py_ssize_t ra = evo::index_value(row_a.get()), rb = evo::index_value(row_b.get());
    const Py_ssize_t dim = evo::index_value(col_a.get());

    if (metric == EUCLIDEAN || metric == CITYBLOCK) {
        evo::Output C = evo::Output::empty({ra, rb}, Elem::f64);
        evo::Array Am = evo::ndarray_argument(A, Elem::f64, 2);
        const std::int64_t work = (std::int64_t)ra * rb * (dim > 0 ? dim : 1);
        if (self) {
            Same kernel = metric == EUCLIDEAN ? _polvane_eu_self : _polvane_ci_self;
            const double* a = Am.matrix(ra, dim);
            double* c = C.out_matrix(ra, ra);
            const int n = evo::to_int(ra), d = evo::to_int(dim);
            evo::unlocked(work, [&] { kernel(a, c, n, d, Parallel); });
        } else {
            evo::Array Bm = evo::ndarray_argument(B, Elem::f64, 2);
            Pairs kernel = metric == EUCLIDEAN ? _polvane_eu : _polvane_ci;
            const double *a = Am.matrix(ra, dim), *b = Bm.matrix(rb, dim);
            double* c = C.out_matrix(ra, rb);
            const int na = evo::to_int(ra), nb = evo::to_int(rb), d = evo::to_int(dim);
            evo::unlocked(work, [&] { kernel(a, b, c, na, nb, d, Parallel); });
        }
        return C.release();
    }

    // Cosine: the rows divided by their norms, then the matrix product of the unit rows.
    evo::Output A_unit = evo::Output::empty({ra, dim}, Elem::f64);
    evo::Output B_unit;
    if (!self) B_unit = evo::Output::empty({rb, evo::index_value(col_b.get())}, Elem::f64);
    normalize(A, A_unit, ra, dim, Parallel);
    if (!self) normalize(B, B_unit, rb, dim, Parallel);
    const Py_ssize_t cols = self ? ra : rb;
    evo::Ref product = evo::matmul(A_unit.obj(), evo::getattr((self ? A_unit : B_unit).obj(), kT).get());
    if (metric == COSINE_SIMILARITY) return product.release();
    evo::Output C = evo::Output::adopt(std::move(product), Elem::f64, 2);
    double* c = C.out_matrix(ra, cols);
    const int n = evo::to_int(ra), m = evo::to_int(cols);
    evo::unlocked((std::int64_t)n * m, [&] { num_sub_matrix(1.0, c, c, n, m, Parallel); });  // 1 - similarity
    return C.release();
}

const evo::KernelForms kForms[] = {{"_polvane", _polvane_forms}};
const evo::Module kModule = evo::with_forms(
    evo::operator_module("polvane", "core/polvane.cpp", kLine, kDoc, kParams,
                         kMessages, kBuiltins, polvane, make_constants),
    kForms);

}  // namespace

EVOCORE_MODULE(polvane, kModule)
