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

// round(x): halves away from zero, as the C library's round, without a library call and without
// a branch on the fraction (which is random here).  For |x| < 2^52 the truncation toward zero is exact in 64-bit integers
// and |x| - trunc(|x|) is exact; larger values (and inf, NaN) are integral or left as they are.
inline double round_half_away(double x) {
    const double a = std::fabs(x);
    if (!(a < kTwo52)) return x;
    double t = (double)(long long)a;
    t += (double)(a - t >= 0.5);
    return std::copysign(t, x);
}

struct Columns {
    const double* width;  // Ub_Lb
    const double* lb;
    const int* varTypes;
};

// Columns j0 .. j0 + m - 1 of one row from its draws raw[j * stride]: each draw scaled into its
// column's interval, and rounded in the discrete columns.
inline void scale(const int* raw, std::ptrdiff_t stride, double* out, const Columns& c, std::ptrdiff_t j0, int m) {
    const double* w = c.width + j0;
    const double* lb = c.lb + j0;
    const int* type = c.varTypes + j0;
    for (int j = 0; j < m; ++j) {
        const double v = (double)raw[j * stride] * w[j] * kRandScale + lb[j];
        out[j] = type[j] == 1 ? round_half_away(v) : v;
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
                for (int k = 0; k < n; ++k) scale(raw + k, K, Chrom + (b + k) * L + j0, c, j0, m);
            }
        }
    });
}

}  // namespace

void _tamsen(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
             int Parallel) {
    if (Parallel != 0 && Parallel != 1) return;
    const std::ptrdiff_t L = Lind > 0 ? Lind : 0;
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
                scale(raw, 1, Chrom + i * L + j0, c, j0, m);
            }
        }
        return;
    }
    rows_from(Chrom, Nind, L, c, seed, 0);
}

void _tamsen_rows(double* Chrom, int Nind, int Lind, double* lbs, double* ubs, const int* varTypes, int randDelta,
                  std::int64_t row0) {
    const std::ptrdiff_t L = Lind > 0 ? Lind : 0;
    const std::vector<double> Ub_Lb = widths(Lind, lbs, ubs, varTypes);
    const Columns c{Ub_Lb.data(), lbs, varTypes};
    rows_from(Chrom, Nind, L, c, (std::uint32_t)randDelta, row0);
}
