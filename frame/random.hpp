// The C library's default pseudo-random sequence (srand/rand), as a value type with private state.
//
// The sequence is the additive-feedback generator of the GNU C library's srand/rand: a table of
// 31 words whose word 0 is the seed (as a signed 32-bit word, 0 standing for 1), words 1..30
// follow by the multiplier 16807 modulo 2^31 - 1, and 310 outputs are discarded.  Each step adds
// the word 31 places back to the word 3 places back, modulo 2^32, and outputs that sum shifted
// right by one (0 .. 2^31 - 1).  Every object owns its table, so rows seeded one by one on a
// thread team draw exactly what `srand(seed)` followed by `rand()` calls would give, without a
// lock per draw and without touching (or being touched by) the process-wide generator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace evo {

class CRand {
public:
    static constexpr int kWords = 31;     // table length
    static constexpr int kSep = 3;        // distance of the front word
    static constexpr int kDiscard = 310;  // outputs dropped after seeding

    CRand() noexcept { seed(1); }
    explicit CRand(std::uint32_t s) noexcept { seed(s); }

    // srand(s)
    void seed(std::uint32_t s) noexcept {
        std::int32_t word = (std::int32_t)s;
        if (word == 0) word = 1;
        r_[0] = (std::uint32_t)word;
        for (int i = 1; i < kWords; ++i) {
            word = step16807(word);
            r_[i] = (std::uint32_t)word;
        }
        f_ = kSep;
        b_ = 0;
        for (int i = 0; i < kDiscard; ++i) next();
    }

    // rand(): 0 .. 2^31 - 1
    int next() noexcept {
        const std::uint32_t v = r_[f_] += r_[b_];
        if (++f_ == kWords) f_ = 0;
        if (++b_ == kWords) b_ = 0;
        return (int)(v >> 1);
    }

    // ---- block forms: the same values, computed several at a time ----------------------------

    // out[0..n) = the next n values of next(), in order.  The table is walked in stretches over
    // which neither index wraps, so the loop carries no per-value wrap tests.
    void fill(int* out, std::ptrdiff_t n) noexcept {
        while (n > 0) {
            const int room = kWords - (f_ > b_ ? f_ : b_);
            const int k = n < room ? (int)n : room;
            std::uint32_t* front = r_ + f_;
            const std::uint32_t* back = r_ + b_;
            int i = 0;
            if (f_ > b_) {
                // back is front - 3: the word added three values on is the one just made, so
                // the three running sums stay in registers.
                std::uint32_t p0 = back[0], p1 = back[1], p2 = back[2];
                for (; i + 3 <= k; i += 3) {
                    front[i] = p0 += front[i];
                    front[i + 1] = p1 += front[i + 1];
                    front[i + 2] = p2 += front[i + 2];
                    out[i] = (int)(p0 >> 1);
                    out[i + 1] = (int)(p1 >> 1);
                    out[i + 2] = (int)(p2 >> 1);
                }
            }
            for (; i < k; ++i) out[i] = (int)((front[i] += back[i]) >> 1);
            out += k;
            n -= k;
            f_ += k;
            b_ += k;
            if (f_ == kWords) f_ = 0;
            if (b_ == kWords) b_ = 0;
        }
    }

    // 16807 * word mod (2^31 - 1) by Schrage's method, for any signed 32-bit word.
    static std::int32_t step16807(std::int32_t word) noexcept {
        const std::int64_t hi = word / 127773, lo = word % 127773;
        std::int64_t w = 16807 * lo - 2836 * hi;
        if (w < 0) w += 2147483647;
        return (std::int32_t)w;
    }

private:
    std::uint32_t r_[kWords];
    int f_ = kSep, b_ = 0;
};

// kLanes generators of the same sequence side by side, one per lane: lane k gives exactly what
// CRand(seeds[k]) gives.  Every step of seeding and drawing is one operation over all lanes (the
// arithmetic is integer, so the values do not depend on the instructions that carry it out),
// which makes seeding a block of generators several times cheaper than seeding each alone.
class CRandLanes {
public:
    static constexpr int kLanes = 16;
    static constexpr int kWords = CRand::kWords;

    // Lane k < n is seeded with seeds[k]; the others with 1.
    void seed(const std::uint32_t* seeds, int n) noexcept {
        for (int k = 0; k < kLanes; ++k) {
            std::int32_t word = (std::int32_t)(k < n ? seeds[k] : 1u);
            if (word == 0) word = 1;
            t_[0][k] = (std::uint32_t)word;
            t_[1][k] = (std::uint32_t)CRand::step16807(word);  // the one step that may see a negative word
        }
        // From word 1 on every word lies in [0, 2^31 - 1): 16807 * w < 2^46 folds by 2^31 = 1.
        for (int i = 2; i < kWords; ++i) {
            for (int k = 0; k < kLanes; ++k) {
                const std::uint64_t x = (std::uint64_t)t_[i - 1][k] * 16807u;
                std::uint64_t w = (x & 0x7fffffffu) + (x >> 31);
                w = w >= 0x7fffffffu ? w - 0x7fffffffu : w;
                t_[i][k] = (std::uint32_t)w;
            }
        }
        // The discarded values: step s adds word s mod 31 to word (s + 3) mod 31.  (The indices
        // are locals, so the compiler can keep the lanes of a step in vector registers.)
        int f = CRand::kSep, b = 0;
        for (int s = 0; s < CRand::kDiscard; ++s) {
            for (int k = 0; k < kLanes; ++k) t_[f][k] += t_[b][k];
            if (++f == kWords) f = 0;
            if (++b == kWords) b = 0;
        }
        f_ = f;
        b_ = b;
    }

    // out[j * kLanes + k] = value j of lane k, for the next m values of every lane.
    void fill(int* out, std::ptrdiff_t m) noexcept {
        int f = f_, b = b_;
        for (std::ptrdiff_t j = 0; j < m; ++j, out += kLanes) {
            std::uint32_t v[kLanes];
            for (int k = 0; k < kLanes; ++k) v[k] = t_[f][k] + t_[b][k];
            for (int k = 0; k < kLanes; ++k) t_[f][k] = v[k];
            for (int k = 0; k < kLanes; ++k) out[k] = (int)(v[k] >> 1);
            if (++f == kWords) f = 0;
            if (++b == kWords) b = 0;
        }
        f_ = f;
        b_ = b;
    }

private:
    alignas(64) std::uint32_t t_[kWords][kLanes];
    int f_ = CRand::kSep, b_ = 0;
};

}  // namespace evo
