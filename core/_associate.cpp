// Reference-line association kernel.
//
// Rows are computed four at a time, one per vector lane: every lane takes each sum in the documented
// order (the build never fuses a product into a sum), so a row gets the bits of the plain loop
// whichever lanes its neighbours fill.  The unit reference vectors and the objective rows are
// copied into private memory before anything is compared.
#include "_associate.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int kLanes = 4;
typedef double v4 __attribute__((vector_size(kLanes * sizeof(double))));
typedef long long v4i __attribute__((vector_size(kLanes * sizeof(double))));

}  // namespace

bool _associate(const double* ObjV, int Nind, int M, const double* refpoints, int K, int* index, double* distance) {
    using i64 = std::int64_t;
    std::vector<double> u((std::size_t)K * M);
    for (int r = 0; r < K; ++r) {
        const double* w = refpoints + (i64)r * M;
        double* ur = u.data() + (i64)r * M;
        for (int k = 0; k < M; ++k) ur[k] = w[k];
        double sum = 0.0;
        for (int k = 0; k < M; ++k) sum += ur[k] * ur[k];
        const double length = std::sqrt(sum);
        if (!(length > 0) || !std::isfinite(length)) return false;
        for (int k = 0; k < M; ++k) ur[k] = ur[k] / length;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<v4> f(M > 0 ? M : 1);
    for (i64 i0 = 0; i0 < Nind; i0 += kLanes) {
        const int lanes = Nind - i0 < kLanes ? (int)(Nind - i0) : kLanes;
        v4i bad = {0, 0, 0, 0};
        for (int k = 0; k < M; ++k) {
            v4 x = {0.0, 0.0, 0.0, 0.0};
            for (int l = 0; l < lanes; ++l) x[l] = ObjV[(i0 + l) * M + k];
            f[k] = x;
            bad |= x != x;
        }
        v4 best = {0.0, 0.0, 0.0, 0.0};
        v4i at = {-1, -1, -1, -1};
        for (int r = 0; r < K; ++r) {
            const double* ur = u.data() + (i64)r * M;
            v4 p = {0.0, 0.0, 0.0, 0.0};
            for (int k = 0; k < M; ++k) p = p + f[k] * ur[k];
            v4 d2 = {0.0, 0.0, 0.0, 0.0};
            for (int k = 0; k < M; ++k) {
                const v4 t = f[k] - p * ur[k];
                d2 = d2 + t * t;
            }
            // The first smallest d^2 wins; a NaN never does.
            const v4i take = (d2 < best) | ((at < 0) & (d2 == d2));
            const v4i here = {r, r, r, r};
            best = take ? d2 : best;
            at = take ? here : at;
        }
        for (int l = 0; l < lanes; ++l) {
            const bool none = bad[l] != 0 || at[l] < 0;
            index[i0 + l] = none ? -1 : (int)at[l];
            distance[i0 + l] = none ? nan : std::sqrt(best[l]);
        }
    }
    return true;
}
