// ulvaro's steps over a working column, shared by its module and by the block-wise steps of
// evocore.dask: the equality test, the column's extremes, and the formula as NumPy's element
// operations.
#pragma once

#include "../frame/values.hpp"

#include <cstddef>

namespace ulvaro_steps {

// Whether every one of n values equals `value`, compared exactly (a NaN makes it false); the scan
// stops at the first block that holds a different value.
bool all_equal(const double* v, std::ptrdiff_t n, double value);

// The largest (maximum) or smallest of n > 0 values into `out`, when it is one and the same however
// it is searched for: false for a NaN among the values, or a zero extreme with both zero signs
// present, where np.max and np.min decide which value they return.
bool sole_extreme(const double* v, std::ptrdiff_t n, bool maximum, double& out);

// The formula's two steps, each as NumPy computes it (in place on an array the call alone holds,
// else into a new array): ObjV - hi, with hi the column's maximum; then (-(ObjV / -lo)) ** k, with
// lo the smallest value of the shifted column.
evo::Ref shift(evo::Ref ObjV, PyObject* hi, bool in_place);
evo::Ref scale(evo::Ref ObjV, PyObject* lo, PyObject* k, bool in_place);

}  // namespace ulvaro_steps
