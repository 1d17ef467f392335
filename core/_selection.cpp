// Selection: binary tournaments, and the order of the survivors.
#include "_selection.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

bool a_wins(int a, int b, const double* violation, const double* W, int m, const double* crowd) {
    if (!(violation[a] == 0.0 && violation[b] == 0.0) || W == nullptr) return violation[a] <= violation[b];
    const double* wa = W + (std::int64_t)a * m;
    const double* wb = W + (std::int64_t)b * m;
    bool no_worse = true, no_better = true;
    for (int k = 0; k < m; ++k) {
        no_worse = no_worse && wa[k] <= wb[k];
        no_better = no_better && wa[k] >= wb[k];
    }
    // a dominates b: no worse and not equal; b dominates a: no better and not equal
    return (no_worse && !no_better) || ((no_worse || !no_better) && crowd[a] >= crowd[b]);
}

// x before y in increasing order, a NaN after every number; 0 when neither comes first.
int compare(double x, double y) {
    if (x < y) return -1;
    if (y < x) return 1;
    const bool nx = std::isnan(x), ny = std::isnan(y);
    return nx == ny ? 0 : (nx ? 1 : -1);
}

}  // namespace

void _pairings(const double* keys, int rounds, int n, int* pairs, order::Item* items) {
    for (int k = 0; k < rounds; ++k) {
        const double* row = keys + (std::int64_t)k * n;
        for (int i = 0; i < n; ++i) items[i] = {order::key(row[i]), i};
        order::sort_items(items, (std::size_t)n);
        for (int i = 0; i < n; ++i) pairs[(std::int64_t)k * n + i] = items[i].index;
    }
}

void _tournament(const int* pairs, int count, const double* violation, const double* W, int m, const double* crowd,
                 int* winners) {
    const int half = (count + 1) / 2;
    for (int t = 0; t < count; ++t) {
        const int a = pairs[2 * t], b = pairs[2 * t + 1];
        winners[(t & 1) ? half + t / 2 : t / 2] = a_wins(a, b, violation, W, m, crowd) ? a : b;
    }
}

void _order(const double* level, const double* crowd, const double* rand, int n, int first, int* rows) {
    for (int i = 0; i < n; ++i) rows[i] = i;
    auto before = [&](int i, int j) {
        if (int c = compare(level[i], level[j])) return c < 0;
        // decreasing crowding distance: increasing -crowd, whose NaN also comes last
        if (int c = compare(-crowd[i], -crowd[j])) return c < 0;
        if (int c = compare(rand[i], rand[j])) return c < 0;
        return i < j;
    };
    if (first < n) std::nth_element(rows, rows + first, rows + n, before);
    std::sort(rows, rows + first, before);
}

void _niching(int count, const double* counts, const int* index, const double* distance, const double* rand, int n,
              int k, int* chosen, int* scratch) {
    int* members = scratch;          // each direction's count of members so far
    int* start = members + k;        // its free rows: row[start[j] .. start[j] + left[j])
    int* left = start + k + 1;
    int* row = left + k;
    int* niches = row + n;           // this round's directions
    for (int j = 0; j < k; ++j) {
        members[j] = (int)counts[j];
        left[j] = 0;
    }
    for (int r = 0; r < n; ++r) ++left[index[r]];
    start[0] = 0;
    for (int j = 0; j < k; ++j) start[j + 1] = start[j] + left[j];
    for (int j = 0; j < k; ++j) left[j] = 0;
    for (int r = 0; r < n; ++r) row[start[index[r]] + left[index[r]]++] = r;
    const double* key = rand + n;
    int taken = 0;
    while (taken < count) {
        int least = -1, m = 0;
        for (int j = 0; j < k; ++j) {
            if (left[j] == 0) continue;
            if (least < 0 || members[j] < least) {
                least = members[j];
                m = 0;
            }
            if (members[j] == least) niches[m++] = j;
        }
        std::sort(niches, niches + m, [&](int a, int b) {
            if (int c = compare(key[a], key[b])) return c < 0;
            return a < b;
        });
        if (m > count - taken) m = count - taken;
        for (int t = 0; t < m; ++t) {
            const int j = niches[t];
            int* free = row + start[j];
            const double* by = members[j] == 0 ? distance : rand;
            int best = 0;
            for (int i = 1; i < left[j]; ++i) {
                const int c = compare(by[free[i]], by[free[best]]);
                if (c < 0 || (c == 0 && free[i] < free[best])) best = i;
            }
            chosen[taken++] = free[best];
            free[best] = free[--left[j]];
            ++members[j];
        }
    }
}
