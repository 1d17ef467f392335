// The feasibility rule shared by the objective-based operators.
#include <cstddef>
#include <cstdlib>

#include "../frame/objective.hpp"

namespace {

// Sum of the strictly positive violations of one row (zero, negative and NaN entries are left out).
inline double positive_sum(const double* cv, std::ptrdiff_t CVNum) {
    double singleSumCV = 0.0;
    for (std::ptrdiff_t c = 0; c < CVNum; ++c)
        if (cv[c] > 0) singleSumCV += cv[c];
    return singleSumCV;
}

}  // namespace

bool modifyObjV(double* ObjV, const double* CV, int Nind, int M, int CVNum) {
    if (Nind <= 0 || M <= 0 || CVNum <= 0) return true;
    const std::ptrdiff_t N = Nind, L = M, C = CVNum;

    // Rows before the first infeasible one keep their values; a feasible population needs no maxima.
    std::ptrdiff_t first = 0;
    while (first < N && !(positive_sum(CV + first * C, C) > 0)) ++first;
    if (first == N) return true;

    double* maxObjV = (double*)std::malloc((size_t)L * sizeof(double));
    if (maxObjV == nullptr) return false;
    // Column maxima over the values on entry, walking the rows in order and taking only a
    // strictly greater value (a NaN in row 0 stays, a later NaN is passed over).
    for (std::ptrdiff_t j = 0; j < L; ++j) maxObjV[j] = ObjV[j];
    for (std::ptrdiff_t i = 1; i < N; ++i) {
        const double* row = ObjV + i * L;
        for (std::ptrdiff_t j = 0; j < L; ++j) maxObjV[j] = row[j] > maxObjV[j] ? row[j] : maxObjV[j];
    }
    for (std::ptrdiff_t i = first; i < N; ++i) {
        const double singleSumCV = positive_sum(CV + i * C, C);
        if (singleSumCV > 0) {
            double* row = ObjV + i * L;
            for (std::ptrdiff_t j = 0; j < L; ++j) row[j] = maxObjV[j] + singleSumCV;
        }
    }
    std::free(maxObjV);
    return true;
}
