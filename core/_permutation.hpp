// Scratch of the permutation kernels: tables of gene values, the order-crossover child and the
// per-pair random draws, shared by the permutation check and the three crossover kernels.
//
// The check needs, per row, a set of the genes seen so far; a child needs the set of its
// keeper's segment.  Two layouts give the same answers:
// - direct tables of Ub - Lb + 1 entries indexed by g - Lb, when that range is small next to
//   the row length;
// - an open-addressing hash of at least 4 * Lind slots otherwise, so that genes spread over a
//   wide range (say {0, 2^30}) cost memory in proportion to Lind, not to the range.
// The layout is chosen once per call and the kernels are instantiated for each.  Every gene
// must lie in Lb..Ub.  Tables serve every row a thread works on without being cleared.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "../frame/random.hpp"
#include "../frame/random_head.hpp"
#include "../frame/rows.hpp"

namespace perm {

// Direct tables are used while the gene range is at most this many entries per gene plus a
// constant (a few kilobytes), beyond which the hash is smaller.
inline bool use_direct(std::int64_t var_num, std::int64_t Lind) { return var_num <= 4 * Lind + 1024; }

// &table[0] - Lb, so that a gene indexes its entry directly (the address is formed as an
// integer; only entries of genes in Lb..Ub are ever touched).
template <class T>
inline T* biased(T* table, std::int64_t Lb) noexcept {
    return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(table) - (std::uintptr_t)Lb * sizeof(T));
}

// The check's direct tables: one generation stamp per value; a row is a new generation.  When
// the range is at most twice the row length, the row's genes are only stamped and the stamps
// of this generation counted afterwards (a loop without a dependence from gene to gene), in two
// tables taken in turn: a row is counted after the next one is stamped, when its own stamps have
// left the processor's store buffer for the cache.  Otherwise each gene is tested as it is
// stamped.
class DirectStamps {
public:
    DirectStamps(std::int64_t Lb, std::int64_t var_num, std::int64_t Lind)
        : Lb_(Lb), dense_(var_num <= 2 * Lind), n_((std::size_t)var_num),
          stamp_((dense_ ? 2 : 1) * (std::size_t)var_num, 0u) {}

    // Whether one of the rows begin..end-1 (of L genes, from C) repeats a value.
    __attribute__((always_inline)) bool rows_repeat(const int* C, std::int64_t begin, std::int64_t end,
                                                    std::int64_t L) noexcept {
        if (!dense_) {
            for (std::int64_t i = begin; i < end; ++i)
                if (sparse_repeat(C + i * L, L)) return true;
            return false;
        }
        if (begin < end) stamp(C + begin * L, L, 0);
        for (std::int64_t i = begin; i < end; ++i) {
            const int t = (int)((i - begin) & 1);
            if (i + 1 < end) stamp(C + (i + 1) * L, L, 1 - t);
            if (count(t) < (std::uint64_t)L) return true;  // fewer distinct genes than genes
        }
        return false;
    }

private:
    // A new generation for table t (after 2^32 rows the stamps start over).
    __attribute__((always_inline)) std::uint32_t next(int t) noexcept {
        if (++gen_[t] == 0) {
            std::memset(stamp_.data() + t * n_, 0, n_ * sizeof(std::uint32_t));
            gen_[t] = 1;
        }
        return gen_[t];
    }
    __attribute__((always_inline)) void stamp(const int* __restrict row, std::int64_t L, int t) noexcept {
        const std::uint32_t gen = next(t);
        std::uint32_t* __restrict st = biased(stamp_.data() + t * n_, Lb_);
        for (std::int64_t j = 0; j < L; ++j) {
            st[row[j]] = gen;
            __asm__("" : "+r"(st));  // one store a gene: a vector form of this loop scatters, slower
        }
    }
    __attribute__((always_inline)) std::uint64_t count(int t) const noexcept {
        const std::uint32_t* __restrict all = stamp_.data() + t * n_;
        const std::uint32_t gen = gen_[t];
        std::uint32_t distinct = 0;
        for (std::size_t k = 0; k < n_; ++k) distinct += all[k] == gen;
        return distinct;
    }
    bool sparse_repeat(const int* __restrict row, std::int64_t L) noexcept {
        const std::uint32_t gen = next(0);
        std::uint32_t* __restrict st = biased(stamp_.data(), Lb_);
        unsigned repeat = 0;
        for (std::int64_t j = 0; j < L; ++j) {
            std::uint32_t& s = st[row[j]];
            repeat |= s == gen;
            s = gen;
        }
        return repeat != 0;
    }

    std::int64_t Lb_;
    bool dense_;
    std::size_t n_;
    std::vector<std::uint32_t> stamp_;
    std::uint32_t gen_[2] = {0, 0};
};

