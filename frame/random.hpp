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
            // 16807 * word mod (2^31 - 1), by Schrage's method on the signed word
            const std::int64_t hi = word / 127773, lo = word % 127773;
            std::int64_t w = 16807 * lo - 2836 * hi;
            if (w < 0) w += 2147483647;
            word = (std::int32_t)w;
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

private:
    std::uint32_t r_[kWords];
    int f_ = kSep, b_ = 0;
};

}  // namespace evo
