#pragma once

#include "_forms.hpp"

// Distance kernels over row-major float64 matrices.  Every entry is one sum taken over k = 0 ...
// dim-1 in order, started at 0.0; the Euclidean entries are its square root.  Parallel 1 splits
// the rows of A over a team, 0 runs them on the calling thread, any other value writes nothing.

// C[i*row_b + j] = Euclidean distance of row i of A and row j of B.
void _polvane_eu(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel);

// Euclidean distances among the rows of A: each pair (i, j >= i) is computed once and written at
// (i, j) and (j, i), so the result is exactly symmetric.
void _polvane_eu_self(const double* A, double* C, int row_a, int dim, int Parallel);

// C[i*row_b + j] = city-block distance of row i of A and row j of B.
void _polvane_ci(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel);

// City-block distances among the rows of A, written symmetrically.
void _polvane_ci_self(const double* A, double* C, int row_a, int dim, int Parallel);

// Row i of C = row i of A divided by its Euclidean norm (a zero row gives 0/0 = NaN).
void _polvane_cos_normalize(const double* A, double* C, int row_a, int dim, int Parallel);

// r[i*Lind + j] = a - b[i*Lind + j]; r may be b itself.
void num_sub_matrix(double a, const double* b, double* r, int Nind, int Lind, int Parallel);

// The forms of the Euclidean and city-block kernels: the tiled loops for AVX-512, AVX2 and the
// x86-64 baseline, and the plain loop.
evo::FormChoice& _polvane_forms();
