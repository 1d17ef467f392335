// Row loops of the kernels: one per-row body serves the serial and the parallel form.
//
// Parallel == 1 splits rows 0..n-1 statically over an OpenMP team: in a team of T threads,
// thread t takes q+1 rows starting at t*(q+1) when t < r, else q rows starting at r + t*q, with
// q = n / T and r = n % T.  Each thread walks its rows in increasing order, exactly as the serial
// loop does, so a deterministic body gives the same bits either way.  Parallel == 0 runs the
// loop on the calling thread; any other value does nothing.
//
// A team is started only when the loop holds enough work to pay for waking it (`work` is the
// number of element operations); below that the calling thread runs the rows alone, which is
// the same split with T = 1.
#pragma once

#include <cstdint>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace evo {

// Loops smaller than this many element operations run on the calling thread.
inline constexpr std::int64_t kTeamWork = 1 << 15;

struct RowRange {
    std::int64_t begin, end;
};

// The rows of thread t in a team of T.
inline RowRange static_split(std::int64_t n, int T, int t) {
    const std::int64_t q = n / T, r = n % T;
    if (t < r) return {t * (q + 1), t * (q + 1) + q + 1};
    return {r + t * q, r + t * q + q};
}

template <class Body>
inline void for_rows(std::int64_t n, std::int64_t work, int Parallel, Body&& body) {
    if (Parallel == 1) {
#pragma omp parallel if (work >= kTeamWork)
        {
#ifdef _OPENMP
            const RowRange rows = static_split(n, omp_get_num_threads(), omp_get_thread_num());
#else
            const RowRange rows{0, n};
#endif
            for (std::int64_t i = rows.begin; i < rows.end; ++i) body(i);
        }
    } else if (Parallel == 0) {
        for (std::int64_t i = 0; i < n; ++i) body(i);
    }
}

}  // namespace evo
