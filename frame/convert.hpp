// Conversions a module asks NumPy for by name: contiguity alone, the rows of a matrix taken
// through `astype`, NumPy's sum as a count, and pre-built index tuples such as (k, :).
#pragma once

#include "array.hpp"

#include <vector>

namespace evo {

// obj itself when obj.flags['C_CONTIGUOUS'] is true, else np.ascontiguousarray(obj).
Ref c_contiguous(PyObject* obj);

// The tuple (k, slice(None)), the selector of row k as in a[k, :].
Ref row_selector(Py_ssize_t k);

// The rows of a (rows x cols) matrix m, each taken as m[k, :].astype(float) or
// m[k, :].astype(np.int32) (`selector` is the pre-built (k, :)), checked to be a vector of cols
// elements and held until this object goes.  m is first made C-contiguous as by c_contiguous;
// its flags are not looked up when its buffer shows an exact C-contiguous float64 ndarray.
//
// When m is an exact C-contiguous float64 ndarray, a row is read from its buffer instead: a
// float64 row in place, an int32 row converted here when every value is finite and truncates into
// the int32 range, where NumPy's cast gives the same values and warns of nothing.  Any other row
// goes through NumPy, with its errors and warnings, in the order the rows are asked for.
class MatrixRows {
public:
    MatrixRows(PyObject* m, Py_ssize_t rows, Py_ssize_t cols);
    const double* f64(PyObject* selector, Py_ssize_t k);
    const int* i32(PyObject* selector, Py_ssize_t k);
    // np.sum of an int32 row taken by this object, as a 32-bit count (OverflowError "value too
    // large to convert to int" beyond); summed here when the row is an exact ndarray's data.
    int sum(const int* row) const;

private:
    Ref m_;
    Py_ssize_t rows_, cols_;
    Array whole_;                // m's buffer, when rows are read from it
    const double* base_ = nullptr;
    std::vector<int> ints_;      // int32 rows converted here, row k at k * cols
    std::vector<Array> arrays_;  // rows taken through NumPy
};

}  // namespace evo
