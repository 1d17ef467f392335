// Weighted Chebyshev aggregation kernels.
#include "_druvik.hpp"

#include <cmath>
#include <cstddef>

#include "../frame/rows.hpp"

namespace {

// The running maximum of |F_j - z_j| * w_j in column order, replaced only by a strictly greater
// value: a NaN in column 0 stays the result, a later NaN is passed over.  With no objectives the
// aggregation is 0.0.
inline double chebyshev(const double* F, const double* w, const double* z, std::ptrdiff_t L) {
    if (L <= 0) return 0.0;
    double temp_value = std::fabs(F[0] - z[0]) * w[0];
    for (std::ptrdiff_t j = 1; j < L; ++j) {
        const double t = std::fabs(F[j] - z[j]) * w[j];
        temp_value = t > temp_value ? t : temp_value;
    }
    return temp_value;
}

}  // namespace

void _druvik(const double* ObjV, int Nind, int Lind, const double* weights, const double* idealPoint,
             double* CombinObjV, int Parallel) {
    const std::ptrdiff_t L = Lind;
    evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
        CombinObjV[i] = chebyshev(ObjV + i * L, weights + i * L, idealPoint, L);
    });
}

void _druvik_1D(const double* ObjV, int Nind, int Lind, const double* weights, const double* idealPoint,
                double* CombinObjV, int Parallel) {
    const std::ptrdiff_t L = Lind;
    evo::for_rows(Nind, (std::int64_t)Nind * L, Parallel, [&](std::int64_t i) {
        CombinObjV[i] = chebyshev(ObjV, weights + i * L, idealPoint, L);
    });
}
