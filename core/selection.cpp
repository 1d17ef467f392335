// _selection: the selection steps of evocore.algorithms' elitist algorithms (not re-exported).
//   _selection("tournament", keys, violation, W=None, crowd=None, winners=None) -> the winners
//       (int32) of `winners` binary tournaments (half the keys when None): the competitors are
//       the rows of keys each sorted (the order of np.argsort, a tie by position), one after the
//       other, tournament t being the (2t)-th against the (2t + 1)-th.  The winners of the even
//       tournaments come first, then those of the odd ones, so that the first half mates with
//       the second.  W (a row of objective values a candidate) and crowd (a crowding distance
//       each) come together or not at all.
//   _selection("order", levels, crowd, rand, first=None) -> the first `first` rows (int32; all
//       of them when None) by increasing level, then decreasing crowding distance, then
//       increasing rand, then index: those of NumPy's np.lexsort((rand, -crowd, levels)), NaN
//       after every number of its key.
//   _selection("niching", count, counts, index, distance, rand) -> the `count` rows (int32) of
//       a front that NSGA-III's niching takes, in the order taken: row r is associated with
//       direction index[r] at distance[r], counts[j] is direction j's members so far, and rand
//       holds a uniform number per row and then one per direction (the random choices).
// Every array is coerced to C-contiguous and never written.  Checks, in this order: step, then
// the step's arrays from left to right.
#include "../frame/values.hpp"
#include "_selection.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

const char* const kDoc = "The selection steps of evocore.algorithms: _selection(step, a, b, c, d, e).";

#define PARAMS(ENTRY) \
    ENTRY(STEP, evo::required("step")) \
    ENTRY(A, evo::required("a")) \
    ENTRY(B, evo::required("b")) \
    ENTRY(C, evo::optional("c")) \
    ENTRY(D, evo::optional("d")) \
    ENTRY(E, evo::optional("e"))
EVOCORE_PARAMS(PARAMS);

#define MESSAGES(ENTRY) \
    ENTRY(M_STEP, "error in _selection: step must be 'tournament', 'order' or 'niching'.") \
    ENTRY(M_KEYS, "error in _selection: keys must be a 2-D Numpy ndarray with one column per entry of violation.") \
    ENTRY(M_WINNERS, "error in _selection: winners must be None or an int from 0 to half the number of keys.") \
    ENTRY(M_VIOLATION, "error in _selection: violation must be a 1-D Numpy ndarray.") \
    ENTRY(M_W, "error in _selection: W must be None or a 2-D Numpy ndarray with one row per entry of violation.") \
    ENTRY(M_CROWD, "error in _selection: crowd must be a 1-D Numpy ndarray with one entry per row, given with W.") \
    ENTRY(M_LEVELS, "error in _selection: levels must be a 1-D Numpy ndarray.") \
    ENTRY(M_RAND, "error in _selection: rand must be a 1-D Numpy ndarray with one entry per row.") \
    ENTRY(M_FIRST, "error in _selection: first must be None or an int from 0 to the number of rows.") \
    ENTRY(M_COUNT, "error in _selection: count must be an int from 0 to the number of rows of index.") \
    ENTRY(M_COUNTS, "error in _selection: counts must be a 1-D Numpy ndarray, a count per direction.") \
    ENTRY(M_INDEX, "error in _selection: index must be a 1-D Numpy ndarray of directions, each below the length of counts.") \
    ENTRY(M_DISTANCE, "error in _selection: distance must be a 1-D Numpy ndarray with one entry per entry of index.") \
    ENTRY(M_NICHE_RAND, "error in _selection: rand must be a 1-D Numpy ndarray with one entry per entry of index and of counts.")
EVOCORE_MESSAGES(MESSAGES);

const char* const kBuiltins[] = {"RuntimeError"};

// A 1-D float64 array of `n` entries (any length when n < 0).
evo::Array vector(PyObject* obj, Py_ssize_t n, int msg) {
    if (!evo::is_ndarray(obj) || evo::ndim_differs(obj, 1) || (n >= 0 && evo::length(obj) != n)) evo::fail(msg);
    return evo::Array::coerce(obj, evo::Elem::f64, 1);
}

