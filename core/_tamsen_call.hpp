// The entry steps of tamsen, shared by its module and by the row-block entry of evocore.dask:
// the checks of Nind and FieldDR in their order, the rows of FieldDR, the kernel call and the
// result's element type.  Both modules' tables begin with tamsen's parameters and messages.
#pragma once

#include <functional>
#include <vector>

#include "../frame/array.hpp"
#include "../frame/convert.hpp"
#include "../frame/values.hpp"

#define EVOCORE_TAMSEN_PARAMS(ENTRY)            \
    ENTRY(NIND, evo::required("Nind"))          \
    ENTRY(FIELDDR, evo::required("FieldDR"))    \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))

#define EVOCORE_TAMSEN_MESSAGES(ENTRY)                                                                    \
    ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("tamsen", "Parallel"))                                      \
    ENTRY(M_NIND, "error in tamsen: Nind must be an integer > 0. (种群规模Nind必须为一个大于0的整数。)") \
    ENTRY(M_FIELDDR, "error in tamsen: FieldDR must be a matrix with 3 rows. (译码矩阵FieldDR必须是3行的Numpy ndarray类型矩阵。)")

// Where those messages are in the including module's list.
#define EVOCORE_TAMSEN_GROUP \
    tamsen_call::Messages { .Parallel = M_PARALLEL, .Nind = M_NIND, .FieldDR = M_FIELDDR }

namespace tamsen_call {

struct Messages {
    int Parallel, Nind, FieldDR;
};

// The built-ins tamsen looks up, in their order.
inline const char* const kBuiltins[] = {"RuntimeError", "range",     "ValueError", "ImportError", "MemoryError",
                                        "enumerate",    "TypeError", "Ellipsis",   "id",          "IndexError"};

// Module constants: the integer 3 and the row selectors (k, :) of FieldDR.
inline PyObject* g_three = nullptr;
inline PyObject* g_row[3] = {};

inline int make_constants() {
    g_three = evo::integer(3).release();
    for (int k = 0; k < 3; ++k) g_row[k] = evo::row_selector(k).release();
    return 0;
}

// The checks: the Parallel switch, `mF, Lind = FieldDR.shape`, Nind, then the 3 rows.
struct Checked {
    int Parallel;
    evo::Ref shape[2];
};
inline Checked check(PyObject* Nind, PyObject* FieldDR, PyObject* Parallel, Messages m) {
    Checked c;
    c.Parallel = evo::bool_switch(Parallel, m.Parallel);
    evo::unpack(evo::getattr(FieldDR, evo::names.shape).get(), c.shape, 2);
    if (!evo::is_int(Nind) || evo::less_equal(Nind, evo::constants.zero)) evo::fail(m.Nind);
    if (evo::not_equal(c.shape[0].get(), g_three)) evo::fail(m.FieldDR);
    return c;
}

// FieldDR[k, :].astype(float or np.int32), taken as a vector.
inline evo::Array field_row(PyObject* FieldDR, int k, evo::Elem elem) {
    return evo::Array::astype(evo::getitem(FieldDR, g_row[k]).get(), elem, 1);
}

using Kernel = std::function<void(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes)>;

// After the draw: the rows of FieldDR, the result matrix filled by `kernel`, and its
// element type (float64 when some variable is continuous, else int32).
inline PyObject* population(PyObject* Nind, PyObject* FieldDR_arg, const Checked& c, const Kernel& kernel) {
    evo::Ref FieldDR = evo::Ref::borrow(FieldDR_arg);
    evo::Ref flags = evo::getattr(FieldDR.get(), evo::names.flags);
    if (!evo::truth(evo::getitem(flags.get(), evo::names.C_CONTIGUOUS).get()))
        FieldDR = evo::call(evo::np_attr(evo::names.ascontiguousarray).get(), FieldDR.get());
    const evo::Array lbs = field_row(FieldDR.get(), 0, evo::Elem::f64);
    const evo::Array ubs = field_row(FieldDR.get(), 1, evo::Elem::f64);
    const evo::Array varTypes = field_row(FieldDR.get(), 2, evo::Elem::i32);

    const Py_ssize_t rows = evo::index_value(Nind), Lind = evo::index_value(c.shape[1].get());
    evo::Output Chrom = evo::Output::empty({rows, Lind}, evo::Elem::f64);
    double* out = Chrom.out_matrix(rows, Lind);
    // The kernel widens the discrete bounds in place: in copies of the rows, never in FieldDR.
    const double* lb = lbs.vector(Lind);
    const double* ub = ubs.vector(Lind);
    std::vector<double> lb_copy(lb, lb + Lind), ub_copy(ub, ub + Lind);
    const int* types = varTypes.ivector(Lind);
    const int n = evo::to_int(rows), L = evo::to_int(Lind);
    evo::unlocked((std::int64_t)n * L, [&] { kernel(out, n, L, lb_copy.data(), ub_copy.data(), types); });

    bool float_flag = false;
    for (Py_ssize_t i = 0; i < Lind && !float_flag; ++i) float_flag = types[i] == 0;
    evo::Ref result = evo::Ref::steal(Chrom.release());
    if (float_flag) return result.release();
    return evo::call_method(result.get(), evo::names.astype, evo::np_attr(evo::names.int32).get()).release();
}

}  // namespace tamsen_call
