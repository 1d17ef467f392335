#include "_ulvaro.hpp"

#include <cmath>
#include <cstdint>

namespace ulvaro_steps {

namespace {

using v2d = double __attribute__((vector_size(16)));
using v2m = long long __attribute__((vector_size(16)));

template <bool Max>
bool scan(const double* v, std::ptrdiff_t n, double& out) {
    v2d m0 = {v[0], v[0]}, m1 = m0;
    v2m nan = {0, 0};
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v2d x0, x1;
        __builtin_memcpy(&x0, v + i, sizeof x0);
        __builtin_memcpy(&x1, v + i + 2, sizeof x1);
        m0 = (Max ? x0 > m0 : x0 < m0) ? x0 : m0;
        m1 = (Max ? x1 > m1 : x1 < m1) ? x1 : m1;
        nan |= (x0 != x0) | (x1 != x1);
    }
    for (; i < n; ++i) {
        const v2d x = {v[i], v[i]};
        m0 = (Max ? x > m0 : x < m0) ? x : m0;
        nan |= x != x;
    }
    if (nan[0] || nan[1]) return false;
    const double c[4] = {m0[0], m0[1], m1[0], m1[1]};
    double best = c[0];
    for (double x : c) best = (Max ? x > best : x < best) ? x : best;
    if (best == 0)
        for (i = 0; i < n; ++i)
            if (v[i] == 0 && std::signbit(v[i]) != std::signbit(best)) return false;
    out = best;
    return true;
}

}  // namespace

bool all_equal(const double* v, std::ptrdiff_t n, double value) {
    for (std::ptrdiff_t b = 0; b < n; b += 256) {
        const std::ptrdiff_t e = n - b < 256 ? n : b + 256;
        long differ = 0;
        for (std::ptrdiff_t i = b; i < e; ++i) differ |= v[i] != value;
        if (differ) return false;
    }
    return true;
}

bool sole_extreme(const double* v, std::ptrdiff_t n, bool maximum, double& out) {
    return maximum ? scan<true>(v, n, out) : scan<false>(v, n, out);
}

evo::Ref shift(evo::Ref ObjV, PyObject* hi, bool in_place) {
    if (!in_place) return evo::subtract(ObjV.get(), hi);
    evo::subtract_in_place(ObjV.get(), hi);
    return ObjV;
}

evo::Ref scale(evo::Ref ObjV, PyObject* lo, PyObject* k, bool in_place) {
    const evo::Ref divisor = evo::negative(lo);
    if (!in_place) return evo::power(evo::negative(evo::divide(ObjV.get(), divisor.get()).get()).get(), k);
    evo::divide_in_place(ObjV.get(), divisor.get());
    evo::negative_in_place(ObjV.get());
    evo::power_in_place(ObjV.get(), k);
    return ObjV;
}

}  // namespace ulvaro_steps
