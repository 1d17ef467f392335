// The permutation check: no row repeats a value.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "_permutation.hpp"
#include "_sarnet.hpp"

namespace {

template <class Set>
int check(const int* Chrom, std::int64_t Nind, std::int64_t L, std::int64_t Lb, std::int64_t Ub, int Parallel) {
    perm::Pool<Set> pool(Parallel, Lb, Ub - Lb + 1, L);
    if (!pool.ok()) return -1;
    evo::for_ranges(Nind, Nind * L, Parallel, [&](std::int64_t begin, std::int64_t end) {
        perm::Scratch<Set>& s = pool.mine();
        for (std::int64_t i = begin; i < end && !s.flag; ++i) s.flag = s.set.has_repeat(Chrom + i * L, L);
    });
    return pool.any_flag() ? 0 : 1;
}

}  // namespace

namespace {

// Integer minima and maxima are the same whichever instructions take them, so the loop is
// compiled for AVX2 too and runs there where the processor has it.
inline __attribute__((always_inline)) void range_of(const int* g, std::int64_t n, int* lo, int* hi) {
    int a = g[0], b = g[0];
    for (std::int64_t k = 1; k < n; ++k) {
        a = g[k] < a ? g[k] : a;
        b = g[k] > b ? g[k] : b;
    }
    *lo = a;
    *hi = b;
}

#ifdef EVOCORE_X86_FORMS
__attribute__((target("avx2"))) void range_avx2(const int* g, std::int64_t n, int* lo, int* hi) {
    range_of(g, n, lo, hi);
}
#endif
void range_baseline(const int* g, std::int64_t n, int* lo, int* hi) { range_of(g, n, lo, hi); }

constinit Forms<decltype(&range_baseline)> kForms{
#ifdef EVOCORE_X86_FORMS
    {"avx2", range_avx2},
#endif
    {"baseline", range_baseline}};

}  // namespace

evo::FormChoice& gene_range_forms() { return kForms; }

void gene_range(const int* g, std::int64_t n, int* lo, int* hi) { kForms.fn()(g, n, lo, hi); }

namespace {

// The copy of g[0..n-1] into to[0..n-1] and its range, in blocks that stay in the first-level
// cache between the copy and the scan of the copy.
void copy_range(const int* g, std::int64_t n, int* to, int* lo, int* hi, decltype(&range_baseline) range) {
    constexpr std::int64_t kBlock = 4096;
    for (std::int64_t b = 0; b < n; b += kBlock) {
        const std::int64_t m = n - b < kBlock ? n - b : kBlock;
        std::memcpy(to + b, g + b, (std::size_t)m * sizeof(int));
        int l, h;
        range(to + b, m, &l, &h);
        if (b == 0 || l < *lo) *lo = l;
        if (b == 0 || h > *hi) *hi = h;
    }
}

}  // namespace

void gene_copy(const int* g, std::int64_t n, int* to, int* lo, int* hi, int Parallel) {
    // Parts of the matrix on the team; the range of the whole is the smallest and the largest of
    // the parts' (the same two numbers in any order).
    constexpr std::int64_t kPart = std::int64_t{1} << 16;
    const std::int64_t parts = (n + kPart - 1) / kPart;
    const auto range = kForms.fn();
    if (parts == 1) return copy_range(g, n, to, lo, hi, range);
    std::vector<int> los((std::size_t)parts), his((std::size_t)parts);
    evo::for_ranges(parts, n, Parallel, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t p = begin; p < end; ++p) {
            const std::int64_t s = p * kPart, m = n - s < kPart ? n - s : kPart;
            copy_range(g + s, m, to + s, &los[(std::size_t)p], &his[(std::size_t)p], range);
        }
    });
    *lo = *std::min_element(los.begin(), los.end());
    *hi = *std::max_element(his.begin(), his.end());
}

int _check_permutation(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int Parallel) {
    if (Nind <= 0 || Lind <= 0) return 1;
    const std::int64_t var_num = (std::int64_t)Ub - Lb + 1;
    if (var_num <= 0) return 0;
    if (var_num <= perm::SmallBits::kMaxRange) return check<perm::SmallBits>(Chrom, Nind, Lind, Lb, Ub, Parallel);
    return perm::use_direct(var_num, Lind) ? check<perm::DirectStamps>(Chrom, Nind, Lind, Lb, Ub, Parallel)
                                           : check<perm::HashSet>(Chrom, Nind, Lind, Lb, Ub, Parallel);
}
