// Both widths of the velkor row encoder on the same random inputs: this program is linked with
// the kernel built twice, as it is (AVX2 where the processor has it) and with the run-time test
// answering "no" (the 4-lane form), serially and on a team.  Prints "same <digits>" or the first
// difference.
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

typedef bool Kernel(const double*, int, int, const int*, const double*, const double*, const int*, const int*,
                    const int*, const int*, int*, int, int);
Kernel _velkor, _velkor_baseline;

int main() {
    std::mt19937 rng(11);
    long digits = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int Nvar = 1 + rng() % 7, Nind = 1 + rng() % (trial % 10 == 0 ? 20000 : 9), same = rng() % 32;
        const bool uniform = rng() % 2;
        std::vector<int> lens(Nvar), codes(Nvar), lbins(Nvar), ubins(Nvar), types(Nvar);
        std::vector<double> lb(Nvar, -1.0), ub(Nvar), Phen((size_t)Nind * Nvar);
        int Lind = 0;
        for (int j = 0; j < Nvar; ++j) {
            lens[j] = uniform ? same : rng() % 32;
            Lind += lens[j];
            codes[j] = rng() % 2, lbins[j] = rng() % 3 - 1, ubins[j] = rng() % 2, types[j] = rng() % 2;
            ub[j] = rng() % 7 ? 2.0 : -1.0;
        }
        for (double& x : Phen) x = rng() % 50 ? (double)(rng() % 1000) / 200.0 - 2.0 : rng() % 2 ? NAN : 1e12;
        std::vector<int> a((size_t)Nind * Lind, 7), b(a.size(), 8), c(a.size(), 9);
        const auto run = [&](Kernel* k, std::vector<int>& out, int Parallel) {
            k(Phen.data(), Nind, Lind, lens.data(), lb.data(), ub.data(), codes.data(), lbins.data(), ubins.data(),
              types.data(), out.data(), Nvar, Parallel);
        };
        run(_velkor, a, 0), run(_velkor_baseline, b, 0), run(_velkor_baseline, c, 1);
        for (size_t k = 0; k < a.size(); ++k)
            if (a[k] != b[k] || b[k] != c[k] || a[k] < -1 || a[k] > 1) {
                std::printf("trial %d entry %zu: %d %d %d\n", trial, k, a[k], b[k], c[k]);
                return 1;
            }
        digits += (long)a.size();
    }
    std::printf("same %ld\n", digits);
}
