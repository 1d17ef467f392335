#pragma once

// violation[i] = the sum, in column order from 0.0, of the entries of row i of CV (Nind x col)
// that are strictly greater than `threshold`.  Returns, when return_count is 1, the number of
// rows whose sum is at most `threshold`; else -1.
int _fendrik_type1(const double* CV, int Nind, int col, double* violation, double threshold, int return_count,
                   int Parallel);

// As _fendrik_type1 with one threshold per column (threshold[j] for column j); the count is of
// the rows whose sum is at most 0.
int _fendrik_type2(const double* CV, int Nind, int col, double* violation, const double* threshold,
                   int return_count, int Parallel);
