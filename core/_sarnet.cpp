// Pairwise order crossover: both children of each pair, or the first only.
#include <cstdint>
#include <cstring>

#include "_permutation.hpp"
#include "_sarnet.hpp"

namespace {

enum class Children { Both, First };

template <class Set>
bool pairwise(const int* Chrom, std::int64_t Nind, std::int64_t L, std::int64_t Lb, std::int64_t Ub,
              int* NewChrom, double pc, int randDelta, int Parallel, Children children) {
    perm::Pool<Set> pool(Parallel, Lb, Ub - Lb + 1, L);
    if (!pool.ok()) return false;
    const std::int64_t Xops = Nind / 2;
    const std::size_t row_bytes = (std::size_t)L * sizeof(int);
    const perm::IndexDraws columns(L);
    const std::int64_t work = Xops * (3 * L + (Parallel == 1 ? perm::kSeedWork : 0));
    perm::for_seeded(Xops, work, Parallel, randDelta, 0, pool, [&](std::int64_t i, auto& r,
                                                                   perm::Scratch<Set>& s) {
        const int* A = Chrom + i * L;
        const int* B = Chrom + (i + Xops) * L;
        int* NA = NewChrom + i * L;
        int* NB = NewChrom + (i + Xops) * L;  // written only when both children are made
        const bool both = children == Children::Both;
        if (pc > perm::unit(r)) {
            if (L > 1) {
                const perm::Cuts c = perm::draw_cuts(r, columns);
                perm::ox_child(A, B, L, c, NA, s);
                if (both) perm::ox_child(B, A, L, c, NB, s);
            } else {
                NA[0] = B[0];
                if (both) NB[0] = A[0];
            }
        } else {
            std::memcpy(NA, A, row_bytes);
            if (both) std::memcpy(NB, B, row_bytes);
        }
    });
    if (children == Children::Both && Nind % 2 == 1)
        std::memcpy(NewChrom + (Nind - 1) * L, Chrom + (Nind - 1) * L, row_bytes);
    return true;
}

bool dispatch(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, double pc, int randDelta,
              int Parallel, Children children) {
    if (Nind < 2 || Lind < 1) {
        if (children == Children::Both && Nind > 0 && Lind > 0)
            std::memcpy(NewChrom, Chrom, (std::size_t)Nind * (std::size_t)Lind * sizeof(int));
        return true;
    }
    const std::int64_t var_num = (std::int64_t)Ub - Lb + 1;
    return perm::with_child_set(var_num, Lind, [&]<class Set>(std::type_identity<Set>) {
        return pairwise<Set>(Chrom, Nind, Lind, Lb, Ub, NewChrom, pc, randDelta, Parallel, children);
    });
}

}  // namespace

bool _sarnet(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, double pc, int randDelta,
             int Parallel) {
    return dispatch(Chrom, Nind, Lind, Lb, Ub, NewChrom, pc, randDelta, Parallel, Children::Both);
}

bool _sarnet_half(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int* NewChrom, double pc, int randDelta,
                  int Parallel) {
    return dispatch(Chrom, Nind, Lind, Lb, Ub, NewChrom, pc, randDelta, Parallel, Children::First);
}
