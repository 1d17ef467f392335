// Scratch of the permutation kernels: sets of gene values, the order-crossover child and the
// per-pair random draws, shared by the permutation check and the three crossover kernels.
//
// A set of gene values holds the genes of one row (the check) or of one kept segment (a child).
// It is emptied in O(1) by starting a new generation, so one table serves every row a thread
// works on.  Two layouts give the same answers:
// - a direct table of Ub - Lb + 1 generation stamps, indexed by g - Lb, when that range is small
//   next to the row length;
// - an open-addressing hash of at least 2 * Lind slots otherwise, so that genes spread over a
//   wide range (say {0, 2^30}) cost memory in proportion to Lind, not to the range.
// Both are chosen once per call and the kernels are instantiated for each.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "../frame/random.hpp"
#include "../frame/rows.hpp"

namespace perm {

// Direct tables are used while the gene range is at most this many entries per gene plus a
// constant (a few kilobytes), beyond which the hash is smaller.
inline bool use_direct(std::int64_t var_num, std::int64_t Lind) { return var_num <= 4 * Lind + 1024; }

class DirectSet {
public:
    DirectSet(std::int64_t Lb, std::int64_t var_num, std::int64_t /*Lind*/)
        : Lb_(Lb), stamp_((std::size_t)var_num, 0u) {}

    void clear() noexcept {
        if (++gen_ == 0) {  // after 2^32 generations the stamps start over
            std::memset(stamp_.data(), 0, stamp_.size() * sizeof(std::uint32_t));
            gen_ = 1;
        }
    }
    void add(int g) noexcept { stamp_[index(g)] = gen_; }
    bool has(int g) const noexcept { return stamp_[index(g)] == gen_; }
    // Adds g; true when it was there already.
    bool insert(int g) noexcept {
        std::uint32_t& s = stamp_[index(g)];
        const bool seen = s == gen_;
        s = gen_;
        return seen;
    }

private:
    std::size_t index(int g) const noexcept { return (std::size_t)((std::int64_t)g - Lb_); }
    std::int64_t Lb_;
    std::vector<std::uint32_t> stamp_;
    std::uint32_t gen_ = 0;
};

class HashSet {
public:
    HashSet(std::int64_t /*Lb*/, std::int64_t /*var_num*/, std::int64_t Lind) {
        int bits = 3;
        while (bits < 62 && (std::int64_t{1} << bits) < 2 * Lind) ++bits;
        shift_ = 64 - bits;
        mask_ = (std::uint64_t{1} << bits) - 1;
        slot_.assign((std::size_t)mask_ + 1, Slot{0, 0u});
    }

