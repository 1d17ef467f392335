#pragma once

// result[i] = old_idealPoint[i] if old_idealPoint[i] <= zm[i], else zm[i] (a NaN on either side
// gives zm[i]).
void _ornavi(const double* zm, int lens, const double* old_idealPoint, double* result, int Parallel);

// result[i] = old_idealPoint[i] if zm[i] <= old_idealPoint[i], else zm[i].
void _ornavi_reverse(const double* zm, int lens, const double* old_idealPoint, double* result, int Parallel);
