// Random real/integer population kernel.
#include "_tamsen.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../frame/random.hpp"
#include "../frame/rows.hpp"

namespace {

constexpr double kWiden = 0.499999;
constexpr double kRandScale = 1.0 / 2147483648.0;  // 1 / 2^31, exact: dividing by 2^31 is the same
constexpr double kTwo52 = 4503599627370496.0;      // from here on every double is an integer
constexpr int kChunk = 256;                         // values drawn per call of the generator
// The work of a parallel call in the team threshold's units (element operations of about a
// nanosecond): a value costs about two, seeding a row in a block of lanes about fifty.
constexpr std::int64_t kValueWork = 2;
constexpr std::int64_t kSeedWork = 50;

// Two doubles side by side, and the lane masks their comparisons give (all ones or zero).
using D2 = double __attribute__((vector_size(16)));
using M2 = std::int64_t __attribute__((vector_size(16)));

inline D2 splat(double x) { return D2{x, x}; }

// round(x) in both lanes: halves away from zero, as the C library's round, in plain arithmetic
// without a branch on the fraction (which is random here).  For |x| < 2^52 adding and taking away
// 2^52 gives the nearest integer, which is stepped down to floor(|x|); |x| - floor(|x|) is exact.
// Larger values, inf and NaN are integral or stay as they are.
inline D2 round_half_away(D2 x) {
    const M2 sign = (M2)x & (M2){INT64_MIN, INT64_MIN};
    const D2 a = (D2)((M2)x ^ sign);
    const D2 two52 = splat(kTwo52), one = splat(1.0);
    D2 t = (a + two52) - two52;
    t -= (D2)((M2)one & (M2)(t > a));
    t += (D2)((M2)one & (M2)(a - t >= splat(0.5)));
    const M2 small = (M2)(a < two52);
    return (D2)((small & ((M2)t | sign)) | (~small & (M2)x));
}

struct Columns {
    const double* width;  // Ub_Lb
    const double* lb;
    const int* varTypes;
};

// The value of a draw in a column: scaled into the column's interval (the product, then the
// scaling by 2^-31, then the lower bound), and rounded where the column is discrete.
inline D2 value(D2 draw, D2 width, D2 lb) { return draw * width * splat(kRandScale) + lb; }

// Columns j0 .. j0 + m - 1 of one row from its draws raw[0..m): two columns at a time.
inline void scale_row(const int* raw, double* out, const Columns& c, std::ptrdiff_t j0, int m) {
    const double* w = c.width + j0;
    const double* lb = c.lb + j0;
    const int* type = c.varTypes + j0;
    int j = 0;
    for (; j + 2 <= m; j += 2) {
        const D2 v = value(D2{(double)raw[j], (double)raw[j + 1]}, D2{w[j], w[j + 1]}, D2{lb[j], lb[j + 1]});
        const M2 discrete = M2{type[j] == 1 ? -1 : 0, type[j + 1] == 1 ? -1 : 0};
        const D2 r = (D2)((discrete & (M2)round_half_away(v)) | (~discrete & (M2)v));
        out[j] = r[0];
        out[j + 1] = r[1];
    }
    for (; j < m; ++j) {
        const D2 v = value(splat((double)raw[j]), splat(w[j]), splat(lb[j]));
        out[j] = (type[j] == 1 ? round_half_away(v) : v)[0];
    }
}

// The same for the K rows of a block whose draws lie lane-wise, raw[j * K + k] for row k: two
// rows at a time, column by column; out points at column j0 of the block's first row, and only
// its first n rows are written.
template <int K>
inline void scale_lanes(const int* raw, int n, double* out, std::ptrdiff_t L, const Columns& c, std::ptrdiff_t j0,
                        int m) {
    for (int j = 0; j < m; ++j) {
        const D2 w = splat(c.width[j0 + j]), lb = splat(c.lb[j0 + j]);
        const bool discrete = c.varTypes[j0 + j] == 1;
        const int* r = raw + j * K;
        double v[K];
        for (int k = 0; k < K; k += 2) {
            D2 x = value(D2{(double)r[k], (double)r[k + 1]}, w, lb);
            if (discrete) x = round_half_away(x);
            v[k] = x[0];
            v[k + 1] = x[1];
        }
        for (int k = 0; k < n; ++k) out[k * L + j] = v[k];
    }
}

}  // namespace

