// Crowding distance kernel.
//
// The levels and each front's objective rows are copied into private memory once; the fronts and
// the order of each objective are sorted from those copies alone.  A row's distance is one sum,
// its objectives added from the left, as the rule writes it.
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

    // The fronts: rows of finite level, by level and then by row.
    std::vector<Item> rows, tmp(Nind);
    rows.reserve(Nind);
    for (int i = 0; i < Nind; ++i) {
        const double level = levels[i];
        distance[i] = 0.0;
        if (std::isfinite(level)) rows.push_back({order::key(level), i});
    }
    order::sort_items(rows.data(), tmp.data(), rows.size());

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
            order::sort_items(by.data(), tmp.data(), n);
            const double smallest = F[(i64)by[0].index * M + j], largest = F[(i64)by[n - 1].index * M + j];
            if (largest == smallest) continue;
            d[by[0].index] = inf;
            d[by[n - 1].index] = inf;
            const double range = largest - smallest;
            for (int t = 1; t < n - 1; ++t) {
                const double next = F[(i64)by[t + 1].index * M + j], previous = F[(i64)by[t - 1].index * M + j];
                d[by[t].index] += (next - previous) / range;
            }
        }
        for (int t = 0; t < n; ++t) distance[front[t].index] = d[t];
    }
}
