// Row loops of the kernels: one per-row body serves the serial and the parallel form.
//
// Parallel == 1 runs rows 0..n-1 on the thread team (team.hpp): the rows are cut into contiguous
// chunks, and whichever thread claims a chunk walks its rows in increasing order, each row exactly
// as the serial loop does, so a body whose rows are independent gives the same bits for every team
// size and schedule.  Parallel == 0 runs the loop on the calling thread; any other value does
// nothing.
//
// A team is used only when the loop holds enough work to pay for waking it (`work` is the number
// of element operations); below that the calling thread runs the rows alone.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "team.hpp"

namespace evo {

// Loops smaller than this many element operations run on the calling thread.
inline constexpr std::int64_t kTeamWork = 1 << 15;

// Row bodies do not throw: a loop's chunks may be running on other threads.
template <class Body>
void call_range(void* ctx, std::int64_t begin, std::int64_t end) noexcept {
    (*static_cast<Body*>(ctx))(begin, end);
}

// body(begin, end) over consecutive ranges of rows that together cover 0..n-1; Parallel as above.
template <class Body>
inline void for_ranges(std::int64_t n, std::int64_t work, int Parallel, Body&& body) {
    if (Parallel != 0 && Parallel != 1) return;
    if (n <= 0) return;
    using B = std::remove_reference_t<Body>;
    if (Parallel == 1 && work >= kTeamWork && n > 1 && team_size() > 1)
        run_team(n, &call_range<B>, const_cast<void*>(static_cast<const void*>(std::addressof(body))));
    else
        body(std::int64_t{0}, n);
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
