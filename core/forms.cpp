// _forms: the kernels that pick a form by processor, form by form (for the benchmark and the tests;
// not re-exported by evocore).
//   _forms()                                      -> ((kernel, compiled, supported, picked), ...)
//   _forms(kernel, form, A, B=None, Parallel=False) -> the kernel's result, computed by that form
// `compiled` and `supported` are tuples of form names, widest first; `picked` is the form the
// operator runs on this processor.  The kernels are _polvane_eu and _polvane_ci (A against B),
// _polvane_eu_self and _polvane_ci_self (A against itself; B is not read), _velkor (A is Phen, B
// is FieldD with lengths 0 to 31), sarnet's gene_range (A an int32 matrix with elements; the
// result is the int32 row [smallest, largest]) and _associate (A is ObjV, B refpoints; the result
// is the pair (index, distance)).  Other arrays are taken as C-contiguous float64
// matrices.
#include <new>
#include <vector>

#include "../frame/values.hpp"

#include "_associate.hpp"
#include "_polvane.hpp"
#include "_sarnet.hpp"
#include "_velkor.hpp"

namespace {

const char* const kDoc = "The forms of the kernels that pick one by processor, and any of them run on arrays.";

#define PARAMS(ENTRY) \
    ENTRY(KERNEL, evo::optional("kernel")) \
    ENTRY(FORM, evo::optional("form")) \
    ENTRY(A_, evo::optional("A")) \
    ENTRY(B_, evo::optional("B")) \
    ENTRY(PARALLEL, evo::optional_false("Parallel"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_PARALLEL, "error in _forms: Parallel must be None, True or False.") \
    ENTRY(M_KERNEL, "error in _forms: kernel must be _polvane_eu, _polvane_eu_self, _polvane_ci, _polvane_ci_self, _velkor, " \
      "gene_range or _associate.") \
    ENTRY(M_FORM, "error in _forms: form must be one of the kernel's forms that this processor supports.") \
    ENTRY(M_COLUMNS, "error in _forms: A and B must have the same number of columns.") \
    ENTRY(M_FIELDD, "error in _forms: FieldD must have 8 rows, one column per column of Phen and lengths 0 to 31.") \
    ENTRY(M_GENES, "error in _forms: gene_range needs a matrix with elements.") \
    ENTRY(M_LENGTH, "error in _forms: every row of B must have a positive finite length.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError", "MemoryError"};

enum Kind { POLVANE, VELKOR, GENES, ASSOCIATE };
struct Kernel {
    const char* name;
    Kind kind;
    int metric;  // polvane's 0 (Euclidean) or 1 (city-block)
    bool self;
};
const Kernel kKernels[] = {{"_polvane_eu", POLVANE, 0, false}, {"_polvane_eu_self", POLVANE, 0, true},
                           {"_polvane_ci", POLVANE, 1, false}, {"_polvane_ci_self", POLVANE, 1, true},
                           {"_velkor", VELKOR, 0, false},      {"gene_range", GENES, 0, false},
                           {"_associate", ASSOCIATE, 0, false}};

FormTable forms_of(const Kernel& k) {
    switch (k.kind) {
        case POLVANE: return _polvane_forms();
        case VELKOR: return _velkor_forms();
        case GENES: return gene_range_forms();
        default: return _associate_forms();
    }
}

evo::Ref text(const char* s) { return evo::Ref::steal(PyUnicode_FromString(s)); }

// The tuple of the names of the forms `keep` selects.
template <class Keep>
evo::Ref names(const FormTable& t, Keep keep) {
    int n = 0;
    for (int f = 0; f < t.count; ++f) n += keep(f);
    evo::Ref tuple = evo::Ref::steal(PyTuple_New(n));
    for (int f = 0, i = 0; f < t.count; ++f)
        if (keep(f)) PyTuple_SET_ITEM(tuple.get(), i++, text(t.name[f]).release());
    return tuple;
}

evo::Ref report() {
    constexpr int n = sizeof kKernels / sizeof kKernels[0];
    evo::Ref out = evo::Ref::steal(PyTuple_New(n));
    for (int k = 0; k < n; ++k) {
        const FormTable t = forms_of(kKernels[k]);
        const evo::Ref compiled = names(t, [](int) { return true; });
        const evo::Ref supported = names(t, [&](int f) { return t.supported[f]; });
        PyObject* row = evo::check(PyTuple_Pack(4, text(kKernels[k].name).get(), compiled.get(), supported.get(),
                                                text(t.name[t.picked]).get()));
        PyTuple_SET_ITEM(out.get(), k, row);
    }
    return out;
}

PyObject* distances(const Kernel& k, int form, PyObject* A, PyObject* B, int Parallel) {
    evo::Array Am = evo::ndarray_argument(A, evo::Elem::f64, 2);
    const Py_ssize_t ra = Am.dim(0), dim = Am.dim(1);
    evo::Array Bm;
    if (!k.self) {
        Bm = evo::ndarray_argument(B, evo::Elem::f64, 2);
        if (Bm.dim(1) != dim) evo::fail(M_COLUMNS);
    }
    const Py_ssize_t rb = k.self ? ra : Bm.dim(0);
    evo::Array C = evo::Array::empty({ra, rb}, evo::Elem::f64);
    const double* a = Am.matrix(ra, dim);
    _polvane_form(form, k.metric, k.self, a, k.self ? a : Bm.matrix(rb, dim), C.out_matrix(ra, rb), evo::to_int(ra),
                  evo::to_int(rb), evo::to_int(dim), Parallel);
    return C.release();
}

PyObject* encode(int form, PyObject* Phen, PyObject* FieldD, int Parallel) {
    evo::Array P = evo::ndarray_argument(Phen, evo::Elem::f64, 2);
    evo::Array F = evo::ndarray_argument(FieldD, evo::Elem::f64, 2);
    const Py_ssize_t Nind = P.dim(0), Nvar = P.dim(1);
    if (F.dim(0) != 8 || F.dim(1) != Nvar) evo::fail(M_FIELDD);
    const double* f = F.matrix(8, Nvar);
    // Rows 0 (lengths), 3 (codes), 5 and 6 (bounds included), 7 (variable types) as integers.
    std::vector<int> rows[8];
    Py_ssize_t Lind = 0;
    for (int r : {0, 3, 5, 6, 7})
        for (Py_ssize_t j = 0; j < Nvar; ++j) rows[r].push_back((int)f[r * Nvar + j]);
    for (int len : rows[0]) {
        if (len < 0 || len > 31) evo::fail(M_FIELDD);
        Lind += len;
    }
    evo::Array Chrom = evo::Array::empty({Nind, Lind}, evo::Elem::i32);
    if (!_velkor_form(form, P.matrix(Nind, Nvar), evo::to_int(Nind), evo::to_int(Lind), rows[0].data(), f + Nvar,
                      f + 2 * Nvar, rows[3].data(), rows[5].data(), rows[6].data(), rows[7].data(),
                      Chrom.out_imatrix(Nind, Lind), evo::to_int(Nvar), Parallel))
        throw std::bad_alloc();
    return Chrom.release();
}

PyObject* genes(int form, PyObject* Chrom) {
    evo::Array G = evo::ndarray_argument(Chrom, evo::Elem::i32, 2);
    const Py_ssize_t rows = G.dim(0), cols = G.dim(1);
    if (rows * cols == 0) evo::fail(M_GENES);
    evo::Array range = evo::Array::empty({1, 2}, evo::Elem::i32);
    int* out = range.out_imatrix(1, 2);
    gene_range_form(form, G.imatrix(rows, cols), rows * cols, out, out + 1);
    return range.release();
}

PyObject* association(int form, PyObject* ObjV, PyObject* refpoints) {
    evo::Array F = evo::ndarray_argument(ObjV, evo::Elem::f64, 2);
    evo::Array W = evo::ndarray_argument(refpoints, evo::Elem::f64, 2);
    const Py_ssize_t Nind = F.dim(0), M = F.dim(1), K = W.dim(0);
    if (W.dim(1) != M) evo::fail(M_COLUMNS);
    evo::Array index = evo::Array::empty({Nind}, evo::Elem::i32);
    evo::Array distance = evo::Array::empty({Nind}, evo::Elem::f64);
    if (!_associate_form(form, F.matrix(Nind, M), evo::to_int(Nind), evo::to_int(M), W.matrix(K, M), evo::to_int(K),
                         index.out_ivector(Nind), distance.out_vector(Nind)))
        evo::fail(M_LENGTH);
    return evo::pair(evo::Ref::steal(index.release()), evo::Ref::steal(distance.release())).release();
}

const int kLine = __LINE__ + 1;
PyObject* forms(evo::Args& a) {
    const int Parallel = evo::bool_switch(a[PARALLEL], M_PARALLEL);
    if (a.is_none(KERNEL)) return report().release();
    const Kernel* k = nullptr;
    for (const Kernel& each : kKernels)
        if (evo::is_equal(a[KERNEL], text(each.name).get())) k = &each;
    if (k == nullptr) evo::fail(M_KERNEL);
    const FormTable t = forms_of(*k);
    int form = 0;
    while (form < t.count && !(t.supported[form] && evo::is_equal(a[FORM], text(t.name[form]).get()))) ++form;
    if (form == t.count) evo::fail(M_FORM);
    if (k->kind == VELKOR) return encode(form, a[A_], a[B_], Parallel);
    if (k->kind == GENES) return genes(form, a[A_]);
    if (k->kind == ASSOCIATE) return association(form, a[A_], a[B_]);
    return distances(*k, form, a[A_], a[B_], Parallel);
}

const evo::Module kModule =
    evo::operator_module("_forms", "core/forms.cpp", kLine, kDoc, kParams, kMessages, kBuiltins, forms);

}  // namespace

EVOCORE_MODULE(_forms, kModule)
