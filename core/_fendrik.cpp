// Constraint-violation merging kernels.
#include "_fendrik.hpp"

#include <cstddef>
#include <cstdint>

#include "../frame/rows.hpp"

namespace {

// One row's merged value: the entries strictly above their limit, added in column order from
// 0.0 (a NaN on either side of the comparison adds nothing).  An entry left out adds 0.0, which
// changes nothing: the sum starts at +0.0 and can become neither -0.0 nor NaN (-inf is never
// above a limit), so the selection needs no branch.  C > 0 fixes the column count at compile
// time, so that narrow matrices run without an inner loop.
template <int C, class Limit>
inline double merged(const double* v, std::ptrdiff_t col, const Limit& limit) {
    const std::ptrdiff_t n = C > 0 ? C : col;
    double sum = 0.0;
    for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double x = v[j];
        sum += x > limit(j) ? x : 0.0;
    }
    return sum;
}

template <int C, class Limit>
void merge_rows(const double* CV, std::int64_t Nind, std::ptrdiff_t col, double* violation, const Limit& limit,
                int Parallel) {
    evo::for_ranges(Nind, Nind * col, Parallel, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) violation[i] = merged<C>(CV + i * col, col, limit);
    });
}

template <class Limit>
void merge(const double* CV, int Nind, int col, double* violation, const Limit& limit, int Parallel) {
    switch (col) {
        case 1: return merge_rows<1>(CV, Nind, 1, violation, limit, Parallel);
        case 2: return merge_rows<2>(CV, Nind, 2, violation, limit, Parallel);
        case 3: return merge_rows<3>(CV, Nind, 3, violation, limit, Parallel);
        case 4: return merge_rows<4>(CV, Nind, 4, violation, limit, Parallel);
        default: return merge_rows<0>(CV, Nind, col, violation, limit, Parallel);
    }
}

// The rows whose merged value is at most `bound` (a NaN on either side is not counted); taken
// on the calling thread after the merge.
int count_at_most(const double* violation, int Nind, double bound, int return_count) {
    if (return_count != 1) return -1;
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < Nind; ++i) count += violation[i] <= bound;
    return (int)count;
}

}  // namespace

int _fendrik_type1(const double* CV, int Nind, int col, double* violation, double threshold, int return_count,
                   int Parallel) {
    merge(CV, Nind, col, violation, [=](std::ptrdiff_t) { return 0.0; }, Parallel);
    return count_at_most(violation, Nind, threshold, return_count);
}

int _fendrik_type2(const double* CV, int Nind, int col, double* violation, const double* threshold,
                   int return_count, int Parallel) {
    merge(CV, Nind, col, violation, [=](std::ptrdiff_t j) { return threshold[j]; }, Parallel);
    return count_at_most(violation, Nind, 0.0, return_count);
}