// The check's table for a gene range of at most 64 values: the row's genes as bits of one word.
class SmallBits {
    // The number of set bits, inline (the x86-64 baseline has no instruction for it, and the
    // compiler's own is a call).
    static std::int64_t ones(std::uint64_t x) noexcept {
        x -= (x >> 1) & 0x5555555555555555ull;
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
        return (std::int64_t)((x * 0x0101010101010101ull) >> 56);
    }

public:
    static constexpr std::int64_t kMaxRange = 64;
    SmallBits(std::int64_t Lb, std::int64_t /*var_num*/, std::int64_t /*Lind*/) : Lb_(Lb) {}
    std::int64_t Lb() const noexcept { return Lb_; }

    __attribute__((always_inline)) bool has_repeat(const int* __restrict row, std::int64_t L) const noexcept {
        const std::int64_t Lb = Lb_;
        std::uint64_t even = 0, odd = 0;  // two chains of or-ing, joined at the end
        std::int64_t j = 0;
        for (; j + 1 < L; j += 2) {
            even |= std::uint64_t{1} << (row[j] - Lb);
            odd |= std::uint64_t{1} << (row[j + 1] - Lb);
        }
        if (j < L) even |= std::uint64_t{1} << (row[j] - Lb);
        return ones(even | odd) < L;  // fewer distinct genes than genes
    }

private:
    std::int64_t Lb_;
};

// A child's direct table: 1 for every value, 0 while the value is in the keeper's segment.
class DirectKeep {
public:
    DirectKeep(std::int64_t Lb, std::int64_t var_num, std::int64_t /*Lind*/)
        : Lb_(Lb), keep_((std::size_t)var_num, 1u) {}

    // Strikes K[lo..hi] and copies them to child[lo..hi].
    void take_segment(const int* __restrict K, std::int64_t lo, std::int64_t hi, int* __restrict child) noexcept {
        std::uint32_t* __restrict keep = biased(keep_.data(), Lb_);
        for (std::int64_t j = lo; j <= hi; ++j) {
            keep[K[j]] = 0;
            child[j] = K[j];
        }
    }
    void give_back(const int* __restrict K, std::int64_t lo, std::int64_t hi) noexcept {
        std::uint32_t* __restrict keep = biased(keep_.data(), Lb_);
        for (std::int64_t j = lo; j <= hi; ++j) keep[K[j]] = 1;
    }
    struct Probe {
        const std::uint32_t* keep;
        std::uint32_t keeps(int g) const noexcept { return keep[g]; }  // 1 outside the segment
    };
    Probe probe() const noexcept { return Probe{biased(keep_.data(), Lb_)}; }

private:
    std::int64_t Lb_;
    std::vector<std::uint32_t> keep_;
};

// A child's segment for the vector form of the order crossover, as a bit set of the gene range:
// a range of at most kMaxRange values fits one 512-bit register, where the form looks up sixteen
// filler genes at once.  Beyond 64 values the segment's genes are stamped with the child's
// generation in a table of the range, which the form reads back sixteen values at a time.
// `kept` holds the filler's kept genes for the one-gene-at-a-time form.
struct Cuts;
class SegmentBits;
using OxFn = void (*)(const int* K, const int* F, std::int64_t L, Cuts c, int* child, SegmentBits& s);
// The order-crossover child of the picked form, where it has a vector one, else null.
OxFn ox_vector() noexcept;
// The same child one gene at a time.
void ox_bits_plain(const int* K, const int* F, std::int64_t L, Cuts c, int* child, SegmentBits& s);

class SegmentBits {
public:
    static constexpr std::int64_t kMaxRange = 512;
    SegmentBits(std::int64_t Lb, std::int64_t var_num, std::int64_t Lind)
        : Lb(Lb), words((var_num + 31) / 32), stamp((std::size_t)words * 32, 0u), kept((std::size_t)Lind + 16),
          fn(ox_vector()) {
        if (fn == nullptr) fn = ox_bits_plain;  // the form changed since the kernel chose this set
    }
    // A new generation for the next segment (after 2^32 of them the stamps start over).
    std::uint32_t next_generation() noexcept {
        if (++gen == 0) {
            std::memset(stamp.data(), 0, stamp.size() * sizeof(std::uint32_t));
            gen = 1;
        }
        return gen;
    }
    std::int64_t Lb;
    std::int64_t words;  // 32-bit words of the bit set
    std::vector<std::uint32_t> stamp;
    std::uint32_t gen = 0;
    std::vector<int> kept;
    OxFn fn;
};

