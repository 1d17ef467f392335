// Variation kernels: one pass over the rows, each entry read once and written once.
#include "_variation.hpp"

#include <cmath>
#include <cstdint>

namespace {

// x ** k for k >= 1 by repeated squaring, in the order of evocore.algorithms._shared._power.
double whole_power(double x, int k) {
    double result = 0.0, base = x;
    bool first = true;
    for (;;) {
        if (k & 1) {
            result = first ? base : result * base;
            first = false;
        }
        k >>= 1;
        if (k == 0) return result;
        base = base * base;
    }
}

// SBX's spread factor for one side: q = gap / (gap + 2 * room), u its uniform number.
double spread(double q, double u, int eta) {
    const double ua = u * (2.0 - whole_power(q, eta + 1));
    const double beyond = 1.0 / (2.0 - ua);  // both sides computed: the select needs no branch
    const double w = ua <= 1.0 ? ua : beyond;
    return std::pow(w, 1.0 / (eta + 1.0));
}

}  // namespace

void _sbx(const double* P1, const double* P2, int n, int d, const double* lb, const double* ub,
          const double* rand, int eta, double prob, double* C) {
    using i64 = std::int64_t;
    // A row's crossed variables are gathered first and computed in a loop without a branch on
    // the random numbers: whether a variable is crossed, the side of the spread's distribution
    // and whether the children swap are coin tosses that no predictor learns.
    constexpr int kChunk = 256;
    int crossed[kChunk];
    for (int i = 0; i < n; ++i) {
        const double* r = rand + (i64)i * (3 * (i64)d + 1);
        const double* a = P1 + (i64)i * d;
        const double* b = P2 + (i64)i * d;
        double* c1 = C + (i64)i * d;
        double* c2 = C + ((i64)n + i) * d;
        const bool pair = r[0] < prob;
        for (int j0 = 0; j0 < d; j0 += kChunk) {
            const int j1 = d - j0 < kChunk ? d : j0 + kChunk;
            int k = 0;
            for (int j = j0; j < j1; ++j) {
                const double p1 = a[j], p2 = b[j];
                c1[j] = p1;
                c2[j] = p2;
                crossed[k] = j;
                k += pair & (r[1 + 3 * j] < 0.5) & (std::fabs(p1 - p2) > 1e-14);
            }
            for (int t = 0; t < k; ++t) {
                const int j = crossed[t];
                const double p1 = a[j], p2 = b[j];
                const double y1 = p1 < p2 ? p1 : p2, y2 = p1 < p2 ? p2 : p1;
                const double lo = lb[j], hi = ub[j], gap = y2 - y1, u = r[2 + 3 * j];
                double low = 0.5 * (y1 + y2 - spread(gap / (gap + 2.0 * (y1 - lo)), u, eta) * gap);
                double high = 0.5 * (y1 + y2 + spread(gap / (gap + 2.0 * (hi - y2)), u, eta) * gap);
                low = low < lo ? lo : low;
                high = high > hi ? hi : high;
                const bool swap = r[3 + 3 * j] < 0.5;
                c1[j] = swap ? high : low;
                c2[j] = swap ? low : high;
            }
        }
    }
}

void _mutation(const double* X, int N, int d, const double* lb, const double* ub, const double* rand, int eta,
               double* Y) {
    using i64 = std::int64_t;
    if (d <= 0) return;
    const double rate = 1.0 / d, power = 1.0 / (eta + 1.0);
    for (i64 e = 0; e < (i64)N * d; ++e) {
        const double x = X[e];
        const double* r = rand + 2 * e;
        if (!(r[0] < rate)) {
            Y[e] = x;
            continue;
        }
        // below 1/2 a step down, scaled by the room below x; else a step up by the room above
        const int j = (int)(e % d);
        const double lo = lb[j], hi = ub[j], span = hi - lo, u = r[1];
        const bool down = u < 0.5;
        const double near = (x - lo) / span;
        const double v = down ? u : 1.0 - u, room = down ? 1.0 - near : near;
        const double q = std::pow(2.0 * v + (1.0 - 2.0 * v) * whole_power(room, eta + 1), power) - 1.0;
        double y = x + (down ? q : -q) * span;
        if (y < lo) y = lo;
        if (y > hi) y = hi;
        Y[e] = y;
    }
}

void _offspring(const double* P1, const double* P2, int n, int d, const double* lb, const double* ub,
                const double* rand, int eta_c, double prob, int eta_m, int rows, double* Y, int* copies,
                double* scratch) {
    using i64 = std::int64_t;
    _sbx(P1, P2, n, d, lb, ub, rand, eta_c, prob, scratch);
    _mutation(scratch, rows, d, lb, ub, rand + (i64)n * (3 * (i64)d + 1), eta_m, Y);
    for (int r = 0; r < rows; ++r) {
        const double* y = Y + (i64)r * d;
        const double* parent = r < n ? P1 + (i64)r * d : P2 + (i64)(r - n) * d;
        int same = 1;
        for (int j = 0; j < d; ++j) same &= y[j] == parent[j];
        copies[r] = same;
    }
}
