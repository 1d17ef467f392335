// The thread team of the parallel kernels.
//
// A loop is cut into contiguous chunks of rows.  The calling thread publishes the loop, wakes the
// workers and claims chunks itself, one at a time, as the workers do; when no chunk is left it
// waits only for the chunks that workers claimed and are still computing.  A worker that wakes
// late (on a machine whose cores are busy) finds nothing left and goes back to sleep: nobody waits
// for it.  Every row's result depends on that row alone, so which thread computes a chunk changes
// no bit.
//
// The team serves one loop at a time.  A loop that finds it busy (a call from another thread of
// the process) runs on its own calling thread instead of queueing: the same rows, the same bits.
//
// This file is the runtime library, loaded once per process by every module that runs loops on
// the team, so the process has one team: the calling thread and team_size() - 1 workers, started
// at the first parallel loop and kept for the life of the process.  A forked child has none of
// the parent's workers and starts its own at its first parallel loop.
#include "team.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
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
constexpr long kMaxTeam = 1024;  // threads; far beyond any machine's cores

std::uint64_t pack(std::uint32_t gen, std::uint64_t chunks, std::uint64_t next) {
    return (std::uint64_t)gen << 32 | chunks << 16 | next;
}
std::int64_t chunks_of(std::uint64_t w) { return (std::int64_t)((w >> 16) & 0xffff); }
std::int64_t next_of(std::uint64_t w) { return (std::int64_t)(w & 0xffff); }

struct Team {
    std::mutex lock;                 // guards `posted` and the start of workers
    std::condition_variable wake;    // workers sleep here between loops
    std::uint64_t posted = 0;        // loops published so far (under `lock`)
    std::atomic<std::uint64_t> posted_hint{0};  // the same, for workers that spin before sleeping
    int workers = 0;                 // workers started in this process
    std::atomic<bool> busy{false};   // a loop is being served; its caller owns what follows
    std::uint32_t generation = 0;

    std::atomic<std::uint64_t> state{0};
    std::atomic<RangeFn> fn{nullptr};
    std::atomic<void*> ctx{nullptr};
    std::atomic<std::int64_t> rows{0};
    std::atomic<int> done{0};        // chunks of the current loop completed
};

// Never destroyed: workers may still sleep on it when the process exits.
Team* team = new Team;

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

void worker_loop(Team* tp, int index) {
    thread_index = index;
    Team& t = *tp;
    std::uint64_t seen = t.posted_hint.load(std::memory_order_acquire);
    for (;;) {
        // A short spin catches the next loop of a sequence of calls without a sleep and a wake-up.
        for (int i = 0; i < 4000 && t.posted_hint.load(std::memory_order_acquire) == seen; ++i) cpu_relax();
        {
            std::unique_lock<std::mutex> lk(t.lock);
            t.wake.wait(lk, [&] { return t.posted != seen; });
            seen = t.posted;
        }
        work(t);
    }
}

// Starts workers up to `count`; a thread the system refuses leaves the team smaller.
void start_workers(Team& t, int count) {
    std::lock_guard<std::mutex> lk(t.lock);
    while (t.workers < count) {
        try {
            std::thread(worker_loop, &t, t.workers + 1).detach();
        } catch (const std::system_error&) {
            return;
        }
        ++t.workers;
    }
}

// A list of positive integers, "4" or "4,2" with blanks around the entries: its first entry, else 0.
long first_of_list(const char* text) {
    long first = 0;
    const char* p = text;
    for (;;) {
        while (std::isspace((unsigned char)*p)) ++p;
        if (!std::isdigit((unsigned char)*p)) return 0;
        errno = 0;
        char* end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (errno != 0 || v <= 0) return 0;
        if (first == 0) first = v;
        p = end;
        while (std::isspace((unsigned char)*p)) ++p;
        if (*p == '\0') return first;
        if (*p++ != ',') return 0;
    }
}

int default_size() {
    long n = 0;
    if (const char* env = std::getenv("OMP_NUM_THREADS")) n = first_of_list(env);
#ifdef __linux__
    cpu_set_t cpus;
    if (n <= 0 && sched_getaffinity(0, sizeof cpus, &cpus) == 0) n = CPU_COUNT(&cpus);
#endif
    if (n <= 0) n = sysconf(_SC_NPROCESSORS_ONLN);
    return (int)(n < 1 ? 1 : n > kMaxTeam ? kMaxTeam : n);
}

// Takes the team for one loop: false when another loop holds it.
bool try_take(Team& t) { return !t.busy.exchange(true, std::memory_order_acquire); }
void give_back(Team& t) { t.busy.store(false, std::memory_order_release); }

// fork(): the child has only the forking thread, so its team starts afresh.  The team is taken
// (a loop in flight on another thread is waited for) and its lock held across the fork, so that
// the child's copies are in a known state; the child then makes a new team.
void before_fork() {
    while (!try_take(*team)) std::this_thread::yield();
    team->lock.lock();
}
void after_fork_parent() {
    team->lock.unlock();
    give_back(*team);
}
void after_fork_child() {
    team = new Team;  // the parent's copy stays behind, unused (its workers do not exist here)
}

const int registered = pthread_atfork(before_fork, after_fork_parent, after_fork_child);

}  // namespace

int team_size() {
    static const int size = default_size();
    return size;
}

int team_thread() noexcept { return thread_index; }

void run_team(std::int64_t rows, RangeFn fn, void* ctx) {
    (void)registered;
    Team& t = *team;
    if (!try_take(t)) {
        fn(ctx, 0, rows);
        return;
    }
    const int size = team_size();
    if (t.workers < size - 1) start_workers(t, size - 1);
    std::int64_t chunks = (std::int64_t)(t.workers + 1) * kChunksPerThread;
    if (chunks > rows) chunks = rows;
    if (chunks > kMaxChunks) chunks = kMaxChunks;

    t.fn.store(fn, std::memory_order_relaxed);
    t.ctx.store(ctx, std::memory_order_relaxed);
    t.rows.store(rows, std::memory_order_relaxed);
    t.done.store(0, std::memory_order_relaxed);
    t.state.store(pack(++t.generation, (std::uint64_t)chunks, 0), std::memory_order_release);
    {
        std::lock_guard<std::mutex> lk(t.lock);
        t.posted_hint.store(++t.posted, std::memory_order_release);
    }
    t.wake.notify_all();

    work(t);
    // Only chunks that workers claimed remain; wait for those.
    int done = t.done.load(std::memory_order_acquire);
    for (int i = 0; done < chunks && i < 20000; ++i) {
        cpu_relax();
        done = t.done.load(std::memory_order_acquire);
    }
    while (done < chunks) {
        t.done.wait(done, std::memory_order_acquire);
        done = t.done.load(std::memory_order_acquire);
    }
    give_back(t);
}

}  // namespace evo
