// _tamsen_rows: tamsen's parallel form one block of rows at a time (evocore.dask's entry).
//   _tamsen_rows(Nind, FieldDR, Parallel)                  -> randDelta, after tamsen's own checks
//   _tamsen_rows(Nind, FieldDR, Parallel, randDelta, row0) -> rows row0 .. row0 + Nind - 1
// The first form checks the arguments in tamsen's order and draws randDelta as tamsen does; the
// second gives the rows that tamsen(..., Parallel=True) with that randDelta has there.
#include "_tamsen.hpp"
#include "_tamsen_call.hpp"

namespace {

const char* const kDoc = "Rows row0 .. row0 + Nind - 1 of tamsen(..., Parallel=True) drawn with randDelta.";

#define PARAMS(ENTRY)                            \
    EVOCORE_TAMSEN_PARAMS(ENTRY)                 \
    ENTRY(RANDDELTA, evo::optional("randDelta")) \
    ENTRY(ROW0, evo::optional_int("row0", 0))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY)            \
    EVOCORE_TAMSEN_MESSAGES(ENTRY) \
    ENTRY(M_ROW0, "error in _tamsen_rows: row0 must be an integer >= 0.")
EVOCORE_MESSAGES(MESSAGES);

using namespace tamsen_call;

const int kLine = __LINE__ + 1;
PyObject* tamsen_rows(evo::Args& a) {
    const Checked c = check(a[NIND], a[FIELDDR], a[PARALLEL], EVOCORE_TAMSEN_GROUP);
    if (a.is_none(RANDDELTA)) return evo::integer(evo::draw_rand_delta()).release();

    const int randDelta = evo::as_int(a[RANDDELTA]);
    PyObject* row0 = a[ROW0];
    if (!evo::is_int(row0) || evo::less_equal(row0, evo::integer(-1).get())) evo::fail(M_ROW0);
    const Py_ssize_t first = evo::index_value(row0);
    return population(a[NIND], a[FIELDDR], c, [&](double* Chrom, int Nind, int Lind, double* lbs, double* ubs,
                                                  const int* varTypes) {
        _tamsen_rows(Chrom, Nind, Lind, lbs, ubs, varTypes, randDelta, first);
    });
}

const evo::Module kModule = evo::operator_module("_tamsen_rows", "core/tamsen_rows.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, tamsen_rows, make_constants);

}  // namespace

EVOCORE_MODULE(_tamsen_rows, kModule)
