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

// body(begin, end) once per thread with the thread's rows; Parallel as above.
template <class Body>
inline void for_ranges(std::int64_t n, std::int64_t work, int Parallel, Body&& body) {
    if (Parallel != 0 && Parallel != 1) return;
    if (Parallel == 1 && work >= kTeamWork) {
#pragma omp parallel
        {
#ifdef _OPENMP
            const RowRange rows = static_split(n, omp_get_num_threads(), omp_get_thread_num());
#else
            const RowRange rows{0, n};
#endif
            if (rows.begin < rows.end) body(rows.begin, rows.end);
        }
    } else if (n > 0) {
        body(std::int64_t{0}, n);
    }
}

// body(i) for every row i.
template <class Body>
inline void for_rows(std::int64_t n, std::int64_t work, int Parallel, Body&& body) {
    for_ranges(n, work, Parallel, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) body(i);
    });
}

// body(begin, end) over consecutive blocks of at most B rows, so that a body can compute the
// rows of a block side by side (vectorised across rows); each row is still computed alone.
template <int B, class Body>
inline void for_row_blocks(std::int64_t n, std::int64_t work, int Parallel, Body&& body) {
    for_ranges(n, work, Parallel, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t b = begin; b < end; b += B) body(b, b + B < end ? b + B : end);
    });
}

}  // namespace evo
