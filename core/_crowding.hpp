#pragma once

// The crowding distance of every row of ObjV (Nind x M, row-major) within its front: the rows of
// one finite value of levels form a front.  A front of one or two rows gives every row inf.
// Otherwise each row's distance starts at 0.0 and, objective by objective from the left, the
// front's rows are ordered by that objective (NaN after every number, ties by row index); unless
// the first and the last of that order have equal values, these two become inf and every row
// between adds (next - previous) / (largest - smallest), computed in that order.  Rows whose level
// is not finite get 0.  Scratch memory that cannot be allocated throws std::bad_alloc.
void _crowding(const double* ObjV, int Nind, int M, const double* levels, double* distance);
