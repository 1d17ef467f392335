// Reference-line association kernel.
//
// Rows are computed side by side, one per vector lane (two lanes in the x86-64 baseline form, four
// in the AVX2 form, picked by processor): every lane takes each sum in the documented order (the
// build never fuses a product into a sum), so a row gets the bits of the plain loop whatever the
// form and whichever lanes its neighbours fill.  The number of objectives is a constant of the
// loop up to eight.  The unit reference vectors and the objective rows are copied into private
// memory before anything is compared.
#include "_associate.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "_forms.hpp"

namespace {

using i64 = std::int64_t;

#define EVO_INLINE inline __attribute__((always_inline))

typedef double v2 __attribute__((vector_size(2 * sizeof(double))));
typedef double v4 __attribute__((vector_size(4 * sizeof(double))));
template <int L>
struct Lanes;
template <>
struct Lanes<2> {
    using vec = v2;
};
template <>
struct Lanes<4> {
    using vec = v4;
};

// Rows i0 .. i0 + L - 1 (those below Nind) against every reference; MC objectives when MC > 0,
// else M, whose lanes are kept in `spill` (M vectors).  Lanes past Nind compute zeros and are
// not written.  The index is carried as a double (exact for any reference count) so that every
// comparison is one of doubles.
template <int L, int MC>
EVO_INLINE void rows(const double* ObjV, i64 Nind, int M, const double* u, int K, int* index, double* distance,
                     i64 i0, typename Lanes<L>::vec* spill) {
    using vec = typename Lanes<L>::vec;
    constexpr int kMaxM = MC > 0 ? MC : 1;
    const int m = MC > 0 ? MC : M;
    vec fixed[kMaxM];
    vec* f = MC > 0 ? fixed : spill;
    const int lanes = Nind - i0 < L ? (int)(Nind - i0) : L;
    vec bad = {};
    for (int k = 0; k < m; ++k) {
        vec x = {};
        for (int l = 0; l < lanes; ++l) x[l] = ObjV[(i0 + l) * m + k];
        f[k] = x;
        bad = bad + (x != x ? vec{} + 1.0 : vec{});
    }
    vec best = {}, at = vec{} - 1.0;
    for (int r = 0; r < K; ++r) {
        const double* ur = u + (i64)r * m;
        vec p = {};
        for (int k = 0; k < m; ++k) p = p + f[k] * ur[k];
        vec d2 = {};
        for (int k = 0; k < m; ++k) {
            const vec t = f[k] - p * ur[k];
            d2 = d2 + t * t;
        }
        // The first smallest d^2 wins; a NaN never does.
        const auto take = (d2 < best) | ((at < 0.0) & (d2 == d2));
        best = take ? d2 : best;
        at = take ? vec{} + (double)r : at;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int l = 0; l < lanes; ++l) {
        const bool none = bad[l] != 0 || at[l] < 0;
        index[i0 + l] = none ? -1 : (int)at[l];
        distance[i0 + l] = none ? nan : std::sqrt(best[l]);
    }
}

// n vectors in memory aligned to their size.  Neither alignof nor std::vector will do: outside the
// AVX2 form's code a 32-byte vector type is given the baseline's 16-byte alignment (and an
// alignment attribute on it is dropped where it names a template argument), while the AVX2 form
// moves such vectors with instructions that need 32.
template <class Vec>
class Spill {
public:
    static constexpr std::align_val_t kAlign{sizeof(Vec)};
    explicit Spill(int n) : p_(n > 0 ? static_cast<Vec*>(::operator new((std::size_t)n * sizeof(Vec), kAlign)) : nullptr) {}
    ~Spill() {
        if (p_) ::operator delete(p_, kAlign);
    }
    Spill(const Spill&) = delete;
    Spill& operator=(const Spill&) = delete;
    Vec* get() const noexcept { return p_; }

private:
    Vec* p_;
};

template <int L, int MC>
EVO_INLINE void all_rows(const double* ObjV, i64 Nind, int M, const double* u, int K, int* index, double* distance) {
    const Spill<typename Lanes<L>::vec> spill(MC > 0 ? 0 : M);
    for (i64 i0 = 0; i0 < Nind; i0 += L) rows<L, MC>(ObjV, Nind, M, u, K, index, distance, i0, spill.get());
}

template <int L>
EVO_INLINE void by_objectives(const double* ObjV, i64 Nind, int M, const double* u, int K, int* index,
                              double* distance) {
    switch (M) {
        case 1: return all_rows<L, 1>(ObjV, Nind, M, u, K, index, distance);
        case 2: return all_rows<L, 2>(ObjV, Nind, M, u, K, index, distance);
        case 3: return all_rows<L, 3>(ObjV, Nind, M, u, K, index, distance);
        case 4: return all_rows<L, 4>(ObjV, Nind, M, u, K, index, distance);
        case 5: return all_rows<L, 5>(ObjV, Nind, M, u, K, index, distance);
        case 6: return all_rows<L, 6>(ObjV, Nind, M, u, K, index, distance);
        case 7: return all_rows<L, 7>(ObjV, Nind, M, u, K, index, distance);
        case 8: return all_rows<L, 8>(ObjV, Nind, M, u, K, index, distance);
        default: return all_rows<L, 0>(ObjV, Nind, M, u, K, index, distance);
    }
}

using Rows = void (*)(const double*, i64, int, const double*, int, int*, double*);

#ifdef EVOCORE_X86_FORMS
__attribute__((target("avx2"))) void rows_avx2(const double* ObjV, i64 Nind, int M, const double* u, int K,
                                                int* index, double* distance) {
    by_objectives<4>(ObjV, Nind, M, u, K, index, distance);
}
#endif
void rows_baseline(const double* ObjV, i64 Nind, int M, const double* u, int K, int* index, double* distance) {
    by_objectives<2>(ObjV, Nind, M, u, K, index, distance);
}

constinit Forms<Rows> kForms{
#ifdef EVOCORE_X86_FORMS
    {"avx2", rows_avx2},
#endif
    {"baseline", rows_baseline}};

}  // namespace

evo::FormChoice& _associate_forms() { return kForms; }

bool _associate(const double* ObjV, int Nind, int M, const double* refpoints, int K, int* index, double* distance) {
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
    kForms.fn()(ObjV, Nind, M, u.data(), K, index, distance);
    return true;
}
