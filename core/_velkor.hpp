#pragma once

#include "_forms.hpp"

// Encodes the Nind x Nvar phenotype matrix Phen into the Nind x Lind 0/1 matrix Chrom: variable j
// takes lens[j] digits (most significant first) of its code, in plain binary when codes[j] is 0
// and in Gray code otherwise.  The code of x is int32(fenmus1 * (x - lb) / |ub - lb| + 0.5) for a
// discrete variable (varTypes[j] non-zero) and int32(fenmus * (x - lb) / |ub - lb| - nums) for a
// continuous one, with fenmus1 = 2^len - 1, fenmus = 2^len + 1 - lbin - ubin and nums = 1 when lb
// is excluded (lbins[j] == 0), else 0; a value that is not a number or truncates outside the int32
// range becomes -2^31.  Digit k of code v is (v / 2^(len-1-k)) % 2 in C's integer arithmetic (so a
// negative code gives digits 0 and -1); a Gray digit is that digit XOR the one before it.
//
// The lengths must lie in 0..31 and add up to Lind; otherwise nothing is written.  Parallel 1
// splits the rows over a team, 0 runs them on the calling thread.  Returns false, with nothing
// written, when the per-call tables cannot be allocated.
bool _velkor(const double* Phen, int Nind, int Lind, const int* lens, const double* lbs, const double* ubs,
             const int* codes, const int* lbins, const int* ubins, const int* varTypes, int* Chrom, int Nvar,
             int Parallel);

// The forms of the row encoder: 8 digits at a time for AVX2, 4 for the x86-64 baseline.
evo::FormChoice& _velkor_forms();

// 1 as soon as one of the first Nvar lengths is greater than 31, else 0.
int checkLen(const int* lens, int Nvar);

// 1 as soon as one of the first Nvar lengths is negative, else 0.
int checkLenNegative(const int* lens, int Nvar);