// The hash, for both uses: the set of one row's genes or of one segment, emptied by starting
// a new generation.
class HashSet {
public:
    HashSet(std::int64_t /*Lb*/, std::int64_t /*var_num*/, std::int64_t Lind) {
        int bits = 4;
        while (bits < 62 && (std::int64_t{1} << bits) < 4 * Lind) ++bits;  // at most a quarter full
        shift_ = 64 - bits;
        mask_ = (std::uint64_t{1} << bits) - 1;
        slot_.assign((std::size_t)mask_ + 1, 0u);
    }

    bool has_repeat(const int* row, std::int64_t L) noexcept {
        clear();
        const Probe t = probe();
        bool repeat = false;
        for (std::int64_t j = 0; j < L; ++j) repeat |= t.insert(row[j]);
        return repeat;
    }
    void take_segment(const int* K, std::int64_t lo, std::int64_t hi, int* child) noexcept {
        clear();
        const Probe t = probe();
        for (std::int64_t j = lo; j <= hi; ++j) {
            t.insert(K[j]);
            child[j] = K[j];
        }
    }
    void give_back(const int*, std::int64_t, std::int64_t) noexcept {}

    // The table's fields as locals of a loop.  A slot is one word, its generation above the
    // gene, so that one comparison tells whether the search has settled on a slot.
    struct Probe {
        std::uint64_t* slot;
        std::uint64_t mask;
        int shift;
        std::uint64_t gen;  // the generation, shifted into place
        std::uint64_t home(int g) const noexcept {
            return ((std::uint64_t)(std::uint32_t)g * 0x9E3779B97F4A7C15ull) >> shift;
        }
        std::uint64_t word(int g) const noexcept { return gen | (std::uint32_t)g; }
        // With x = slot ^ word(g): x == 0 is a hit, x >= 2^32 an empty slot (older generation),
        // anything else another gene of this generation, where the search goes on.
        static bool settled(std::uint64_t x) noexcept { return x - 1 >= 0xFFFFFFFFull; }
        std::uint32_t keeps(int g) const noexcept {
            const std::uint64_t w = word(g);
            for (std::uint64_t h = home(g);; h = (h + 1) & mask) {
                const std::uint64_t x = slot[h] ^ w;
                if (settled(x)) return x != 0;
            }
        }
        // Adds g; true when it was there already.
        bool insert(int g) const noexcept {
            const std::uint64_t w = word(g);
            for (std::uint64_t h = home(g);; h = (h + 1) & mask) {
                const std::uint64_t x = slot[h] ^ w;
                if (settled(x)) {
                    slot[h] = w;
                    return x == 0;
                }
            }
        }
    };
    Probe probe() const noexcept {
        return Probe{const_cast<std::uint64_t*>(slot_.data()), mask_, shift_, (std::uint64_t)gen_ << 32};
    }

private:
    void clear() noexcept {
        if (++gen_ == 0) {
            std::memset((void*)slot_.data(), 0, slot_.size() * sizeof(std::uint64_t));
            gen_ = 1;
        }
    }
    std::vector<std::uint64_t> slot_;
    std::uint64_t mask_ = 0;
    int shift_ = 64;
    std::uint32_t gen_ = 0;
};

// The scratch of one thread: a value set and a flag of its own.
template <class Set>
struct alignas(64) Scratch {  // a cache line of its own per thread
    Scratch(std::int64_t Lb, std::int64_t var_num, std::int64_t Lind) : set(Lb, var_num, Lind) {}
    Set set;
    bool flag = false;
};

