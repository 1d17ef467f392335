#pragma once

// violation[i] = the sum, in column order from 0.0, of the entries of row i of CV (Nind x col)
// that are strictly greater than 0.  Returns, when return_count is 1, the number of rows whose
// sum is at most `threshold`; else -1.  Parallel 1 merges the rows on the thread team (the count
// is then taken on the calling thread afterwards); any other value merges them on the calling
// thread.
int _fendrik_type1(const double* CV, int Nind, int col, double* violation, double threshold, int return_count,
                   int Parallel);

// As _fendrik_type1, an entry being added when it is strictly greater than its column's
// threshold[j]; the count is of the rows whose sum is at most 0.
int _fendrik_type2(const double* CV, int Nind, int col, double* violation, const double* threshold,
                   int return_count, int Parallel);
