// The thread team of the parallel kernels (see team.cpp).
#pragma once

#include <cstdint>

namespace evo {

using RangeFn = void (*)(void* ctx, std::int64_t begin, std::int64_t end);

// The team's size: the OpenMP runtime's default number of threads, the calling thread included.
int team_size();

// The index of the running thread in its team: 0 for the calling thread (and outside any team),
// 1 .. team_size() - 1 for the workers.  For scratch memory kept per thread.
int team_thread() noexcept;

// fn(ctx, begin, end) over contiguous chunks that together cover rows [0, rows), each chunk once,
// on the calling thread and the team's workers; returns when every chunk has been computed.
void run_team(std::int64_t rows, RangeFn fn, void* ctx);

}  // namespace evo
