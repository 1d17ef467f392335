// The feasibility rule shared by the objective-based operators.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

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

constexpr std::ptrdiff_t kStreamBytes = std::ptrdiff_t{4} << 20;

// *p = v by a non-temporal store (the same bits, without reading p's cache line first) where the
// processor has one, else by a plain store; stream_fence() orders the non-temporal stores before
// what follows.
#if defined(__x86_64__)
inline void stream_store(double* p, double v) {
    long long bits;
    std::memcpy(&bits, &v, sizeof bits);
    _mm_stream_si64((long long*)p, bits);
}
inline void stream_fence() { _mm_sfence(); }
#else
inline void stream_store(double* p, double v) { *p = v; }
inline void stream_fence() {}
#endif

// Rows first .. N-1 of R: the column maxima plus the row's violation where it is positive, the
// row of ObjV itself elsewhere (select, so that the loop has no branch on the data).
template <bool Stream>
void penalty_rows(const double* ObjV, const double* CV, double* R, const double* maxObjV, std::ptrdiff_t first,
                  std::ptrdiff_t N, std::ptrdiff_t L, std::ptrdiff_t C) {
    for (std::ptrdiff_t i = first; i < N; ++i) {
        const double singleSumCV = positive_sum(CV + i * C, C);
        const bool penalised = singleSumCV > 0;
        const double* row = ObjV + i * L;
        double* out = R + i * L;
        for (std::ptrdiff_t j = 0; j < L; ++j) {
            const double v = select(penalised, maxObjV[j] + singleSumCV, row[j]);
            if constexpr (Stream)
                stream_store(out + j, v);
            else
                out[j] = v;
        }
    }
}

// Rows before the first infeasible one keep their values: the index of that row (N when every row
// is feasible).
std::ptrdiff_t first_infeasible(const double* CV, std::ptrdiff_t N, std::ptrdiff_t C) {
    std::ptrdiff_t first = 0;
    while (first < N && !(positive_sum(CV + first * C, C) > 0)) ++first;
    return first;
}

// Rows `first` .. N-1 of R from ObjV with the column maxima maxObjV (R may be ObjV itself).
void penalty(const double* ObjV, const double* CV, double* R, const double* maxObjV, std::ptrdiff_t first,
             std::ptrdiff_t N, std::ptrdiff_t L, std::ptrdiff_t C) {
    // A new matrix larger than the caches is written around them: its lines need not be read first.
    const bool stream = R != ObjV && N * L * (std::ptrdiff_t)sizeof(double) >= kStreamBytes;
    if (stream) {
        penalty_rows<true>(ObjV, CV, R, maxObjV, first, N, L, C);
        stream_fence();
    } else {
        penalty_rows<false>(ObjV, CV, R, maxObjV, first, N, L, C);
    }
}

// The rule from ObjV into R (R may be ObjV itself): the maxima are taken over ObjV as it is on
// entry, then every row from the first infeasible one is written to R.
bool penalise(const double* ObjV, const double* CV, double* R, std::ptrdiff_t N, std::ptrdiff_t L,
              std::ptrdiff_t C) {
    // A feasible population needs no maxima.
    const std::ptrdiff_t first = first_infeasible(CV, N, C);
    if (R != ObjV) std::memcpy(R, ObjV, (size_t)(first * L) * sizeof(double));
    if (first == N) return true;

    double* maxObjV = (double*)std::malloc((size_t)L * sizeof(double));
    if (maxObjV == nullptr) return false;
    // Column maxima over the values on entry, walking the rows in order and taking only a strictly
    // greater value (a NaN in row 0 stays, a later NaN is passed over).
    evo::fold_columns<evo::StrictMax>(ObjV, N, L, maxObjV);
    penalty(ObjV, CV, R, maxObjV, first, N, L, C);
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

void penalised_rows(const double* ObjV, const double* CV, const double* maxObjV, double* R, int Nind, int M,
                    int CVNum) {
    if (Nind <= 0 || M <= 0) return;
    const std::ptrdiff_t first = first_infeasible(CV, Nind, CVNum);
    if (R != ObjV) std::memcpy(R, ObjV, (size_t)(first * M) * sizeof(double));
    if (first < Nind) penalty(ObjV, CV, R, maxObjV, first, Nind, M, CVNum);
}
