// Column folds of a row-major matrix: out[j] = step(...step(step(X[0][j], X[1][j]), X[2][j])..., X[N-1][j]).
//
// The rows are walked in order, so a fold has exactly the bits of the plain loop.  To keep several
// independent chains in flight, the rows are cut into a few contiguous blocks that are walked side
// by side; block 0 starts from row 0, every later block from the step's identity, and the block
// results are then folded into block 0's in block order.  That equals the plain loop whenever
// fold(A ++ B) == step(fold(A), fold_from_identity(B)), which holds for the steps below (each is
// proven in its comment).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace evo {

// NumPy's minimum, as its reduction over the rows of a matrix of several columns applies it (a
// single column NumPy reduces in vector lanes, with a choice between zeros that depends on the
// processor; this rule is the same everywhere): a NaN accumulator stays, a NaN element enters, and
// between equal values (+0.0 and -0.0) the later one is kept.  The fold is the first NaN of the
// column if it has one, else its minimum, the latest on ties: folding a second block's result in
// with the same step gives the same.  +inf is an identity (step(+inf, x) is x for every x).
struct NumpyMin {
    static constexpr double identity = std::numeric_limits<double>::infinity();
    static double step(double acc, double x) { return (acc < x) | (acc != acc) ? acc : x; }
};

// The mirror image of NumpyMin, for np.max; -inf is its identity.
struct NumpyMax {
    static constexpr double identity = -std::numeric_limits<double>::infinity();
    static double step(double acc, double x) { return (acc > x) | (acc != acc) ? acc : x; }
};

// The running maximum replaced only by a strictly greater value: a NaN in row 0 stays, a later NaN
// is passed over, and ties keep the earlier value.  A block started from -inf holds the earliest of
// its largest numbers (or -inf), and a strictly greater one of those replaces the earlier result
// exactly as the plain loop would have.
struct StrictMax {
    static constexpr double identity = -std::numeric_limits<double>::infinity();
    static double step(double acc, double x) { return x > acc ? x : acc; }
};

namespace detail {

inline constexpr int kBlocks = 4;

// Blocks of rows walked side by side with MC columns known at compile time.  Block 0 starts from
// row 0, or (Seeded) from the values in `out` with row 0 as its first step.
template <class Rule, bool Seeded, int MC>
void fold_small(const double* X, std::int64_t N, double* out) {
    constexpr int B = kBlocks;
    std::int64_t start[B + 1];
    for (int b = 0; b <= B; ++b) start[b] = N * b / B;
    double acc[B][MC];
    for (int j = 0; j < MC; ++j) acc[0][j] = Seeded ? out[j] : X[j];
    for (int b = 1; b < B; ++b)
        for (int j = 0; j < MC; ++j) acc[b][j] = Rule::identity;
    std::int64_t first[B];
    first[0] = Seeded ? 0 : 1;
    for (int b = 1; b < B; ++b) first[b] = start[b];
    // The shortest block's length, then each block's own tail.
    std::int64_t common = start[1] - first[0];
    for (int b = 1; b < B; ++b)
        if (start[b + 1] - first[b] < common) common = start[b + 1] - first[b];
    for (std::int64_t i = 0; i < common; ++i)
        for (int b = 0; b < B; ++b) {
            const double* row = X + (first[b] + i) * MC;
            for (int j = 0; j < MC; ++j) acc[b][j] = Rule::step(acc[b][j], row[j]);
        }
    for (int b = 0; b < B; ++b)
        for (std::int64_t r = first[b] + common; r < start[b + 1]; ++r)
            for (int j = 0; j < MC; ++j) acc[b][j] = Rule::step(acc[b][j], X[r * MC + j]);
    for (int j = 0; j < MC; ++j) {
        double v = acc[0][j];
        for (int b = 1; b < B; ++b) v = Rule::step(v, acc[b][j]);
        out[j] = v;
    }
}

// One pass over the rows with the columns side by side (vectorised across columns).
template <class Rule, bool Seeded>
void fold_wide(const double* X, std::int64_t N, std::int64_t M, double* out) {
    if (!Seeded)
        for (std::int64_t j = 0; j < M; ++j) out[j] = X[j];
    for (std::int64_t i = Seeded ? 0 : 1; i < N; ++i) {
        const double* row = X + i * M;
        for (std::int64_t j = 0; j < M; ++j) out[j] = Rule::step(out[j], row[j]);
    }
}

template <class Rule, bool Seeded, int MC = 1>
void fold_dispatch(const double* X, std::int64_t N, std::int64_t M, double* out) {
    if constexpr (MC <= 8) {
        if (M == MC) return fold_small<Rule, Seeded, MC>(X, N, out);
        return fold_dispatch<Rule, Seeded, MC + 1>(X, N, M, out);
    } else {
        fold_wide<Rule, Seeded>(X, N, M, out);
    }
}

template <class Rule, bool Seeded>
void fold(const double* X, std::int64_t N, std::int64_t M, double* out) {
    if (N < 1 || M < 1) return;
    if (N < 4 * kBlocks) return fold_wide<Rule, Seeded>(X, N, M, out);
    fold_dispatch<Rule, Seeded>(X, N, M, out);
}

}  // namespace detail

// out[0..M) = the column folds of the N x M matrix X (N >= 1) under Rule.
template <class Rule>
void fold_columns(const double* X, std::int64_t N, std::int64_t M, double* out) {
    detail::fold<Rule, false>(X, N, M, out);
}

// The folds carried on over the rows of X from the values in out[0..M), as if X's rows followed
// the rows whose folds `out` holds (out is left as it is when X has no rows).  From the Rule's
// identity, the fold of a block of rows that does not begin the matrix.
template <class Rule>
void fold_columns_into(const double* X, std::int64_t N, std::int64_t M, double* out) {
    detail::fold<Rule, true>(X, N, M, out);
}

}  // namespace evo
