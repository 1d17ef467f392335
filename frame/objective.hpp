// Objective-matrix helpers: the kernels that prepare an objective matrix, and the argument
// handling that the modules reading an objective matrix share around them.
#pragma once

#include "array.hpp"

#include <cstdint>

// r[i*Lind + j] = b[j] * a[i*Lind + j]; Parallel 1 splits the rows over a team, 0 runs them on
// the calling thread, any other value writes nothing.
void m_mul_row_int(const double* a, const int* b, double* r, int Nind, int Lind, int Parallel);

// The feasibility rule, in place: every row of ObjV whose positive violations in CV sum to more
// than 0 becomes the column maxima of ObjV (taken before any row changes) plus that sum.
// Returns false, with ObjV unchanged, when its scratch vector cannot be allocated.
bool modifyObjV(double* ObjV, const double* CV, int Nind, int M, int CVNum);

// The same rule, written into R (a new Nind x M matrix) while ObjV is only read: R receives what
// a copy of ObjV would hold after modifyObjV, in one pass instead of a copy and a rewrite.
bool penalised_copy(const double* ObjV, const double* CV, double* R, int Nind, int M, int CVNum);

// The same rule on a block of rows of a larger matrix, whose column maxima `maxObjV` (M values)
// were taken over all its rows: R (Nind x M, or ObjV itself) receives ObjV with every row whose
// positive violations sum to s > 0 replaced by maxObjV + s.
void penalised_rows(const double* ObjV, const double* CV, const double* maxObjV, double* R, int Nind, int M,
                    int CVNum);

namespace evo {

// Module messages used by the working-matrix rules.
struct WorkingMessages {
    int maxormins, CV;
};

// The working matrix `_ObjV` of a coerced `ObjV` (Nind x Lind):
// - maxormins given: checked (an ndarray, 1-D, of length Lind), coerced to int32, and a new
//   array receives ObjV times maxormins, always computed serially;
// - CV given: checked (ndim 2 and Nind rows), a copy of ObjV is made unless the product already
//   is one, CV is coerced to float64 and the copy is penalised by modifyObjV;
// - neither: ObjV itself, which is only read from then on.
// `ObjV` is replaced by the working matrix.
void working_matrix(Array& ObjV, Py_ssize_t Nind, Py_ssize_t Lind, PyObject* maxormins, PyObject* CV,
                    WorkingMessages msg);

// The ideal point of a working matrix (Nind x Lind): np.min(work, 0), or np.max(work, 0) with
// `maximum`.  An exact ndarray with rows is reduced by one compiled pass over its rows, by a rule
// that is the same on every processor: a NaN in a column gives NaN, and of +0.0 and -0.0 the later
// row's is kept.  NumPy's own reduction gives these bits for a matrix of several columns, whose
// rows it takes in order; a single column it reduces in vector lanes, and which zero it keeps
// there depends on the processor, so a one-column result may differ from NumPy's in the sign of
// a zero.  A subclass, which may define its own reductions, and a matrix without rows (NumPy's
// error) go through np.min / np.max.
Ref ideal_point(const Array& work, Py_ssize_t Nind, Py_ssize_t Lind, bool maximum);


}  // namespace evo
