// The thread team of the parallel kernels (see team.cpp).  It lives in the runtime library, one
// copy per process, whichever modules use it.
#pragma once

#include <cstdint>

#define EVOCORE_RUNTIME_API __attribute__((visibility("default")))

namespace evo {

using RangeFn = void (*)(void* ctx, std::int64_t begin, std::int64_t end);

// The team's size, the calling thread included: OMP_NUM_THREADS when it holds a positive number
// (the first of a list), else the number of processors this process may run on.
EVOCORE_RUNTIME_API int team_size();

// The index of the running thread in its team: 0 for the calling thread (and outside any team),
// 1 .. team_size() - 1 for the workers.  For scratch memory kept per thread.
EVOCORE_RUNTIME_API int team_thread() noexcept;

// fn(ctx, begin, end) over contiguous chunks that together cover rows [0, rows), each chunk once,
// on the calling thread and the team's workers; returns when every chunk has been computed.  When
// the team is serving another loop (a call from another thread), the calling thread computes all
// the rows itself, as fn(ctx, 0, rows).
EVOCORE_RUNTIME_API void run_team(std::int64_t rows, RangeFn fn, void* ctx);

// Spin-wait hint to the processor.
inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    __asm__ __volatile__("yield");
#endif
}

}  // namespace evo
