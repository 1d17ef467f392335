// Merge kernels of the ideal point: the element-wise better of the old point and the population's.
#include "_ornavi.hpp"

#include "../frame/rows.hpp"

void _ornavi(const double* zm, int lens, const double* old_idealPoint, double* result, int Parallel) {
    if (lens <= 0) return;
    evo::for_rows(lens, lens, Parallel, [&](std::int64_t i) {
        result[i] = old_idealPoint[i] <= zm[i] ? old_idealPoint[i] : zm[i];
    });
}

void _ornavi_reverse(const double* zm, int lens, const double* old_idealPoint, double* result, int Parallel) {
    if (lens <= 0) return;
    evo::for_rows(lens, lens, Parallel, [&](std::int64_t i) {
        result[i] = zm[i] <= old_idealPoint[i] ? old_idealPoint[i] : zm[i];
    });
}