    void clear() noexcept {
        if (++gen_ == 0) {
            std::memset((void*)slot_.data(), 0, slot_.size() * sizeof(Slot));
            gen_ = 1;
        }
    }
    void add(int g) noexcept { insert(g); }
    bool has(int g) const noexcept {
        for (std::uint64_t h = home(g);; h = (h + 1) & mask_) {
            const Slot& s = slot_[h];
            if (s.gen != gen_) return false;
            if (s.key == g) return true;
        }
    }
    bool insert(int g) noexcept {
        for (std::uint64_t h = home(g);; h = (h + 1) & mask_) {
            Slot& s = slot_[h];
            if (s.gen != gen_) {
                s = Slot{g, gen_};
                return false;
            }
            if (s.key == g) return true;
        }
    }

private:
    struct Slot {
        std::int32_t key;
        std::uint32_t gen;
    };
    std::uint64_t home(int g) const noexcept {
        return ((std::uint64_t)(std::uint32_t)g * 0x9E3779B97F4A7C15ull) >> shift_;
    }
    std::vector<Slot> slot_;
    std::uint64_t mask_ = 0;
    int shift_ = 64;
    std::uint32_t gen_ = 0;
};

// The scratch of one thread: a value set, a row of filler genes and a flag of its own.
template <class Set>
struct Scratch {
    Scratch(std::int64_t Lb, std::int64_t var_num, std::int64_t Lind)
        : set(Lb, var_num, Lind), fill((std::size_t)(Lind > 0 ? Lind : 1)) {}
    Set set;
    std::vector<int> fill;
    bool flag = false;
};

// One scratch per thread that may run a kernel's loop (one for the serial form).  Empty when
// the memory could not be had.
template <class Set>
class Pool {
public:
    Pool(int Parallel, std::int64_t Lb, std::int64_t var_num, std::int64_t Lind) {
        int slots = 1;
#ifdef _OPENMP
        if (Parallel == 1) slots = omp_get_max_threads();
#else
        (void)Parallel;
#endif
        try {
            s_.reserve((std::size_t)slots);
            for (int t = 0; t < slots; ++t) s_.emplace_back(Lb, var_num, Lind);
        } catch (const std::bad_alloc&) {
            s_.clear();
            s_.shrink_to_fit();
        }
    }
    bool ok() const noexcept { return !s_.empty(); }
    // The scratch of the calling thread.
    Scratch<Set>& mine() noexcept {
#ifdef _OPENMP
        return s_[(std::size_t)omp_get_thread_num()];
#else
        return s_[0];
#endif
    }
    bool any_flag() const noexcept {
        for (const auto& s : s_)
            if (s.flag) return true;
        return false;
    }

private:
    std::vector<Scratch<Set>> s_;
};

// A draw used as a probability: rand() * 2^-31, in [0, 1).
inline double unit(evo::CRand& r) noexcept { return (double)r.next() * 4.656612873077393e-10; }

// Two distinct columns of 0..n-1 (n > 1): the first, then an offset of 1..n-1 from it.
struct Cuts {
    std::int64_t lo, hi;
};
inline Cuts draw_cuts(evo::CRand& r, std::int64_t n) noexcept {
    const std::int64_t c1 = r.next() % n;
    const std::int64_t c2 = (c1 + r.next() % (n - 1) + 1) % n;
    return c1 < c2 ? Cuts{c1, c2} : Cuts{c2, c1};
}

// The order-crossover child of keeper K and filler F (rows of L genes) with the cuts [lo, hi]:
// K's genes lo..hi stay in place, and the other columns, 0..lo-1 then hi+1..L-1, take F's genes
// that are not in that segment, in F's order from its first column.
template <class Set>
inline void ox_child(const int* K, const int* F, std::int64_t L, Cuts c, int* child, Scratch<Set>& s) {
    Set& seg = s.set;
    seg.clear();
    for (std::int64_t j = c.lo; j <= c.hi; ++j) seg.add(K[j]);
    int* fill = s.fill.data();
    std::int64_t n = 0;
    for (std::int64_t p = 0; p < L; ++p) {
        const int v = F[p];
        fill[n] = v;
        n += !seg.has(v);
    }
    // at least L - (hi - lo + 1) genes of F remain, since K's segment removes at most that many
    std::memcpy(child, fill, (std::size_t)c.lo * sizeof(int));
    std::memcpy(child + c.lo, K + c.lo, (std::size_t)(c.hi - c.lo + 1) * sizeof(int));
    std::memcpy(child + c.hi + 1, fill + c.lo, (std::size_t)(L - 1 - c.hi) * sizeof(int));
}

// body(i, generator, scratch) for i = 0..n-1.  Serially the generator is seeded once with
// randDelta and `discard` values are dropped before the first item; on the parallel path it is
// seeded with randDelta + i (wrapping at 32 bits) before item i, so that each item draws the
// same numbers whichever thread runs it.  `work` is the element work of the whole loop.
template <class Set, class Body>
inline void for_seeded(std::int64_t n, std::int64_t work, int Parallel, int randDelta, int discard,
                       Pool<Set>& pool, Body&& body) {
    if (Parallel == 1) {
        evo::for_ranges(n, work, 1, [&](std::int64_t begin, std::int64_t end) {
            Scratch<Set>& s = pool.mine();
            evo::CRand r;
            for (std::int64_t i = begin; i < end; ++i) {
                r.seed((std::uint32_t)randDelta + (std::uint32_t)i);
                body(i, r, s);
            }
        });
    } else if (Parallel == 0) {
        Scratch<Set>& s = pool.mine();
        evo::CRand r((std::uint32_t)randDelta);
        for (int k = 0; k < discard; ++k) r.next();
        for (std::int64_t i = 0; i < n; ++i) body(i, r, s);
    }
}

// Seeding a generator costs about this many element operations.
inline constexpr std::int64_t kSeedWork = 350;

}  // namespace perm
