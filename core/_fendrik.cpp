// Constraint-violation merging kernels.
#include "_fendrik.hpp"

#include <cstddef>
#include <cstdint>

#include "../frame/rows.hpp"

namespace {

// The limit an entry must exceed: 0 for every column (type 1), or one per column (type 2).
struct Zero {
    double operator()(std::ptrdiff_t) const { return 0.0; }
};
struct PerColumn {
    const double* threshold;
    double operator()(std::ptrdiff_t j) const { return threshold[j]; }
};

// Two doubles side by side, and the mask of a comparison of two.
using v2d = double __attribute__((vector_size(16)));
using v2m = long long __attribute__((vector_size(16)));

// x where x > limit, else +0.0 (also when either side is NaN), without a branch.
inline v2d above(v2d x, v2d limit) { return (v2d)((v2m)(x > limit) & (v2m)x); }

// Each row's merged value: the entries strictly above their limit, added in column order from
// 0.0 (a NaN on either side of the comparison adds nothing).  An entry left out adds +0.0,
// which changes nothing: the sum starts at +0.0 and can become neither -0.0 nor NaN (-inf is
// never above a limit), so the selection needs no branch and four rows are summed side by
// side, each exactly as on its own.  C > 0 fixes the column count at compile time (the narrow
// matrices of typical problems); C = 0 reads it from `col`.
//
// With `count` given, the rows [begin, end) whose merged value is at most `bound` (a NaN on
// either side is not counted) are counted as they are stored; a parallel merge counts after
// the team has finished instead, on the calling thread.
template <int C, class Limit>
void merge_range(const double* __restrict CV, std::int64_t begin, std::int64_t end, std::ptrdiff_t col,
                 double* __restrict violation, Limit limit, double bound, std::int64_t* count) {
    const std::ptrdiff_t n = C > 0 ? C : col;
    const v2d b = {bound, bound};
    v2m rows_at_most = {0, 0};
    // The limits of a fixed column count are read once, into registers.
    v2d fixed[C > 0 ? C : 1];
    if constexpr (C > 0)
        for (int j = 0; j < C; ++j) fixed[j] = v2d{limit(j), limit(j)};
    auto lim = [&](std::ptrdiff_t j) {
        if constexpr (C > 0) return fixed[j];
        const double l = limit(j);
        return v2d{l, l};
    };
    std::int64_t i = begin;
    for (; i + 4 <= end; i += 4) {
        const double* __restrict r = CV + i * n;
        v2d s01 = {0.0, 0.0}, s23 = {0.0, 0.0};
        for (std::ptrdiff_t j = 0; j < n; ++j) {
            const v2d lv = lim(j);
            s01 += above(v2d{r[j], r[n + j]}, lv);
            s23 += above(v2d{r[2 * n + j], r[3 * n + j]}, lv);
        }
        __builtin_memcpy(violation + i, &s01, sizeof s01);
        __builtin_memcpy(violation + i + 2, &s23, sizeof s23);
        if (count) rows_at_most -= (s01 <= b) + (s23 <= b);
    }
    for (; i < end; ++i) {
        const double* __restrict r = CV + i * n;
        v2d sum = {0.0, 0.0};
        for (std::ptrdiff_t j = 0; j < n; ++j) {
            sum += above(v2d{r[j], 0.0}, lim(j));
        }
        violation[i] = sum[0];
        if (count) *count += sum[0] <= bound;
    }
    if (count) *count += rows_at_most[0] + rows_at_most[1];
}

template <int C, class Limit>
int merge_rows(const double* CV, int Nind, std::ptrdiff_t col, double* violation, Limit limit, double bound,
               int return_count, int Parallel) {
    if (Parallel != 1) {  // every value but 1 merges on the calling thread
        std::int64_t count = 0;
        merge_range<C>(CV, 0, Nind, col, violation, limit, bound, return_count == 1 ? &count : nullptr);
        return return_count == 1 ? (int)count : -1;
    }
    evo::for_ranges(Nind, (std::int64_t)Nind * col, 1, [=](std::int64_t begin, std::int64_t end) {
        merge_range<C>(CV, begin, end, col, violation, limit, bound, nullptr);
    });
    if (return_count != 1) return -1;
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < Nind; ++i) count += violation[i] <= bound;
    return (int)count;
}

template <class Limit>
int merge(const double* CV, int Nind, int col, double* violation, Limit limit, double bound, int return_count,
          int Parallel) {
    switch (col) {
        case 1: return merge_rows<1>(CV, Nind, 1, violation, limit, bound, return_count, Parallel);
        case 2: return merge_rows<2>(CV, Nind, 2, violation, limit, bound, return_count, Parallel);
        case 3: return merge_rows<3>(CV, Nind, 3, violation, limit, bound, return_count, Parallel);
        case 4: return merge_rows<4>(CV, Nind, 4, violation, limit, bound, return_count, Parallel);
        default: return merge_rows<0>(CV, Nind, col, violation, limit, bound, return_count, Parallel);
    }
}

}  // namespace

int _fendrik_type1(const double* CV, int Nind, int col, double* violation, double threshold, int return_count,
                   int Parallel) {
    return merge(CV, Nind, col, violation, Zero{}, threshold, return_count, Parallel);
}

int _fendrik_type2(const double* CV, int Nind, int col, double* violation, const double* threshold,
                   int return_count, int Parallel) {
    return merge(CV, Nind, col, violation, PerColumn{threshold}, 0.0, return_count, Parallel);
}
