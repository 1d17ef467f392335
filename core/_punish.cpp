// The feasibility rule shared by the objective-based operators.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../frame/columns.hpp"
#include "../frame/objective.hpp"

namespace {

// Sum of the strictly positive violations of one row, in column order from +0.0.  Zero, negative
// and NaN entries add +0.0, which leaves every partial sum's bits as they are (no partial sum is
// -0.0), so the sum needs no data-dependent branch.
inline double positive_sum(const double* cv, std::ptrdiff_t CVNum) {
    double singleSumCV = 0.0;
    for (std::ptrdiff_t c = 0; c < CVNum; ++c) singleSumCV += cv[c] > 0 ? cv[c] : 0.0;
    return singleSumCV;
}

// `take ? a : b` by a bit mask, so that no loop version branches on `take`.
inline double select(bool take, double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    const std::uint64_t mask = 0 - (std::uint64_t)take;
    const std::uint64_t z = (x & mask) | (y & ~mask);
    double r;
    std::memcpy(&r, &z, sizeof r);
    return r;
}

// The rule from ObjV into R (R may be ObjV itself): the maxima are taken over ObjV as it is on
// entry, then every row from the first infeasible one is written to R, a feasible row with its
// own values, so that the pass has no branch on the data.
bool penalise(const double* ObjV, const double* CV, double* R, std::ptrdiff_t N, std::ptrdiff_t L,
              std::ptrdiff_t C) {
    // Rows before the first infeasible one keep their values; a feasible population needs no maxima.
    std::ptrdiff_t first = 0;
    while (first < N && !(positive_sum(CV + first * C, C) > 0)) ++first;
    if (R != ObjV) std::memcpy(R, ObjV, (size_t)(first * L) * sizeof(double));
    if (first == N) return true;

    double* maxObjV = (double*)std::malloc((size_t)L * sizeof(double));
    if (maxObjV == nullptr) return false;
    // Column maxima over the values on entry, walking the rows in order and taking only a strictly
    // greater value (a NaN in row 0 stays, a later NaN is passed over).
    evo::fold_columns<evo::StrictMax>(ObjV, N, L, maxObjV);
    for (std::ptrdiff_t i = first; i < N; ++i) {
        const double singleSumCV = positive_sum(CV + i * C, C);
        const bool penalised = singleSumCV > 0;
        const double* row = ObjV + i * L;
        double* out = R + i * L;
        for (std::ptrdiff_t j = 0; j < L; ++j) out[j] = select(penalised, maxObjV[j] + singleSumCV, row[j]);
    }
    std::free(maxObjV);
    return true;
}

}  // namespace

bool modifyObjV(double* ObjV, const double* CV, int Nind, int M, int CVNum) {
    if (Nind <= 0 || M <= 0 || CVNum <= 0) return true;
    return penalise(ObjV, CV, ObjV, Nind, M, CVNum);
}

bool penalised_copy(const double* ObjV, const double* CV, double* R, int Nind, int M, int CVNum) {
    if (Nind <= 0 || M <= 0) return true;
    if (CVNum <= 0) {
        std::memcpy(R, ObjV, (size_t)Nind * (size_t)M * sizeof(double));
        return true;
    }
    return penalise(ObjV, CV, R, Nind, M, CVNum);
}
