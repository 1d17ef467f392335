#pragma once

// The variation of real-coded rows for evocore.algorithms: simulated binary crossover and
// polynomial mutation, each value computed as the NumPy expressions of their description do,
// with the uniform numbers in [0, 1) that the caller draws from its run's generator in `rand`.
// Powers with a whole exponent are products by repeated squaring (the bits of
// evocore.algorithms._shared._power), the others std::pow.  Rows are row-major with d columns;
// lb and ub hold one bound per column.

// SBX of pairs (P1[i], P2[i]), i < n: C gets the first children in rows 0 .. n-1 and the second
// ones in rows n .. 2n-1.  rand has 3d + 1 numbers a pair: whether the pair is crossed
// (rand < prob), then per variable whether it is crossed (< 0.5, where the parents differ by more
// than 1e-14), its spread and whether the children swap (< 0.5).
void _sbx(const double* P1, const double* P2, int n, int d, const double* lb, const double* ub,
          const double* rand, int eta, double prob, double* C);

// Polynomial mutation of the rows of X (N x d) into Y: per variable two numbers of rand, whether
// it mutates (< 1/d) and the step.
void _mutation(const double* X, int N, int d, const double* lb, const double* ub, const double* rand, int eta,
               double* Y);

// The children of the n pairs (P1[i], P2[i]): SBX as _sbx (crossover index eta_c, pairs crossed
// with probability prob), then the first `rows` (n < rows <= 2n, first children then second
// ones) mutated as _mutation (index eta_m) into Y; rand holds the n (3d + 1) numbers of the
// crossover and then the rows * 2d of the mutation.  copies[r] is 1 when child r equals its
// parent (P1[r], or P2[r - n]) in every variable, else 0.  `scratch` holds 2n * d values.
void _offspring(const double* P1, const double* P2, int n, int d, const double* lb, const double* ub,
                const double* rand, int eta_c, double prob, int eta_m, int rows, double* Y, int* copies,
                double* scratch);
