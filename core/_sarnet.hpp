#pragma once

#include <cstdint>

#include "_forms.hpp"

// The smallest and largest of the n > 0 genes g[0..n-1].
void gene_range(const int* g, std::int64_t n, int* lo, int* hi);

// gene_range of the n > 0 genes g[0..n-1], taken from a copy of them made in to[0..n-1]: the
// range describes the copy even when g changes meanwhile.  Parallel 1 copies parts of a large
// matrix on the team.
void gene_copy(const int* g, std::int64_t n, int* to, int* lo, int* hi, int Parallel);

// The forms of the permutation kernels: AVX-512 (the range scan and the order-crossover child of
// a gene range of at most 512 values), AVX2 (the range scan) and the x86-64 baseline.
evo::FormChoice& permutation_forms();

// 1 when no row of the (Nind x Lind) matrix repeats a value, 0 otherwise (also 1 when there are
// no rows); -1 when the scratch memory could not be had.  Every gene must lie in Lb..Ub (as
// gene_range tells), here and in the crossover kernels.
int _check_permutation(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int Parallel);

// Order crossover of the pairs (row i, row i + Nind/2): a pair crosses when pc > rand()*2^-31.
// _sarnet writes both children of every pair (Nind rows; an odd last row is copied),
// _sarnet_half the first child only (Nind/2 rows).  Serially the generator is seeded once with
// randDelta, in parallel with randDelta + i before pair i.  The genes must have passed
// _check_permutation with the same Lb and Ub.  False when the scratch memory could not be had
// (NewChrom is then incomplete).
bool _sarnet(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, double pc, int randDelta,
             int Parallel);
bool _sarnet_half(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, double pc, int randDelta,
                  int Parallel);

// Global order crossover: Num children, each of two distinct parents drawn from all Nind rows.
// Serially the generator is seeded with randDelta and one value is dropped; in parallel it is
// seeded with randDelta + c before child c.  Same conditions and result as _sarnet.
bool _sarnet_gb(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, int Num, int randDelta,
                int Parallel);
