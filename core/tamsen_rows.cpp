// _tamsen_rows: tamsen's parallel form one block of rows at a time (evocore.dask's entry).
//   _tamsen_rows(Nind, FieldDR, Parallel)                  -> randDelta, after tamsen's own checks
//   _tamsen_rows(Nind, FieldDR, Parallel, randDelta, row0) -> rows row0 .. row0 + Nind - 1
// The first form checks the arguments in tamsen's order and draws randDelta as tamsen does; the
// second gives the rows that tamsen(..., Parallel=True) with that randDelta has there.
#include <vector>

#include "../frame/array.hpp"
#include "../frame/convert.hpp"
#include "../frame/values.hpp"
#include "_tamsen.hpp"

namespace {

const char* const kDoc = "Rows row0 .. row0 + Nind - 1 of tamsen(..., Parallel=True) drawn with randDelta.";

enum Param { NIND, FIELDDR, PARALLEL, RANDDELTA, ROW0 };
const evo::Param kParams[] = {evo::required("Nind"), evo::required("FieldDR"), evo::optional_false("Parallel"),
                              evo::optional("randDelta"), evo::optional_int("row0", 0)};

enum Message { M_PARALLEL, M_NIND, M_FIELDDR, M_ROW0 };
const char* const kMessages[] = {
    "error in tamsen: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "error in tamsen: Nind must be an integer > 0. (种群规模Nind必须为一个大于0的整数。)",
    "error in tamsen: FieldDR must be a matrix with 3 rows. (译码矩阵FieldDR必须是3行的Numpy ndarray类型矩阵。)",
    "error in _tamsen_rows: row0 must be an integer >= 0.",
};

const char* const kBuiltins[] = {"RuntimeError", "range", "ValueError", "ImportError", "MemoryError",
                                 "enumerate", "TypeError", "Ellipsis", "id", "IndexError"};

PyObject* g_three = nullptr;
PyObject* g_row[3] = {};

int make_constants() {
    g_three = evo::integer(3).release();
    for (int k = 0; k < 3; ++k) g_row[k] = evo::row_selector(k).release();
    return 0;
}

evo::Array field_row(PyObject* FieldDR, int k, evo::Elem elem) {
    return evo::Array::astype(evo::getitem(FieldDR, g_row[k]).get(), elem, 1);
}

const int kLine = __LINE__ + 1;
PyObject* tamsen_rows(evo::Args& a) {
    evo::bool_switch(a[PARALLEL], M_PARALLEL);
    evo::Ref shape[2];
    evo::unpack(evo::getattr(a[FIELDDR], evo::names.shape).get(), shape, 2);
    PyObject* Nind = a[NIND];
    if (!evo::is_int(Nind) || evo::less_equal(Nind, evo::constants.zero)) evo::fail(M_NIND);
    if (evo::not_equal(shape[0].get(), g_three)) evo::fail(M_FIELDDR);
    if (a.is_none(RANDDELTA)) return evo::integer(evo::draw_rand_delta()).release();

    const int randDelta = evo::as_int(a[RANDDELTA]);
    PyObject* row0 = a[ROW0];
    if (!evo::is_int(row0) || evo::less_equal(row0, evo::integer(-1).get())) evo::fail(M_ROW0);
    const Py_ssize_t first = evo::index_value(row0);

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
    const double* lb = lbs.vector(Lind);
    const double* ub = ubs.vector(Lind);
    std::vector<double> lb_copy(lb, lb + Lind), ub_copy(ub, ub + Lind);
    const int* types = varTypes.ivector(Lind);
    _tamsen_rows(out, evo::to_int(rows), evo::to_int(Lind), lb_copy.data(), ub_copy.data(), types, randDelta, first);

    bool float_flag = false;
    for (Py_ssize_t i = 0; i < Lind && !float_flag; ++i) float_flag = types[i] == 0;
    evo::Ref result = evo::Ref::steal(Chrom.release());
    if (float_flag) return result.release();
    return evo::call_method(result.get(), evo::names.astype, evo::np_attr(evo::names.int32).get()).release();
}

const evo::Module kModule = evo::operator_module("_tamsen_rows", "core/tamsen_rows.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, tamsen_rows, make_constants);

}  // namespace

EVOCORE_MODULE(_tamsen_rows, kModule)
