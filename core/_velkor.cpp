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

// Four digits of a segment, written together.
typedef std::int32_t Lanes __attribute__((vector_size(16)));
typedef std::uint32_t ULanes __attribute__((vector_size(16)));

// kPlace.v[32 - len + k] = 2^(len - 1 - k): the place values of a segment of len digits, followed
// by zeros for the lanes past the segment that a group of four (or the 32 lanes of an exactly
// written segment) covers.
struct PlaceValues {
    std::uint32_t v[64];
    constexpr PlaceValues() : v() {
        for (int i = 0; i < 32; ++i) v[i] = std::uint32_t{1} << (31 - i);
    }
};
constexpr PlaceValues kPlace;

// int32(y): truncation toward zero; NaN and values whose truncation leaves the int32 range give
// -2^31 (the x86 "integer indefinite").
inline std::int32_t to_int32(double y) {
    return (y > -2147483649.0 && y < 2147483648.0) ? (std::int32_t)y : INT32_MIN;
}

// One variable's segment: the digits it keeps (2^len - 1), all ones for Gray code (0 for plain
// binary), its length and how it is written: in `groups` whole groups of four digits, or exactly
// (groups -1) where the rest of the row is too short to take up to three spilled lanes.
struct Segment {
    std::uint32_t mask, gray;
    std::int32_t len, groups;
};

// The per-call tables, one entry per variable.  The code of x is
// to_int32(scale * (x - lb) / range + shift), where scale is fenmus1 (discrete) or fenmus
// (continuous), exact in double, and shift is 0.5 or -nums; the codes of a row are computed side
// by side from these arrays.
struct Tables {
    double *scale = nullptr, *lb = nullptr, *range = nullptr, *shift = nullptr;
    Segment* seg = nullptr;
    void* block = nullptr;

    bool allocate(int Nvar) {
        const std::size_t n = (std::size_t)Nvar;
        block = std::malloc(n * (4 * sizeof(double) + sizeof(Segment)));
        if (block == nullptr) return false;
        scale = (double*)block;
        lb = scale + n;
        range = lb + n;
        shift = range + n;
        seg = (Segment*)(shift + n);
        return true;
    }
    ~Tables() { std::free(block); }
};

// Digits by C's truncating division and sign-of-dividend remainder: digit k of code v is
// sign(v) * bit (len-1-k) of |v|, so the digits are those of the low len bits t of |v|, or of
// t ^ (t >> 1) for Gray code (each digit XOR the one before it, the first against 0: digits that
// share one sign XOR like bits), negated for a negative v.  A group of four digits is
// ((G & P) == P) & M per lane, with P the lanes' place values and M = sign(v).  Lanes past the
// segment (P = 0) receive M: a segment writes them only where later digits of the same thread's
// rows are written over them.
template <int Groups>
inline void write_groups(std::uint32_t g, std::int32_t m, const std::uint32_t* place, std::int32_t* out) {
    const ULanes G = {g, g, g, g};
    const Lanes M = {m, m, m, m};
    for (int q = 0; q < Groups; ++q) {
        ULanes P;
        std::memcpy(&P, place + 4 * q, sizeof P);
        const Lanes digit = (Lanes)((G & P) == P) & M;
        std::memcpy(out + 4 * q, &digit, sizeof digit);
    }
}

// The low len bits of |v| (mask 2^len - 1), Gray-coded when `gray` is all ones.
inline std::uint32_t segment_bits(std::int32_t v, std::uint32_t mask, std::uint32_t gray) {
    const std::uint32_t t = (v < 0 ? 0u - (std::uint32_t)v : (std::uint32_t)v) & mask;
    return t ^ ((t >> 1) & gray);
}

inline void write_segment(std::int32_t v, const Segment& sg, std::int32_t* __restrict out) {
    const std::uint32_t g = segment_bits(v, sg.mask, sg.gray);
    const std::int32_t m = v < 0 ? -1 : 1;  // a set digit: -1 of a negative code, else 1
    const std::uint32_t* place = kPlace.v + (32 - sg.len);
    switch (sg.groups) {
        case 0: return;
        case 1: return write_groups<1>(g, m, place, out);
        case 2: return write_groups<2>(g, m, place, out);
        case 3: return write_groups<3>(g, m, place, out);
        case 4: return write_groups<4>(g, m, place, out);
        case 5: return write_groups<5>(g, m, place, out);
        case 6: return write_groups<6>(g, m, place, out);
        case 7: return write_groups<7>(g, m, place, out);
        case 8: return write_groups<8>(g, m, place, out);
        default: {  // exactly len digits
            if (sg.len == 0) return;
            std::int32_t digits[32];
            write_groups<8>(g, m, place, digits);
            std::memcpy(out, digits, (std::size_t)sg.len * sizeof(std::int32_t));
        }
    }
}

