// The permutation check: no row repeats a value.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "_permutation.hpp"
#include "_sarnet.hpp"

namespace {

// Whether one of the rows begin..end-1 (of L genes) repeats a value; the forms compile this loop
// for each value set.
template <class Set>
inline __attribute__((always_inline)) bool rows_repeat(const int* Chrom, std::int64_t begin, std::int64_t end,
                                                       std::int64_t L, Set& set) {
    if constexpr (requires { set.rows_repeat(Chrom, begin, end, L); }) {
        return set.rows_repeat(Chrom, begin, end, L);
    } else {
        for (std::int64_t i = begin; i < end; ++i)
            if (set.has_repeat(Chrom + i * L, L)) return true;
        return false;
    }
}
template <class Set>
using RowsFn = bool (*)(const int*, std::int64_t, std::int64_t, std::int64_t, Set&);

#ifdef EVOCORE_X86_FORMS
template <class Set>
__attribute__((target("avx512f"))) bool rows_avx512(const int* C, std::int64_t b, std::int64_t e, std::int64_t L,
                                                    Set& s) {
    return rows_repeat(C, b, e, L, s);
}
// The lanes t < k of sixteen (0 <= k <= 16).
inline __mmask16 lanes_below(std::int64_t k) { return (__mmask16)((1u << k) - 1); }

// The set of the genes row[p] (less Lb, each below 64) of the columns p = 0..L-1 whose lane is
// in `pick(d)` for the sixteen columns from d, as bits of one word: each gene's bit made in a
// 64-bit lane, eight at a time, the lanes or-ed.
template <class Pick>
__attribute__((target("avx512f"), always_inline)) inline std::uint64_t bits64(const int* row, std::int64_t L,
                                                                              __m512i Lb, Pick pick) {
    const __m512i one = _mm512_set1_epi64(1);
    __m512i acc = _mm512_setzero_si512();
    for (std::int64_t d = 0; d < L; d += 16) {
        const __mmask16 m = pick(d);
        const __m512i x = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(m, row + d), Lb);
        const __m512i lo = _mm512_cvtepu32_epi64(_mm512_castsi512_si256(x));
        const __m512i hi = _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(x, 1));
        acc = _mm512_or_si512(acc, _mm512_maskz_sllv_epi64((__mmask8)m, one, lo));
        acc = _mm512_or_si512(acc, _mm512_maskz_sllv_epi64((__mmask8)(m >> 8), one, hi));
    }
    return (std::uint64_t)_mm512_reduce_or_epi64(acc);
}

// SmallBits' rows through bits64.
__attribute__((target("avx512f,popcnt"))) bool small_rows_avx512(const int* C, std::int64_t b, std::int64_t e,
                                                                 std::int64_t L, perm::SmallBits& s) {
    const __m512i Lb = _mm512_set1_epi32((int)s.Lb());
    auto columns = [L](std::int64_t d) { return L - d >= 16 ? (__mmask16)0xFFFF : lanes_below(L - d); };
    for (std::int64_t i = b; i < e; ++i)
        if (__builtin_popcountll(bits64(C + i * L, L, Lb, columns)) < L) return true;  // fewer distinct than genes
    return false;
}
template <class Set>
__attribute__((target("avx2"))) bool rows_avx2(const int* C, std::int64_t b, std::int64_t e, std::int64_t L, Set& s) {
    return rows_repeat(C, b, e, L, s);
}
#endif
template <class Set>
bool rows_baseline(const int* C, std::int64_t b, std::int64_t e, std::int64_t L, Set& s) {
    return rows_repeat(C, b, e, L, s);
}

template <class Set>
int check(const int* Chrom, std::int64_t Nind, std::int64_t L, std::int64_t Lb, std::int64_t Ub, int Parallel,
          RowsFn<Set> rows) {
    perm::Pool<Set> pool(Parallel, Lb, Ub - Lb + 1, L);
    if (!pool.ok()) return -1;
    evo::for_ranges(Nind, Nind * L, Parallel, [&](std::int64_t begin, std::int64_t end) {
        perm::Scratch<Set>& s = pool.mine();
        if (!s.flag) s.flag = rows(Chrom, begin, end, L, s.set);
    });
    return pool.any_flag() ? 0 : 1;
}

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
__attribute__((target("avx512f"))) void range_avx512(const int* g, std::int64_t n, int* lo, int* hi) {
    range_of(g, n, lo, hi);
}
__attribute__((target("avx2"))) void range_avx2(const int* g, std::int64_t n, int* lo, int* hi) {
    range_of(g, n, lo, hi);
}
#endif
void range_baseline(const int* g, std::int64_t n, int* lo, int* hi) { range_of(g, n, lo, hi); }

// Stamps the segment K[lo..hi] with a new generation in s.stamp (indexed by gene less Lb).
inline __attribute__((always_inline)) std::uint32_t stamp_segment(const int* K, perm::Cuts c, perm::SegmentBits& s) {
    const std::uint32_t gen = s.next_generation();
    std::uint32_t* __restrict st = perm::biased(s.stamp.data(), s.Lb);
    for (std::int64_t j = c.lo; j <= c.hi; ++j) st[K[j]] = gen;
    return gen;
}

#ifdef EVOCORE_X86_FORMS
// The keeper's segment (the columns whose lanes `segment` picks) into the child, in place: no
// kept filler gene goes there.
template <class Pick>
__attribute__((target("avx512f"), always_inline)) inline void copy_segment(const int* K, std::int64_t L, int* child,
                                                                           Pick segment) {
    for (std::int64_t d = 0; d < L; d += 16)
        _mm512_mask_storeu_epi32(child + d, segment(d), _mm512_maskz_loadu_epi32(segment(d), K + d));
}

