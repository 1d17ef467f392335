#pragma once

// Non-dominated sorting of the rows of ObjV (Nind x M, row-major) under unified minimisation:
// ObjV times maxormins (M int entries, or null for all 1), compared with -0.0 equal to +0.0.
//
// A row's violation is the sum, from the left, of its CV entries above 0 (CV is Nind x CVNum, or
// null); a NaN in its working row or in its CV row makes it +inf.  Rows of violation 0 are
// sorted into fronts by dominance; the others follow, one front per distinct violation, in
// ascending order.  Fronts are ranked in order until at least needNum rows are ranked (needNum 0:
// all rows); levels[i] receives 1.0 for the first front, 2.0 for the second, ..., and +inf for the
// rows left unranked.  Returns the number of fronts ranked.
//
// Parallel 1 computes the dominance relation of four or more objectives block by block on the
// thread team (the same levels); 0 runs everything on the calling thread; any other value writes
// nothing and returns 0.  Scratch memory that cannot be allocated throws std::bad_alloc before
// anything is written to levels.
int _ndsort(const double* ObjV, int Nind, int M, const int* maxormins, const double* CV, int CVNum, int needNum,
            double* levels, int Parallel);