// The codes of the row x, computed side by side kChunk variables at a time, then handed in
// variable order to write(j, v, out), which writes segment j at out and returns where the next
// one starts.
template <class Write>
inline void for_codes(const Tables& T, const double* __restrict x, std::ptrdiff_t N, std::int32_t* out,
                      Write&& write) {
    const double *__restrict scale = T.scale, *__restrict lb = T.lb, *__restrict range = T.range,
                             *__restrict shift = T.shift;
    std::int32_t v[kChunk];
    for (std::ptrdiff_t j0 = 0; j0 < N; j0 += kChunk) {
        const int n = (int)(N - j0 < kChunk ? N - j0 : kChunk);
        for (int j = 0; j < n; ++j) {
            const std::ptrdiff_t k = j0 + j;
            v[j] = to_int32(scale[k] * (x[k] - lb[k]) / range[k] + shift[k]);
        }
        for (int j = 0; j < n; ++j) out = write(j0 + j, v[j], out);
    }
}

void encode_row(const double* x, const Tables& T, std::ptrdiff_t N, std::int32_t* out) {
    const Segment* seg = T.seg;
    for_codes(T, x, N, out, [seg](std::ptrdiff_t j, std::int32_t v, std::int32_t* to) {
        write_segment(v, seg[j], to);
        return to + seg[j].len;
    });
}

// Rows [begin, end) when every segment has the same length, each in Groups groups of four; the
// caller ends the range where the rest of its rows could not take the spill of a last segment.
template <int Groups>
void encode_uniform_rows(const Tables& T, const double* Phen, std::ptrdiff_t N, std::ptrdiff_t L,
                         std::int32_t* Chrom, std::int64_t begin, std::int64_t end) {
    const Segment* __restrict seg = T.seg;
    const std::uint32_t mask = seg[0].mask;
    const int len = seg[0].len;
    const std::uint32_t* place = kPlace.v + (32 - len);
    for (std::int64_t i = begin; i < end; ++i) {
        for_codes(T, Phen + i * N, N, Chrom + i * L, [=](std::ptrdiff_t j, std::int32_t v, std::int32_t* to) {
            write_groups<Groups>(segment_bits(v, mask, seg[j].gray), v < 0 ? -1 : 1, place, to);
            return to + len;
        });
    }
}

}  // namespace

bool _velkor(const double* Phen, int Nind, int Lind, const int* lens, const double* lbs, const double* ubs,
             const int* codes, const int* lbins, const int* ubins, const int* varTypes, int* Chrom, int Nvar,
             int Parallel) {
    if (Nind <= 0 || Nvar <= 0) return true;  // nothing to encode
    Tables T;
    if (!T.allocate(Nvar)) return false;
    std::int64_t total = 0;
    for (int j = 0; j < Nvar; ++j) {
        const int len = lens[j];
        if (len < 0 || len > kMaxLen) return true;
        total += len;
        const std::int64_t pow2 = std::int64_t{1} << len;
        const std::int64_t fenmus = pow2 + 1 - lbins[j] - ubins[j];  // exact, also for len 31
        const std::int64_t fenmus1 = pow2 - 1;
        const bool discrete = varTypes[j] != 0;
        T.scale[j] = (double)(discrete ? fenmus1 : fenmus);
        T.shift[j] = discrete ? 0.5 : -(double)(lbins[j] == 0 ? 1 : 0);
        T.lb[j] = lbs[j];
        T.range[j] = std::fabs(ubs[j] - lbs[j]);
        T.seg[j] = {(std::uint32_t)fenmus1, codes[j] != 0 ? ~0u : 0u, len, (len + 3) / 4};
    }
    if (total != Lind) return true;
    // A segment may spill up to three zeros past its end where later segments of the row write
    // over them; the last segments, followed by fewer than three digits, are written exactly.
    for (std::int64_t j = Nvar, rest = 0; j > 0 && rest < 3;) {
        T.seg[--j].groups = -1;
        rest += T.seg[j].len;
    }

    const std::ptrdiff_t N = Nvar, L = Lind;
    // Equal lengths (the usual case) take a loop without per-segment dispatch; the last rows of a
    // thread's range, followed by fewer than three digits, go the general way.
    bool uniform = lens[0] > 0;
    for (int j = 1; j < Nvar && uniform; ++j) uniform = lens[j] == lens[0];
    const int groups = uniform ? (lens[0] + 3) / 4 : 0;
    const std::int64_t last_rows = uniform ? (3 + L - 1) / L : 0;
    auto uniform_rows = groups == 1 ? encode_uniform_rows<1> : groups == 2 ? encode_uniform_rows<2>
                      : groups == 3 ? encode_uniform_rows<3> : groups == 4 ? encode_uniform_rows<4>
                      : groups == 5 ? encode_uniform_rows<5> : groups == 6 ? encode_uniform_rows<6>
                      : groups == 7 ? encode_uniform_rows<7> : encode_uniform_rows<8>;
    evo::for_ranges(Nind, (std::int64_t)Nind * (N + L), Parallel, [&](std::int64_t begin, std::int64_t end) {
        std::int64_t i = begin;
        if (uniform && end - begin > last_rows) {
            uniform_rows(T, Phen, N, L, Chrom, begin, end - last_rows);
            i = end - last_rows;
        }
        for (; i < end; ++i) encode_row(Phen + i * N, T, N, Chrom + i * L);
    });
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
