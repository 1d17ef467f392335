// Global order crossover: every child from two distinct parents drawn from the whole matrix.
#include <cstdint>
#include <cstring>

#include "_permutation.hpp"
#include "_sarnet.hpp"

namespace {

template <class Set>
bool global(const int* Chrom, std::int64_t Nind, std::int64_t L, std::int64_t Lb, std::int64_t Ub, int* NewChrom,
            std::int64_t Num, int randDelta, int Parallel) {
    perm::Pool<Set> pool(Parallel, Lb, Ub - Lb + 1, L);
    if (!pool.ok()) return false;
    const perm::IndexDraws parents(Nind), columns(L);
    const std::int64_t work = Num * (2 * L + (Parallel == 1 ? perm::kSeedWork : 0));
    perm::for_seeded(Num, work, Parallel, randDelta, 1, pool, [&](std::int64_t c, auto& r,
                                                                  perm::Scratch<Set>& s) {
        const std::int64_t P = parents.one(r);
        const std::int64_t Q = Nind > 1 ? parents.other(r, (std::uint32_t)P) : (r.next(), P);
        int* child = NewChrom + c * L;
        if (L > 1)
            perm::ox_child(Chrom + P * L, Chrom + Q * L, L, perm::draw_cuts(r, columns), child, s);
        else
            std::memcpy(child, Chrom + P * L, (std::size_t)L * sizeof(int));
    });
    return true;
}

}  // namespace

bool _sarnet_gb(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, int Num, int randDelta,
                int Parallel) {
    if (Nind < 1 || Lind < 1 || Num < 1) return true;
    const std::int64_t var_num = (std::int64_t)Ub - Lb + 1;
    return perm::with_child_set(var_num, Lind, [&]<class Set>(std::type_identity<Set>) {
        return global<Set>(Chrom, Nind, Lind, Lb, Ub, NewChrom, Num, randDelta, Parallel);
    });
}