// ox_child with the segment as a bit set in one register: the keeper's segment is copied, then
// sixteen filler genes are looked up at once and the kept ones packed and stored at their
// columns (before the segment, or after it up to the row's end).  The filler is read whole, which reads
// nothing outside the row.
__attribute__((target("avx512f,popcnt"))) void ox_avx512(const int* K, const int* F, std::int64_t L,
                                                              perm::Cuts c, int* child, perm::SegmentBits& s) {
    auto below = [](std::int64_t k) {  // the lanes t < k
        return lanes_below(k < 0 ? 0 : k > 16 ? 16 : k);
    };
    const __m512i Lb = _mm512_set1_epi32((int)s.Lb), low5 = _mm512_set1_epi32(31), one = _mm512_set1_epi32(1);
    __m512i set;
    auto segment = [&](std::int64_t d) { return (__mmask16)(below(c.hi + 1 - d) & ~below(c.lo - d)); };
    if (s.words <= 2) {  // a range of at most 64 values: the set made in vector registers
        set = _mm512_maskz_set1_epi64(1, (long long)bits64(K, L, Lb, segment));
        copy_segment(K, L, child, segment);
    } else {
        // word w of the bit set: the stamps of values 32w .. 32w + 31 that are this generation's
        const __m512i gen = _mm512_set1_epi32((int)stamp_segment(K, c, s));
        copy_segment(K, L, child, segment);  // meanwhile the stamps reach the cache
        const std::uint32_t* st = s.stamp.data();
        set = _mm512_setzero_si512();
        for (std::int64_t w = 0; w < s.words; ++w) {
            const std::uint32_t low = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(st + 32 * w), gen);
            const std::uint32_t high = _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(st + 32 * w + 16), gen);
            set = _mm512_mask_set1_epi32(set, (__mmask16)(1u << w), (int)(low | high << 16));
        }
    }
    const std::int64_t seg = c.hi - c.lo + 1, need = L - seg;
    const std::uintptr_t after = reinterpret_cast<std::uintptr_t>(child) + (std::uintptr_t)seg * sizeof(int);
    std::int64_t n = 0;  // kept genes so far: kept gene k goes to column k, or k + seg from the segment on
    for (std::int64_t d = 0; d < L; d += 16) {
        const __mmask16 valid = below(L - d);
        const __m512i g = _mm512_maskz_loadu_epi32(valid, F + d);
        const __m512i x = _mm512_sub_epi32(g, Lb);
        const __m512i word = _mm512_permutexvar_epi32(_mm512_srli_epi32(x, 5), set);
        const __mmask16 struck = _mm512_test_epi32_mask(_mm512_srlv_epi32(word, _mm512_and_si512(x, low5)), one);
        const __mmask16 keep = valid & (__mmask16)~struck;
        const __m512i packed = _mm512_maskz_compress_epi32(keep, g);
        const std::int64_t count = __builtin_popcount((unsigned)keep);
        const __mmask16 used = below(count < need - n ? count : need - n), before = used & below(c.lo - n);
        _mm512_mask_storeu_epi32(child + n, before, packed);
        _mm512_mask_storeu_epi32(reinterpret_cast<int*>(after) + n, used & (__mmask16)~before, packed);
        n += count;
    }
}
#endif

// A form's kernels: the range scan, the check's row loops over the two direct sets, and the
// crossover child where it has one of its own.
struct PermForm {
    decltype(&range_baseline) range;
    RowsFn<perm::SmallBits> small;
    RowsFn<perm::DirectStamps> stamps;
    perm::OxFn ox;
};
#ifdef EVOCORE_X86_FORMS
constexpr PermForm kAvx512{range_avx512, small_rows_avx512, rows_avx512, ox_avx512},
    kAvx2{range_avx2, rows_baseline, rows_avx2, nullptr};
#endif
constexpr PermForm kBaseline{range_baseline, rows_baseline, rows_baseline, nullptr};

constinit Forms<const PermForm*> kForms{
#ifdef EVOCORE_X86_FORMS
    {"avx512f", &kAvx512},
    {"avx2", &kAvx2},
#endif
    {"baseline", &kBaseline}};

}  // namespace

evo::FormChoice& permutation_forms() { return kForms; }

perm::OxFn perm::ox_vector() noexcept { return kForms.fn()->ox; }

void perm::ox_bits_plain(const int* K, const int* F, std::int64_t L, Cuts c, int* child, SegmentBits& s) {
    const std::uint32_t gen = stamp_segment(K, c, s);
    const std::uint32_t* st = perm::biased(s.stamp.data(), s.Lb);
    int* kept = s.kept.data();
    std::int64_t n = 0;
    for (std::int64_t j = 0; j < L; ++j) {
        kept[n] = F[j];
        n += st[F[j]] != gen;
    }
    const std::int64_t seg = c.hi - c.lo + 1;
    for (std::int64_t p = 0; p < L; ++p) child[p] = p < c.lo ? kept[p] : p <= c.hi ? K[p] : kept[p - seg];
}

void gene_range(const int* g, std::int64_t n, int* lo, int* hi) { kForms.fn()->range(g, n, lo, hi); }

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
    const auto range = kForms.fn()->range;
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
    const PermForm& form = *kForms.fn();
    if (var_num <= perm::SmallBits::kMaxRange)
        return check<perm::SmallBits>(Chrom, Nind, Lind, Lb, Ub, Parallel, form.small);
    return perm::use_direct(var_num, Lind)
               ? check<perm::DirectStamps>(Chrom, Nind, Lind, Lb, Ub, Parallel, form.stamps)
               : check<perm::HashSet>(Chrom, Nind, Lind, Lb, Ub, Parallel, rows_baseline<perm::HashSet>);
}
