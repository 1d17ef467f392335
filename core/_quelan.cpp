// Penalty-based boundary intersection kernels.
#include "_quelan.hpp"

#include <cmath>
#include <cstddef>

#include "../frame/rows.hpp"

namespace {

// The three sums run in column order in one pass; nothing is guarded, so a zero weight row or a
// row equal to the ideal point gives 0/0 = NaN.
inline double pbi(const double* F, const double* w, const double* z, std::ptrdiff_t L, double theta) {
    double sw = 0.0, dot = 0.0, sd = 0.0;
    for (std::ptrdiff_t j = 0; j < L; ++j) {
        sw += w[j] * w[j];
        const double temp = F[j] - z[j];
        dot += w[j] * temp;
        sd += temp * temp;
    }
    const double norm_weights = std::sqrt(std::fabs(sw));
    const double norm_Obj = std::sqrt(std::fabs(sd));
    const double d1 = dot / norm_weights;
    const double q = d1 / norm_Obj;
    const double d2 = std::sqrt(std::fabs(1 - q * q)) * norm_Obj;
    return d1 + d2 * theta;
}

}  // namespace

void _quelan(const double* ObjV, int Nind, int Lind, float Theta, const double* weights, const double* idealPoint,
             double* CombinObjV, int Parallel) {
    const std::ptrdiff_t L = Lind;
    const double theta = Theta;
    evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
        CombinObjV[i] = pbi(ObjV + i * L, weights + i * L, idealPoint, L, theta);
    });
}

void _quelan_1D(const double* ObjV, int Nind, int Lind, float Theta, const double* weights,
                const double* idealPoint, double* CombinObjV, int Parallel) {
    const std::ptrdiff_t L = Lind;
    const double theta = Theta;
    evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
        CombinObjV[i] = pbi(ObjV, weights + i * L, idealPoint, L, theta);
    });
}