namespace {

// Widens the discrete bounds in lbs and ubs, and gives each column's width |ubs - lbs|.
std::vector<double> widths(int Lind, double* lbs, double* ubs, const int* varTypes) {
    const std::ptrdiff_t L = Lind > 0 ? Lind : 0;
    std::vector<double> Ub_Lb((std::size_t)L);
    for (std::ptrdiff_t j = 0; j < L; ++j) {
        if (varTypes[j] == 1) {
            lbs[j] = lbs[j] - kWiden;
            ubs[j] = ubs[j] + kWiden;
        }
        Ub_Lb[j] = std::fabs(ubs[j] - lbs[j]);
    }
    return Ub_Lb;
}

// Rows row0 .. row0 + Nind - 1 of the parallel form, written to Chrom from its first row: row r
// draws from its own generator, seeded with randDelta + r; the generators of a block of K rows
// run side by side in the lanes of one CRandLanes.
void rows_from(double* Chrom, int Nind, std::ptrdiff_t L, const Columns& c, std::uint32_t seed, std::int64_t row0) {
    constexpr int K = evo::CRandLanes::kLanes;
    constexpr int kLaneChunk = kChunk / 4;
    const std::int64_t work = (std::int64_t)Nind * (kValueWork * L + kSeedWork);
    evo::for_ranges(Nind, work, 1, [&](std::int64_t begin, std::int64_t end) {
        evo::CRandLanes lanes;
        std::uint32_t seeds[K];
        int raw[kLaneChunk * K];
        for (std::int64_t b = begin; b < end; b += K) {
            const int n = end - b < K ? (int)(end - b) : K;
            for (int k = 0; k < n; ++k) seeds[k] = seed + (std::uint32_t)(row0 + b + k);
            lanes.seed(seeds, n);
            for (std::ptrdiff_t j0 = 0; j0 < L; j0 += kLaneChunk) {
                const int m = L - j0 < kLaneChunk ? (int)(L - j0) : kLaneChunk;
                lanes.fill(raw, m);
                scale_lanes<K>(raw, n, Chrom + b * L + j0, L, c, j0, m);
            }
        }
    });
}

}  // namespace

void _tamsen(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
             int Parallel) {
    if (Lind <= 0) return;  // rows without columns: nothing to draw
    const std::ptrdiff_t L = Lind;
    const std::vector<double> Ub_Lb = widths(Lind, lbs, ubs, varTypes);
    const Columns c{Ub_Lb.data(), lbs, varTypes};
    const std::uint32_t seed = (std::uint32_t)randDelta;

    if (Parallel == 0) {
        // One generator, seeded once, draws the matrix in row order.
        evo::CRand g(seed);
        int raw[kChunk];
        for (std::int64_t i = 0; i < Nind; ++i) {
            for (std::ptrdiff_t j0 = 0; j0 < L; j0 += kChunk) {
                const int m = L - j0 < kChunk ? (int)(L - j0) : kChunk;
                g.fill(raw, m);
                scale_row(raw, Chrom + i * L + j0, c, j0, m);
            }
        }
        return;
    }
    rows_from(Chrom, Nind, L, c, seed, 0);
}

void _tamsen_rows(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
                  std::int64_t row0) {
    if (Lind <= 0) return;
    const std::ptrdiff_t L = Lind;
    const std::vector<double> Ub_Lb = widths(Lind, lbs, ubs, varTypes);
    const Columns c{Ub_Lb.data(), lbs, varTypes};
    rows_from(Chrom, Nind, L, c, (std::uint32_t)randDelta, row0);
}
