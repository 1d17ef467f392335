// The first few draws after srand(s), without stepping through the 310 discarded outputs.
//
// Seeding the C library's generator (evo::CRand) costs 30 multiplications of the seed words and
// 310 additive steps; a loop that reseeds before every item and then takes only a handful of
// draws spends nearly all its time there.  The additive steps are linear modulo 2^32, so the
// state word behind the k-th draw is a fixed linear combination of the 31 seed words: with the
// coefficients, worked out once at compile time by running the steps on the unit vectors, draw
// k costs 31 multiply-adds.  Beyond kDraws draws the sequence continues through an evo::CRand
// seeded the ordinary way, so `next()` gives exactly what srand(s) and rand() would give.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "random.hpp"

namespace evo {

namespace random_head {

inline constexpr int kDraws = 4;  // draws served from the seed words
using Coefficients = std::array<std::array<std::uint32_t, CRand::kWords>, kDraws>;

// The generator's steps (the word kSep places on gains the word under the back index) run on
// coefficient vectors: after kDiscard steps, the vectors that the next kDraws steps produce.
constexpr Coefficients coefficients() {
    constexpr int W = CRand::kWords;
    std::array<std::array<std::uint32_t, W>, W> r{};
    for (int i = 0; i < W; ++i) r[i][i] = 1;
    Coefficients out{};
    int f = CRand::kSep, b = 0;
    for (int step = 0; step < CRand::kDiscard + kDraws; ++step) {
        for (int j = 0; j < W; ++j) r[f][j] += r[b][j];
        if (step >= CRand::kDiscard) out[step - CRand::kDiscard] = r[f];
        if (++f == W) f = 0;
        if (++b == W) b = 0;
    }
    return out;
}
inline constexpr Coefficients kCoef = coefficients();

}  // namespace random_head

class CRandHead {
public:
    static constexpr int kDraws = random_head::kDraws;
    static constexpr int kWords = CRand::kWords;

    CRandHead() noexcept : CRandHead(1) {}
    explicit CRandHead(std::uint32_t s) noexcept { seed(s); }

    // srand(s): the seed words only.
    void seed(std::uint32_t s) noexcept { seed_block(this, s, 1); }

    // heads[k].seed(first + k) for k = 0..count-1 (count at most kBlock), the seed words of the
    // block made side by side: each word follows from the one before by a chain of
    // multiplications, and the chains of neighbouring seeds overlap.
    static constexpr int kBlock = 8;
    static void seed_block(CRandHead* heads, std::uint32_t first, int count) noexcept {
        if (count > kBlock) count = kBlock;
        std::int32_t word[kBlock];
        for (int k = 0; k < count; ++k) {
            word[k] = (std::int32_t)(first + (std::uint32_t)k);
            if (word[k] == 0) word[k] = 1;
        }
        for (int k = 0; k < count; ++k) {
            heads[k].seed_ = first + (std::uint32_t)k;
            heads[k].k_ = 0;
            heads[k].tail_.reset();
            heads[k].w_[0] = (std::uint32_t)word[k];
        }
        for (int i = 1; i < kWords; ++i) {
            for (int k = 0; k < count; ++k) {
                // 16807 * word mod (2^31 - 1), by Schrage's method on the signed word (as CRand)
                const std::int64_t hi = word[k] / 127773, lo = word[k] % 127773;
                std::int64_t v = 16807 * lo - 2836 * hi;
                if (v < 0) v += 2147483647;
                word[k] = (std::int32_t)v;
            }
            for (int k = 0; k < count; ++k) heads[k].w_[i] = (std::uint32_t)word[k];
        }
    }

    // rand(): 0 .. 2^31 - 1
    int next() noexcept {
        if (k_ < kDraws) {
            const std::array<std::uint32_t, kWords>& c = random_head::kCoef[k_++];
            std::uint32_t sum = 0;
            for (int j = 0; j < kWords; ++j) sum += c[j] * w_[j];
            return (int)(sum >> 1);
        }
        if (k_ == kDraws) {  // the rare long sequence: the generator itself, moved on
            tail_.emplace(seed_);
            for (int i = 0; i < kDraws; ++i) tail_->next();
            ++k_;
        }
        return tail_->next();
    }

private:
    std::uint32_t w_[kWords];
    std::uint32_t seed_ = 1;
    int k_ = 0;
    std::optional<CRand> tail_;
};

}  // namespace evo
