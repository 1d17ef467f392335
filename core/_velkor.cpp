// Binary/Gray encoding kernels.
#include "_velkor.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../frame/rows.hpp"

namespace {

constexpr int kMaxLen = 31;
constexpr int kChunk = 256;  // variables whose codes are computed side by side

// kPlace.v[32 - len + k] = 2^(len - 1 - k): the place values of a segment of len digits, followed
// by zeros for the lanes past the segment that a group (or the 32 lanes of an exactly written
// segment) covers.
struct PlaceValues {
    std::uint32_t v[64];
    constexpr PlaceValues() : v() {
        for (int i = 0; i < 32; ++i) v[i] = std::uint32_t{1} << (31 - i);
    }
};
constexpr PlaceValues kPlace;

// One variable's segment: the digits it keeps (2^len - 1), all ones for Gray code (0 for plain
// binary), its length, and the number of digits of the row after it (at most 31), which says
// how far a last group may spill.
struct Segment {
    std::uint32_t mask, gray;
    std::int32_t len, rest;
};

// The per-call tables.  The code of x for variable j is int32(scale[j] * (x - lb[j]) / range[j] +
// shift[j]), with scale fenmus1 (discrete) or fenmus (continuous), exact in double, and shift 0.5
// or -nums; the codes of a row are computed side by side from these arrays.  uniform_len is the
// common length when every segment has the same positive length, else 0.
struct Tables {
    double *scale, *lb, *range, *shift;
    Segment* seg;
    std::ptrdiff_t Nvar, Lind;
    int uniform_len;
};

namespace baseline {
constexpr int kLanes = 4;
#include "_velkor_rows.hpp"
}  // namespace baseline

// The 8-lane form needs GCC's per-region target; other compilers and processors build the
// baseline alone.
#if defined(EVOCORE_X86_FORMS) && defined(__GNUC__) && !defined(__clang__)
#define EVOCORE_VELKOR_AVX2 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 8;
#include "_velkor_rows.hpp"
}  // namespace avx2
#pragma GCC pop_options
#endif

// The forms of the row encoder.
using Encode = void (*)(const Tables&, const double*, std::int32_t*, std::int64_t, std::int64_t);
constinit Forms<Encode> kForms{
#ifdef EVOCORE_VELKOR_AVX2
    {"avx2", avx2::encode_range},
#endif
    {"baseline", baseline::encode_range}};

}  // namespace

evo::FormChoice& _velkor_forms() { return kForms; }

bool _velkor(const double* Phen, int Nind, int Lind, const int* lens, const double* lbs, const double* ubs,
             const int* codes, const int* lbins, const int* ubins, const int* varTypes, int* Chrom, int Nvar,
             int Parallel) {
    if (Nind <= 0 || Nvar <= 0 || Lind <= 0) return true;  // nothing to encode
    const std::size_t n = (std::size_t)Nvar;
    void* block = std::malloc(n * (4 * sizeof(double) + sizeof(Segment)));
    if (block == nullptr) return false;
    Tables T{(double*)block, nullptr, nullptr, nullptr, nullptr, Nvar, Lind, lens[0]};
    T.lb = T.scale + n;
    T.range = T.lb + n;
    T.shift = T.range + n;
    T.seg = (Segment*)(T.shift + n);
    std::int64_t total = 0;
    for (int j = 0; j < Nvar && total >= 0; ++j) {
        const int len = lens[j];
        if (len < 0 || len > kMaxLen) {
            total = -1;  // outside what the segments can hold: nothing is written
            break;
        }
        total += len;
        if (len != T.uniform_len) T.uniform_len = 0;
        const std::int64_t pow2 = std::int64_t{1} << len;
        const std::int64_t fenmus = pow2 + 1 - lbins[j] - ubins[j];  // exact, also for len 31
        const std::int64_t fenmus1 = pow2 - 1;
        const bool discrete = varTypes[j] != 0;
        T.scale[j] = (double)(discrete ? fenmus1 : fenmus);
        T.shift[j] = discrete ? 0.5 : -(double)(lbins[j] == 0 ? 1 : 0);
        T.lb[j] = lbs[j];
        T.range[j] = std::fabs(ubs[j] - lbs[j]);
        T.seg[j] = {(std::uint32_t)fenmus1, codes[j] != 0 ? ~0u : 0u, len, 0};
    }
    if (total == Lind) {
        for (std::int64_t j = Nvar - 1, rest = 0; j >= 0; rest += T.seg[j--].len)
            T.seg[j].rest = (std::int32_t)(rest < kMaxLen ? rest : kMaxLen);
        const Encode range = kForms.fn();
        evo::for_ranges(Nind, (std::int64_t)Nind * (Nvar + (std::int64_t)Lind), Parallel,
                        [&](std::int64_t begin, std::int64_t end) { range(T, Phen, Chrom, begin, end); });
    }
    std::free(block);
    return true;
}

int checkLen(const int* lens, int Nvar) {
    for (int j = 0; j < Nvar; ++j)
        if (lens[j] > kMaxLen) return 1;
    return 0;
}

int checkLenNegative(const int* lens, int Nvar) {
    for (int j = 0; j < Nvar; ++j)
        if (lens[j] < 0) return 1;
    return 0;
}
