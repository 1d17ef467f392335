#pragma once

// Fills the Nind x Lind float64 matrix Chrom with values drawn uniformly between lbs[j] and
// ubs[j], rounded where varTypes[j] is 1 (whose bounds are first widened by 0.499999 in lbs and
// ubs).  Serially one generator seeded with randDelta draws the matrix in row order; in parallel
// row r draws from a generator seeded with randDelta + r.  Throws std::bad_alloc when its table
// cannot be allocated (before anything is written).
void _tamsen(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
             int Parallel);
