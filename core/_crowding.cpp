// Crowding distance kernel.
//
// The levels and each front's objective rows are copied into private memory once; the fronts and
// the order of each objective are sorted from those copies alone.  A row's distance is one sum,
// its objectives added from the left, as the rule writes it.  The values of an objective in order
// are read back from the sorted keys, which hold them exactly except for the sign of a zero: a
// difference of zeros then has the other sign, which neither the quotient's magnitude nor a sum
// started at +0.0 can show.
#include "_crowding.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "_order.hpp"

void _crowding(const double* ObjV, int Nind, int M, const double* levels, double* distance) {
    using order::Item;
    using i64 = std::int64_t;
    const double inf = std::numeric_limits<double>::infinity();
    if (Nind <= 0) return;

    // The fronts: rows of finite level, by level and then by row (one level: no sort needed).
    std::vector<Item> rows;
    rows.reserve(Nind);
    bool one = true;
    for (int i = 0; i < Nind; ++i) {
        const double level = levels[i];
        distance[i] = 0.0;
        if (!std::isfinite(level)) continue;
        rows.push_back({order::key(level), i});
        one = one && rows.back().key == rows.front().key;
    }
    if (!one) order::sort_items(rows.data(), rows.size());

    const int n_rows = (int)rows.size();
    std::vector<double> F, d;
    std::vector<Item> by;
    for (int first = 0; first < n_rows;) {
        int end = first + 1;
        while (end < n_rows && rows[end].key == rows[first].key) ++end;
        const int n = end - first;
        const Item* front = rows.data() + first;
        first = end;
        if (n <= 2) {
            for (int t = 0; t < n; ++t) distance[front[t].index] = inf;
            continue;
        }
        F.resize((std::size_t)n * M);
        d.assign(n, 0.0);
        by.resize(n);
        for (int t = 0; t < n; ++t)
            for (int j = 0; j < M; ++j) F[(i64)t * M + j] = ObjV[(i64)front[t].index * M + j];
        for (int j = 0; j < M; ++j) {
            // Local row t stands for the t-th row of the front, in increasing row order.
            for (int t = 0; t < n; ++t) by[t] = {order::key(F[(i64)t * M + j]), t};
            order::sort_items(by.data(), n);
            // The values in order are read back from their keys, except NaN's (one key for all).
            const auto value = [&](int t) {
                return by[t].key == order::kNaN ? F[(i64)by[t].index * M + j] : order::value(by[t].key);
            };
            const double smallest = value(0), largest = value(n - 1);
            if (largest == smallest) continue;
            d[by[0].index] = inf;
            d[by[n - 1].index] = inf;
            const double range = largest - smallest;
            double previous = smallest, here = value(1);
            for (int t = 1; t < n - 1; ++t) {
                const double next = value(t + 1);
                d[by[t].index] += (next - previous) / range;
                previous = here;
                here = next;
            }
        }
        for (int t = 0; t < n; ++t) distance[front[t].index] = d[t];
    }
}
