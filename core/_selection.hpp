#pragma once

#include "_order.hpp"

// The selection of evocore.algorithms' elitist algorithms.

// The row positions of keys (rounds x n) in increasing order of each row's keys (then position),
// row after row, into pairs (rounds * n); `items` is scratch for n items.
void _pairings(const double* keys, int rounds, int n, int* pairs, order::Item* items);

// Binary tournaments between candidates a = pairs[2t] and b = pairs[2t + 1], t < count: a wins
// when its violation is the smaller or equal one; when both violations are 0 and W is given
// (rows of m objective values, all minimised), a wins when it dominates b, or when b does not
// dominate a and crowd[a] >= crowd[b].  The winners of the even tournaments go to
// winners[0 .. (count + 1) / 2), those of the odd ones after them.
void _tournament(const int* pairs, int count, const double* violation, const double* W, int m, const double* crowd,
                 int* winners);

// The first `first` of the n rows (first <= n) ordered by increasing level, then decreasing
// crowd, then increasing rand, then index, a NaN after every number of its key (the order of a
// stable sort by each key in turn); the other rows after them in no particular order.
void _order(const double* level, const double* crowd, const double* rand, int n, int first, int* rows);

// NSGA-III's niching: `count` rows of a front of n, row r associated with direction index[r]
// (< k) at distance[r]; counts[j] holds direction j's members so far.  Round by round, the
// directions that still have free rows and the fewest members take one row each, in increasing
// order of their key rand[n + j] (then j), until `count` rows are taken: the closest free row
// (then the lowest) while the direction has no member, else the free row of the lowest key
// rand[r] (then the lowest).  The taken rows go to chosen[0 .. count) in the order taken;
// `scratch` holds 3k + 2n + 1 ints.  count must not exceed n.
void _niching(int count, const double* counts, const int* index, const double* distance, const double* rand, int n,
              int k, int* chosen, int* scratch);