PyObject* tournament(PyObject* keys_, PyObject* violation_, PyObject* W_, PyObject* crowd_, PyObject* winners_) {
    evo::require_ndarray(keys_, 2, M_KEYS);
    evo::Array keys = evo::Array::coerce(keys_, evo::Elem::f64, 2);
    evo::Array violation = vector(violation_, -1, M_VIOLATION);
    const Py_ssize_t N = violation.dim(0), rounds = keys.dim(0);
    if (keys.dim(1) != N) evo::fail(M_KEYS);
    evo::Array w, crowd;
    if (W_ != Py_None) {
        if (!evo::is_ndarray(W_) || evo::ndim_differs(W_, 2) || evo::length(W_) != N) evo::fail(M_W);
        w = evo::Array::coerce(W_, evo::Elem::f64, 2);
    }
    if ((W_ == Py_None) != (crowd_ == Py_None)) evo::fail(M_CROWD);
    if (crowd_ != Py_None) crowd = vector(crowd_, N, M_CROWD);
    Py_ssize_t count = rounds * N / 2;
    if (winners_ != Py_None) {
        if (!evo::is_int(winners_) || evo::int_sign_against(winners_, 0) < 0 ||
            evo::int_sign_against(winners_, count) > 0)
            evo::fail(M_WINNERS);
        count = evo::int_value(winners_);
    }

    const Py_ssize_t M = w ? w.dim(1) : 0;
    evo::Output out = evo::Output::empty({count}, evo::Elem::i32);
    std::vector<int> pairs((std::size_t)(rounds * N));
    std::vector<order::Item> items((std::size_t)N);
    _pairings(keys.matrix(rounds, N), evo::to_int(rounds), evo::to_int(N), pairs.data(), items.data());
    _tournament(pairs.data(), evo::to_int(count), violation.vector(N), w ? w.matrix(N, M) : nullptr, evo::to_int(M),
                crowd ? crowd.vector(N) : nullptr, out.out_ivector(count));
    return out.release();
}

PyObject* order(PyObject* levels_, PyObject* crowd_, PyObject* rand_, PyObject* first_) {
    evo::Array levels = vector(levels_, -1, M_LEVELS);
    const Py_ssize_t N = levels.dim(0);
    evo::Array crowd = vector(crowd_, N, M_CROWD);
    evo::Array rand = vector(rand_, N, M_RAND);
    Py_ssize_t first = N;
    if (first_ != Py_None) {
        if (!evo::is_int(first_) || evo::int_sign_against(first_, 0) < 0 || evo::int_sign_against(first_, N) > 0)
            evo::fail(M_FIRST);
        first = evo::int_value(first_);
    }
    evo::Output out = evo::Output::empty({first}, evo::Elem::i32);
    std::vector<int> rows((std::size_t)N);
    _order(levels.vector(N), crowd.vector(N), rand.vector(N), evo::to_int(N), evo::to_int(first), rows.data());
    std::copy(rows.begin(), rows.begin() + first, out.out_ivector(first));
    return out.release();
}

PyObject* niching(PyObject* count_, PyObject* counts_, PyObject* index_, PyObject* distance_, PyObject* rand_) {
    if (!evo::is_int(count_) || evo::int_sign_against(count_, 0) < 0) evo::fail(M_COUNT);
    evo::Array counts = vector(counts_, -1, M_COUNTS);
    const Py_ssize_t K = counts.dim(0);
    if (!evo::is_ndarray(index_) || evo::ndim_differs(index_, 1)) evo::fail(M_INDEX);
    evo::Array index = evo::Array::coerce(index_, evo::Elem::i32, 1);
    const Py_ssize_t N = index.dim(0);
    if (evo::int_sign_against(count_, N) > 0) evo::fail(M_COUNT);
    const int* direction = index.ivector(N);
    for (Py_ssize_t r = 0; r < N; ++r)
        if (direction[r] < 0 || direction[r] >= K) evo::fail(M_INDEX);
    const double* c = counts.vector(K);
    for (Py_ssize_t j = 0; j < K; ++j)
        if (!(c[j] >= 0.0 && c[j] <= (double)INT32_MAX - (double)N)) evo::fail(M_COUNTS);  // room for N more
    evo::Array distance = vector(distance_, N, M_DISTANCE);
    evo::Array rand = vector(rand_, N + K, M_NICHE_RAND);
    const int count = evo::int_value(count_);
    evo::Output out = evo::Output::empty({count}, evo::Elem::i32);
    std::vector<int> scratch((std::size_t)(3 * K + 2 * N + 1));
    _niching(count, c, direction, distance.vector(N), rand.vector(N + K), evo::to_int(N), evo::to_int(K),
             out.out_ivector(count), scratch.data());
    return out.release();
}

const int kLine = __LINE__ + 1;
PyObject* selection(evo::Args& a) {
    if (evo::is_step(a[STEP], "tournament")) return tournament(a[A], a[B], a[C], a[D], a[E]);
    if (evo::is_step(a[STEP], "order")) return order(a[A], a[B], a[C], a[D]);
    if (evo::is_step(a[STEP], "niching")) return niching(a[A], a[B], a[C], a[D], a[E]);
    evo::fail(M_STEP);
}

const evo::Module kModule = evo::operator_module("_selection", "core/selection.cpp", kLine, kDoc, kParams,
                                                   kMessages, kBuiltins, selection);

}  // namespace

EVOCORE_MODULE(_selection, kModule)
