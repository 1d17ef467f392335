// The permutation check: no row repeats a value.
#include <cstdint>

#include "_permutation.hpp"
#include "_sarnet.hpp"

namespace {

template <class Set>
int check(const int* Chrom, std::int64_t Nind, std::int64_t L, std::int64_t Lb, std::int64_t Ub, int Parallel) {
    perm::Pool<Set> pool(Parallel, Lb, Ub - Lb + 1, L);
    if (!pool.ok()) return -1;
    evo::for_ranges(Nind, Nind * L, Parallel, [&](std::int64_t begin, std::int64_t end) {
        perm::Scratch<Set>& s = pool.mine();
        for (std::int64_t i = begin; i < end && !s.flag; ++i) {
            const int* row = Chrom + i * L;
            s.set.clear();
            bool repeat = false;
            for (std::int64_t j = 0; j < L; ++j) {
                const int g = row[j];
                if (g < Lb || g > Ub) {  // only a matrix that misreports its bounds gets here
                    repeat = true;
                    break;
                }
                repeat |= s.set.insert(g);
            }
            s.flag = repeat;
        }
    });
    return pool.any_flag() ? 0 : 1;
}

}  // namespace

int _check_permutation(const int* Chrom, int Nind, int Lind, int Lb, int Ub, int Parallel) {
    if (Nind <= 0 || Lind <= 0) return 1;
    const std::int64_t var_num = (std::int64_t)Ub - Lb + 1;
    if (var_num <= 0) return 0;
    return perm::use_direct(var_num, Lind) ? check<perm::DirectSet>(Chrom, Nind, Lind, Lb, Ub, Parallel)
                                           : check<perm::HashSet>(Chrom, Nind, Lind, Lb, Ub, Parallel);
}