// One scratch per thread that may run a kernel's loop (one for the serial form).  Empty when
// the memory could not be had.
template <class Set>
class Pool {
public:
    Pool(int Parallel, std::int64_t Lb, std::int64_t var_num, std::int64_t Lind) {
        const int slots = Parallel == 1 ? evo::team_size() : 1;
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
    Scratch<Set>& mine() noexcept { return s_[(std::size_t)evo::team_thread()]; }
    bool any_flag() const noexcept {
        for (const auto& s : s_)
            if (s.flag) return true;
        return false;
    }

private:
    std::vector<Scratch<Set>> s_;
};

// A draw used as a probability: rand() * 2^-31, in [0, 1).
template <class Gen>
inline double unit(Gen& r) noexcept { return (double)r.next() * 4.656612873077393e-10; }

// x % n for 32-bit x and a divisor n >= 1 fixed for a loop, by two multiplications (exact for
// every x and n: the fraction 2^64 / n rounded up, times x, keeps the remainder in its top bits).
class Modulus {
public:
    explicit Modulus(std::uint32_t n) noexcept : n_(n), m_(n > 0 ? ~std::uint64_t{0} / n + 1 : 0) {}
    std::uint32_t n() const noexcept { return n_; }
    std::uint32_t of(std::uint32_t x) const noexcept {
        return (std::uint32_t)(((unsigned __int128)(m_ * x) * n_) >> 64);
    }

private:
    std::uint32_t n_;
    std::uint64_t m_;
};

// Draws of an index below n (1 < n < 2^31), and of another one: the first, then an offset of
// 1..n-1 from it (first + offset < 2n, so one subtraction wraps it).
class IndexDraws {
public:
    explicit IndexDraws(std::int64_t n) noexcept : n_((std::uint32_t)n), n1_(n > 1 ? (std::uint32_t)n - 1 : 1) {}
    template <class Gen>
    std::uint32_t one(Gen& r) const noexcept { return n_.of((std::uint32_t)r.next()); }
    template <class Gen>
    std::uint32_t other(Gen& r, std::uint32_t first) const noexcept {
        const std::uint32_t k = first + n1_.of((std::uint32_t)r.next()) + 1;
        return k >= n_.n() ? k - n_.n() : k;
    }

private:
    Modulus n_, n1_;
};

// Two distinct columns of 0..L-1, in order.
struct Cuts {
    std::int64_t lo, hi;
};
template <class Gen>
inline Cuts draw_cuts(Gen& r, const IndexDraws& columns) noexcept {
    const std::uint32_t c1 = columns.one(r);
    const std::uint32_t c2 = columns.other(r, c1);
    return c1 < c2 ? Cuts{c1, c2} : Cuts{c2, c1};
}

// The order-crossover child of keeper K and filler F (rows of L genes) with the cuts [lo, hi]:
// K's genes lo..hi stay in place, and the other columns, 0..lo-1 then hi+1..L-1, take F's genes
// that are not in that segment, in F's order from its first column.
template <class Set>
inline void ox_child(const int* __restrict K, const int* __restrict F, std::int64_t L, Cuts c, int* __restrict child,
                     Scratch<Set>& s) {
    s.set.take_segment(K, c.lo, c.hi, child);
    const typename Set::Probe segment = s.set.probe();
    // F's genes outside the segment, written at free column n; a struck gene is overwritten by
    // the next kept one.  At least L - (hi - lo + 1) of F's genes remain, since the segment
    // strikes at most that many, so p stays below L.
    const std::uint32_t lo = (std::uint32_t)c.lo, need = (std::uint32_t)(L - (c.hi - c.lo + 1));
    std::uint32_t n = 0;
    const int* __restrict f = F;
    while (n < lo) {
        const int v = *f++;
        child[n] = v;
        n += segment.keeps(v);
    }
    int* __restrict after = child + (c.hi + 1 - c.lo);  // free column n >= lo is after[n]
    while (n < need) {
        const int v = *f++;
        after[n] = v;
        n += segment.keeps(v);
    }
    s.set.give_back(K, c.lo, c.hi);
}

// ox_child through the bit set: the form's own function.
inline void ox_child(const int* K, const int* F, std::int64_t L, Cuts c, int* child, Scratch<SegmentBits>& s) {
    s.set.fn(K, F, L, c, child, s.set);
}

// run(std::type_identity<Set>{}) with the value set of a crossover kernel over var_num values
// and rows of Lind genes.
template <class Run>
inline bool with_child_set(std::int64_t var_num, std::int64_t Lind, Run&& run) {
    if (var_num <= SegmentBits::kMaxRange && ox_vector() != nullptr) return run(std::type_identity<SegmentBits>{});
    if (use_direct(var_num, Lind)) return run(std::type_identity<DirectKeep>{});
    return run(std::type_identity<HashSet>{});
}

// body(i, generator, scratch) for i = 0..n-1.  Serially one evo::CRand is seeded with randDelta
// and `discard` values are dropped before the first item; on the parallel path the generator is
// seeded with randDelta + i (wrapping at 32 bits) before item i, so that each item draws the
// same numbers whichever thread runs it.  An item there takes only a few draws, which an
// evo::CRandHead gives without the generator's discarded steps.  `work` is the element work of
// the whole loop.
template <class Set, class Body>
inline void for_seeded(std::int64_t n, std::int64_t work, int Parallel, int randDelta, int discard,
                       Pool<Set>& pool, Body&& body) {
    if (Parallel == 1) {
        evo::for_ranges(n, work, 1, [&](std::int64_t begin, std::int64_t end) {
            Scratch<Set>& s = pool.mine();
            constexpr int B = evo::CRandHead::kBlock;
            evo::CRandHead r[B];
            for (std::int64_t i = begin; i < end; i += B) {
                const int m = end - i < B ? (int)(end - i) : B;
                evo::CRandHead::seed_block(r, (std::uint32_t)randDelta + (std::uint32_t)i, m);
                for (int k = 0; k < m; ++k) body(i + k, r[k], s);
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
inline constexpr std::int64_t kSeedWork = 150;

}  // namespace perm
