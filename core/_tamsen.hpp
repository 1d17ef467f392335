#pragma once

#include <cstdint>

// Fills the Nind x Lind float64 matrix Chrom with values drawn uniformly between lbs[j] and
// ubs[j], rounded where varTypes[j] is 1 (whose bounds are first widened by 0.499999 in lbs and
// ubs).  Serially one generator seeded with randDelta draws the matrix in row order; in parallel
// row r draws from a generator seeded with randDelta + r.  Throws std::bad_alloc when its table
// cannot be allocated (before anything is written).
void _tamsen(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
             int Parallel);


// Rows row0 .. row0 + Nind - 1 of the parallel form of _tamsen (row r seeded with randDelta + r),
// written to the Nind x Lind matrix Chrom from its first row: a block of rows drawn on its own.
void _tamsen_rows(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
                  std::int64_t row0);
