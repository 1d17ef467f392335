// The thread team of the parallel kernels (see team.cpp).
#pragma once

#include <cstdint>

namespace evo {

using RangeFn = void (*)(void* ctx, std::int64_t begin, std::int64_t end);

// The team's size: the OpenMP runtime's default number of threads, the calling thread included.
int team_size();

// fn(ctx, begin, end) over contiguous chunks that together cover rows [0, rows), each chunk once,
// on the calling thread and the team's workers; returns when every chunk has been computed.
void run_team(std::int64_t rows, RangeFn fn, void* ctx);

}  // namespace evo
