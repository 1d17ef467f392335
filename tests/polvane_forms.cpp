// Every compiled form of the distance kernels that this processor runs, against the plain loop,
// byte for byte (a NaN may differ in payload only).  Built and run by test_polvane.py.
#include "../core/_polvane.cpp"

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

bool same(const std::vector<double>& a, const std::vector<double>& b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    return true;
}

}  // namespace

int main() {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal;
    const double special[] = {NAN, INFINITY, -INFINITY, 0.0, -0.0, 1e300, 5e-324};
    const int sizes[][3] = {{1, 1, 1}, {3, 5, 2}, {9, 17, 3}, {33, 40, 16}, {70, 9, 7},
                            {130, 131, 5}, {301, 260, 3}, {12, 11, 1}, {20, 9, 2}, {17, 30, 4},
                            {0, 4, 3}, {4, 0, 3}, {5, 6, 0}};
    int failures = 0;
    for (int f = 0; f < kForms; ++f)
        if (forms(f).supported) std::printf("%s ", forms(f).name);
    for (const auto& s : sizes) {
        const i64 ra = s[0], rb = s[1], dim = s[2];
        std::vector<double> A(ra * dim), B(rb * dim);
        for (double& x : A) x = rng() % 50 == 0 ? special[rng() % 7] : normal(rng);
        for (double& x : B) x = rng() % 50 == 0 ? special[rng() % 7] : normal(rng);
        for (Metric metric : {Metric::euclidean, Metric::cityblock})
            for (bool self : {false, true}) {
                const i64 rx = self ? ra : rb;
                const Job job{metric, self, A.data(), self ? A.data() : B.data(), nullptr, ra, rx, dim};
                std::vector<double> want(ra * rx, -1.0);
                Job j = job;
                j.C = want.data();
                distances(j, plain, 0);
                for (int f = 0; f < kForms; ++f) {
                    if (!forms(f).supported) continue;
                    for (int Parallel : {0, 1}) {
                        std::vector<double> got(ra * rx, -2.0);
                        j.C = got.data();
                        distances(j, forms(f).rows, Parallel);
                        if (!same(got, want)) {
                            ++failures;
                            std::printf("\n%s differs: %lldx%lldx%lld metric %d self %d Parallel %d", forms(f).name,
                                        (long long)ra, (long long)rb, (long long)dim, (int)metric, (int)self, Parallel);
                        }
                    }
                }
            }
    }
    std::printf(failures ? "\nfailed\n" : "\nok\n");
    return failures != 0;
}
