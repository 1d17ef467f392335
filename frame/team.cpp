// The thread team of the parallel kernels.
//
// A loop is cut into contiguous chunks of rows.  The calling thread publishes the loop, wakes the
// workers and claims chunks itself, one at a time, as the workers do; when no chunk is left it
// waits only for the chunks that workers claimed and are still computing.  A worker that wakes
// late (on a machine whose cores are busy) finds nothing left and goes back to sleep: nobody waits
// for it.  Every row's result depends on that row alone, so which thread computes a chunk changes
// no bit.
//
// The team has the OpenMP runtime's default size (OMP_NUM_THREADS): the calling thread and that
// many workers less one, started at the first parallel loop and kept for the life of the process.
// A forked child has none of the parent's workers and starts its own at its first parallel loop.
#include "team.hpp"

#include <omp.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

namespace evo {

namespace {

// The current loop is one 64-bit word: a generation (32 bits), its number of chunks (16) and the
// next unclaimed chunk (16).  A chunk is claimed by a compare-and-swap of that word, so a claim
// succeeds only while the loop it was read for is still the published one; the loop's description
// (function, context, rows), written before the generation is published, is read between the load
// of the word and the claim and is used only when the claim succeeds.
constexpr int kChunksPerThread = 8;
constexpr std::int64_t kMaxChunks = 0xffff;

std::uint64_t pack(std::uint32_t gen, std::uint64_t chunks, std::uint64_t next) {
    return (std::uint64_t)gen << 32 | chunks << 16 | next;
}
std::uint32_t gen_of(std::uint64_t w) { return (std::uint32_t)(w >> 32); }
std::int64_t chunks_of(std::uint64_t w) { return (std::int64_t)((w >> 16) & 0xffff); }
std::int64_t next_of(std::uint64_t w) { return (std::int64_t)(w & 0xffff); }

struct Team {
    std::mutex lock;                 // guards `posted` and the start of workers
    std::condition_variable wake;    // workers sleep here between loops
    std::uint64_t posted = 0;        // loops published so far (under `lock`)
    std::atomic<std::uint64_t> posted_hint{0};  // the same, for workers that spin before sleeping
    int workers = 0;                 // workers started in this process
    std::mutex caller;               // one loop at a time

    std::atomic<std::uint64_t> state{0};
    std::atomic<RangeFn> fn{nullptr};
    std::atomic<void*> ctx{nullptr};
    std::atomic<std::int64_t> rows{0};
    std::atomic<int> done{0};        // chunks of the current loop completed
};

// Never destroyed: workers may still sleep on it when the process exits.
Team* team = new Team;
std::uint32_t generation = 0;  // of the calling side, under Team::caller

std::int64_t chunk_begin(std::int64_t rows, std::int64_t chunks, std::int64_t c) { return rows * c / chunks; }

// Claims and computes chunks of the published loop until none is left.
void work(Team& t) {
    std::uint64_t w = t.state.load(std::memory_order_acquire);
    for (;;) {
        const std::int64_t chunks = chunks_of(w), c = next_of(w);
        if (c >= chunks) return;
        const RangeFn fn = t.fn.load(std::memory_order_relaxed);
        void* ctx = t.ctx.load(std::memory_order_relaxed);
        const std::int64_t rows = t.rows.load(std::memory_order_relaxed);
        if (!t.state.compare_exchange_weak(w, w + 1, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
        fn(ctx, chunk_begin(rows, chunks, c), chunk_begin(rows, chunks, c + 1));
        if (t.done.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks) t.done.notify_all();
        w = t.state.load(std::memory_order_acquire);
    }
}

thread_local int thread_index = 0;

void worker_loop(int index) {
    thread_index = index;
    Team& t = *team;
    std::uint64_t seen = t.posted_hint.load(std::memory_order_acquire);
    for (;;) {
        // A short spin catches the next loop of a sequence of calls without a sleep and a wake-up.
        for (int i = 0; i < 4000 && t.posted_hint.load(std::memory_order_acquire) == seen; ++i)
            __builtin_ia32_pause();
        {
            std::unique_lock<std::mutex> lk(t.lock);
            t.wake.wait(lk, [&] { return t.posted != seen; });
            seen = t.posted;
        }
        work(t);
    }
}

void start_workers(Team& t, int count) {
    std::lock_guard<std::mutex> lk(t.lock);
    while (t.workers < count) {
        ++t.workers;
        std::thread(worker_loop, t.workers).detach();
    }
}

// fork(): the child has only the forking thread, so its team starts afresh.  The locks are held
// across the fork so that the child's copies are in a known state, then made anew in the child.
void before_fork() {
    team->caller.lock();
    team->lock.lock();
}
void after_fork_parent() {
    team->lock.unlock();
    team->caller.unlock();
}
void after_fork_child() {
    team = new Team;  // the parent's copy stays behind, unused (its workers do not exist here)
}

const int registered = pthread_atfork(before_fork, after_fork_parent, after_fork_child);

}  // namespace

int team_size() {
    static const int size = omp_get_max_threads();
    return size;
}

int team_thread() noexcept { return thread_index; }

void run_team(std::int64_t rows, RangeFn fn, void* ctx) {
    (void)registered;
    Team& t = *team;
    std::lock_guard<std::mutex> one_loop(t.caller);
    const int size = team_size();
    if (t.workers < size - 1) start_workers(t, size - 1);
    std::int64_t chunks = (std::int64_t)size * kChunksPerThread;
    if (chunks > rows) chunks = rows;
    if (chunks > kMaxChunks) chunks = kMaxChunks;

    t.fn.store(fn, std::memory_order_relaxed);
    t.ctx.store(ctx, std::memory_order_relaxed);
    t.rows.store(rows, std::memory_order_relaxed);
    t.done.store(0, std::memory_order_relaxed);
    t.state.store(pack(++generation, (std::uint64_t)chunks, 0), std::memory_order_release);
    {
        std::lock_guard<std::mutex> lk(t.lock);
        t.posted_hint.store(++t.posted, std::memory_order_release);
    }
    t.wake.notify_all();

    work(t);
    // Only chunks that workers claimed remain; wait for those.
    int done = t.done.load(std::memory_order_acquire);
    for (int i = 0; done < chunks && i < 20000; ++i) {
        __builtin_ia32_pause();
        done = t.done.load(std::memory_order_acquire);
    }
    while (done < chunks) {
        t.done.wait(done, std::memory_order_acquire);
        done = t.done.load(std::memory_order_acquire);
    }
}

}  // namespace evo
