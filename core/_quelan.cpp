// Penalty-based boundary intersection kernels.
#include "_quelan.hpp"

#include <cmath>
#include <cstddef>

#include "../frame/rows.hpp"

namespace {

constexpr int kBlock = 16;

// Rows [begin, end) of one block: row r aggregates the objective row at F + r * Fstride (Fstride 0
// for the one-row form) with weight row r.  The three sums of a row run in column order in one
// pass; then the square roots and quotients of the block's rows are taken side by side.  Nothing
// is guarded: a zero weight row or a row equal to the ideal point gives 0/0 = NaN.
inline void pbi_block(const double* F, std::ptrdiff_t Fstride, const double* weights, const double* z,
                      std::ptrdiff_t L, double theta, double* out, std::int64_t begin, std::int64_t end) {
    double sw[kBlock], dot[kBlock], sd[kBlock];
    const int n = (int)(end - begin);
    for (int b = 0; b < n; ++b) {
        const double* f = F + (begin + b) * Fstride;
        const double* w = weights + (begin + b) * L;
        double s_w = 0.0, s_dot = 0.0, s_d = 0.0;
        for (std::ptrdiff_t j = 0; j < L; ++j) {
            s_w += w[j] * w[j];
            const double temp = f[j] - z[j];
            s_dot += w[j] * temp;
            s_d += temp * temp;
        }
        sw[b] = s_w;
        dot[b] = s_dot;
        sd[b] = s_d;
    }
    for (int b = 0; b < n; ++b) {
        const double norm_weights = std::sqrt(std::fabs(sw[b]));
        const double norm_Obj = std::sqrt(std::fabs(sd[b]));
        const double d1 = dot[b] / norm_weights;
        const double q = d1 / norm_Obj;
        const double d2 = std::sqrt(std::fabs(1 - q * q)) * norm_Obj;
        out[begin + b] = d1 + d2 * theta;
    }
}

void pbi_rows(const double* ObjV, std::ptrdiff_t Fstride, int Nind, int Lind, float Theta, const double* weights,
              const double* idealPoint, double* CombinObjV, int Parallel) {
    const std::ptrdiff_t L = Lind;
    const double theta = Theta;
    evo::for_row_blocks<kBlock>(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t begin, std::int64_t end) {
        pbi_block(ObjV, Fstride, weights, idealPoint, L, theta, CombinObjV, begin, end);
    });
}

}  // namespace

void _quelan(const double* ObjV, int Nind, int Lind, float Theta, const double* weights, const double* idealPoint,
             double* CombinObjV, int Parallel) {
    pbi_rows(ObjV, Lind, Nind, Lind, Theta, weights, idealPoint, CombinObjV, Parallel);
}

void _quelan_1D(const double* ObjV, int Nind, int Lind, float Theta, const double* weights,
                const double* idealPoint, double* CombinObjV, int Parallel) {
    pbi_rows(ObjV, 0, Nind, Lind, Theta, weights, idealPoint, CombinObjV, Parallel);
}
