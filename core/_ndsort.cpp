// Non-dominated sorting.
//
// Everything is computed from a private working copy: the objective rows after maxormins (with
// -0.0 made +0.0) and one violation per row, read once from the caller's arrays.  The feasible rows
// are ordered lexicographically and equal rows are merged into one point, so that a point can only
// be dominated by points before it.  The points are then visited in that order, and each is placed
// in the first front none of whose members dominates it.  That front is found by a binary search
// over the fronts opened so far: if a member of front k dominates a point, some member of front
// k - 1 does too.  How "a member of front k dominates p" is answered depends on the number of
// objectives:
// - one or two: every point placed before p is no worse in the first objective, so front k
//   dominates p when its smallest second objective is no larger than p's (a sweep, O(N log N));
// - three: when some member is no worse in the second and third objectives; each front keeps the
//   staircase of its members' (second, third) pairs in a blocked sorted array (O(N log^2 N));
// - four or more: the set of points that dominate p is built as a bitset, by intersecting the
//   points before p in the lexicographic order with the points no worse than p in each further
//   objective (each objective's order walked once per block of points), and tested against each
//   front's members (O(M N^2 / 64) word operations).
// needNum caps the fronts: once the first c fronts hold needNum rows, no later point is placed in
// a front past c, so the points beyond are neither searched for nor kept.
#include "_ndsort.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "../frame/rows.hpp"
#include "_order.hpp"

namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;
using order::Item;

// ---- fronts, and where needNum stops the sort --------------------------------------------------

class Fronts {
public:
    explicit Fronts(i64 needNum) : need_(needNum) {}

    int opened() const { return (int)size_.size(); }
    // The fronts a point may still join (a search looks no further).
    int limit() const { return std::min(opened(), cap_); }
    // The number of fronts ranked in the end.
    int ranked_fronts() const { return limit(); }
    bool full() const { return cap_ != INT_MAX; }

    // Puts a group of g rows in front k (k == opened() opens a new one); false, with nothing
    // changed, when k lies past the cap: the group stays unranked.
    bool place(int k, i64 g) {
        if (k >= cap_) return false;
        if (k == opened()) size_.push_back(0);
        size_[k] += g;
        ranked_ += g;
        if (full()) {
            if (k < cap_ - 1) below_ += g;
        } else if (need_ > 0 && ranked_ >= need_) {
            cap_ = opened();
            below_ = ranked_ - size_[cap_ - 1];
        }
        // The cap is the least c whose first c fronts hold needNum rows; fronts only grow.
        while (full() && cap_ > 1 && below_ >= need_) {
            --cap_;
            below_ -= size_[cap_ - 1];
        }
        return true;
    }

private:
    i64 need_;
    i64 ranked_ = 0;
    i64 below_ = 0;  // rows in the fronts before the last one the cap admits
    int cap_ = INT_MAX;
    std::vector<i64> size_;
};

// The first front in [0, limit) that does not dominate the point (limit when all do).
template <class Dominates>
int first_free(int limit, Dominates dominates) {
    int lo = 0, hi = limit;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (dominates(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// ---- one or two objectives ---------------------------------------------------------------------

void sweep(const double* X, int M, int U, const i64* group, Fronts& fronts, int* rank) {
    std::vector<double> least;  // per front, the smallest second objective of its members
    for (int p = 0; p < U; ++p) {
        const double y = M >= 2 ? X[(i64)p * M + 1] : 0.0;
        const int k = first_free(fronts.limit(), [&](int f) { return least[f] <= y; });
        if (!fronts.place(k, group[p])) {
            rank[p] = -1;
            continue;
        }
        rank[p] = k;
        if (k == (int)least.size())
            least.push_back(y);
        else
            least[k] = y;  // y < least[k]: the front did not dominate the point
    }
}

// ---- three objectives --------------------------------------------------------------------------

// The members of one front as (y, z) pairs (second and third objectives), keeping only those that
// no other member is at least as good as in both: then y increases strictly and z decreases
// strictly along the staircase.  The pairs lie in sorted blocks of at most kMax, with the first y
// of each block beside them for the search.
class Staircase {
public:
    struct Step {
        double y, z;
    };

    // Some member has y' <= y and z' <= z.  The first step (least y) and the last (least z) decide
    // most queries without a search.
    bool covers(double y, double z) const {
        if (blocks_.empty() || y < first_.y || z < last_.z) return false;
        if (last_.y <= y || first_.z <= z) return true;
        const int b = block_of(y);
        const std::vector<Step>& s = blocks_[b];
        return last_at_most(s.data(), s.size(), y, [](const Step& t) { return t.y; })->z <= z;
        // (the last step with y' <= y has the least z' among them)
    }

    // Adds (y, z), which no member covers, and drops the members it covers.
    void add(double y, double z) {
        if (blocks_.empty()) {
            blocks_.emplace_back().reserve(16);
            blocks_[0].push_back({y, z});
            heads_.push_back(y);
            first_ = last_ = Step{y, z};
            return;
        }
        const int b = std::max(block_of(y), 0);
        std::vector<Step>& s = blocks_[b];
        Step* const steps = s.data();
        const std::size_t n = s.size();
        std::size_t at = 0;  // the first step with y' >= y
        if (n > 16)
            at = std::lower_bound(steps, steps + n, y, [](const Step& t, double v) { return t.y < v; }) - steps;
        else
            while (at < n && steps[at].y < y) ++at;
        std::size_t end = at;
        while (end < n && steps[end].z >= z) ++end;
        if (end == n) drop_covered_after(b, z);
        if (end > at) {  // the new step takes the place of the first covered one
            steps[at] = Step{y, z};
            s.erase(s.begin() + (at + 1), s.begin() + end);
        } else {
            s.insert(s.begin() + at, Step{y, z});
        }
        heads_[b] = s.front().y;
        if (s.size() > kMax) split(b);
        first_ = blocks_.front().front();
        last_ = blocks_.back().back();
    }

private:
    static constexpr std::size_t kMax = 128;

    // The last element of a[0..n) (increasing, n >= 1, a[0] <= y) whose value is <= y: a search
    // without branches on the values, which come in no order a predictor could learn.
    template <class T, class Value>
    static const T* last_at_most(const T* a, std::size_t n, double y, Value value) {
        while (n > 1) {
            const std::size_t half = n / 2;
            a = value(a[half]) <= y ? a + half : a;
            n -= half;
        }
        return a;
    }

    // Drops the steps of z' >= z at the start of the blocks after block b: the covered run that
    // began in block b goes on there.
    void drop_covered_after(int b, double z) {
        while (b + 1 < (int)blocks_.size()) {
            std::vector<Step>& t = blocks_[b + 1];
            std::size_t k = 0;
            while (k < t.size() && t[k].z >= z) ++k;
            if (k < t.size()) {
                t.erase(t.begin(), t.begin() + k);
                heads_[b + 1] = t.front().y;
                return;
            }
            blocks_.erase(blocks_.begin() + b + 1);
            heads_.erase(heads_.begin() + b + 1);
        }
    }

    // Splits block b, grown past kMax steps, into two halves.
    void split(int b) {
        std::vector<Step> upper;
        upper.reserve(kMax + 1);
        upper.assign(blocks_[b].begin() + kMax / 2, blocks_[b].end());
        blocks_[b].resize(kMax / 2);
        heads_.insert(heads_.begin() + b + 1, upper.front().y);
        blocks_.insert(blocks_.begin() + b + 1, std::move(upper));
    }

    // The last block whose first y is <= y, or -1.
    int block_of(double y) const {
        if (heads_.empty() || heads_[0] > y) return -1;
        return (int)(last_at_most(heads_.data(), heads_.size(), y, [](double h) { return h; }) - heads_.data());
    }

    std::vector<std::vector<Step>> blocks_;
    std::vector<double> heads_;
    Step first_{}, last_{};
};

void staircases(const double* X, int U, const i64* group, Fronts& fronts, int* rank) {
    std::vector<Staircase> front;
    front.reserve(64);
    for (int p = 0; p < U; ++p) {
        const double y = X[(i64)p * 3 + 1], z = X[(i64)p * 3 + 2];
        const int k = first_free(fronts.limit(), [&](int f) { return front[f].covers(y, z); });
        if (!fronts.place(k, group[p])) {
            rank[p] = -1;
            continue;
        }
        rank[p] = k;
        if (k == (int)front.size()) front.emplace_back();
        front[k].add(y, z);
    }
}

// ---- four or more objectives -------------------------------------------------------------------

// The dominator rows of a block of points fill about this much memory: large enough that the walk
// of each objective's order, once per block, costs less than the rows; small enough to stay in the
// processor's caches (measured on a Zen 3: 256 KiB and 4 MiB blocks were both slower).
constexpr i64 kBlockBytes = i64{1} << 20;

// Per objective j >= 1 (row j - 1 of each table): the points in increasing order of that objective
// (`point`), the place of every point in that order (`place`), and for every place the last place
// of its run of equal values (`run_end`).
struct ObjectiveOrders {
    std::vector<std::int32_t> point, place, run_end;
};

// The objectives are sorted side by side on the team with Parallel 1.
ObjectiveOrders objective_orders(const double* X, int M, int U, int Parallel) {
    ObjectiveOrders o;
    const std::size_t size = (std::size_t)(M - 1) * U;
    o.point.resize(size);
    o.place.resize(size);
    o.run_end.resize(size);
    std::vector<Item> all(size), scratch(size);
    std::vector<std::uint32_t> counts((std::size_t)(M - 1) * order::kCounts);
    evo::for_rows(M - 1, (i64)(M - 1) * U * 8, Parallel, [&](i64 j1) {
        const int j = (int)j1 + 1;
        const std::size_t row = (std::size_t)(j - 1) * U;
        Item* items = all.data() + row;
        for (int p = 0; p < U; ++p) items[p] = {order::key(X[(i64)p * M + j]), p};
        order::sort_items(items, U, scratch.data() + row, counts.data() + (std::size_t)(j - 1) * order::kCounts);
        std::int32_t *point = o.point.data() + row, *place = o.place.data() + row, *run_end = o.run_end.data() + row;
        for (int t = 0; t < U; ++t) {
            point[t] = items[t].index;
            place[items[t].index] = t;
        }
        for (int t = U - 1; t >= 0; --t) run_end[t] = t + 1 < U && items[t + 1].key == items[t].key ? run_end[t + 1] : t;
    });
    return o;
}

// The dominator sets of a block of points [p0, p1): row p - p0 of D (stride words) receives the
// bitset of the points q < p that are no worse than p in every objective j >= 1 (and, being
// before p in the lexicographic order, no worse in the first): exactly the points that dominate
// p, since equal points were merged.  For each objective, the block's points are taken in that
// objective's order; R collects the points of the order up to the end of each one's run of equal
// values, and is intersected into its row.  R and `members` are scratch for `stride` words and
// p1 - p0 points.
void dominators(const ObjectiveOrders& o, int M, int U, int p0, int p1, u64* __restrict D, i64 stride,
                u64* __restrict R, std::int32_t* members) {
    for (int j = 1; j < M; ++j) {
        const std::size_t at = (std::size_t)(j - 1) * U;
        const std::int32_t *point = o.point.data() + at, *place = o.place.data() + at, *run_end = o.run_end.data() + at;
        // The block's places in increasing order, through a bitset of places (R, cleared around it).
        std::memset(R, 0, (std::size_t)stride * sizeof(u64));
        for (int p = p0; p < p1; ++p) R[place[p] >> 6] |= u64{1} << (place[p] & 63);
        int n = 0;
        for (i64 w = 0; w < stride; ++w)
            for (u64 bits = R[w]; bits != 0; bits &= bits - 1) members[n++] = (std::int32_t)(w * 64 + __builtin_ctzll(bits));
        std::memset(R, 0, (std::size_t)stride * sizeof(u64));
        int walked = 0;
        for (int m = 0; m < n; ++m) {
            const int t = members[m], q = point[t];
            for (const int end = run_end[t]; walked <= end; ++walked) R[point[walked] >> 6] |= u64{1} << (point[walked] & 63);
            u64* __restrict out = D + (i64)(q - p0) * stride;
            const i64 full = q >> 6;
            const int rest = q & 63;
            if (j == 1) {
                for (i64 w = 0; w < full; ++w) out[w] = R[w];
            } else {
                for (i64 w = 0; w < full; ++w) out[w] &= R[w];
            }
            if (rest) out[full] = (j == 1 ? R[full] : out[full] & R[full]) & ((u64{1} << rest) - 1);
        }
    }
}

// A front's members (increasing positions), and once it has `promote` of them also their bitset.
struct Members {
    std::vector<std::int32_t> list;
    std::vector<u64> bits;
};

// Whether the bitset row (bits below `words` words) shares a point with front f.
bool meets(const Members& f, const u64* row, i64 words) {
    if (!f.bits.empty() && (i64)f.list.size() > words) {
        u64 any = 0;
        for (i64 w = 0; w < words; ++w) any |= row[w] & f.bits[w];
        return any != 0;
    }
    for (const std::int32_t q : f.list)
        if ((row[q >> 6] >> (q & 63)) & 1) return true;
    return false;
}

void bitsets(const double* X, int M, int U, const i64* group, Fronts& fronts, int* rank, int Parallel) {
    const ObjectiveOrders o = objective_orders(X, M, U, Parallel);
    const i64 stride = (U + 63) / 64;
    // Blocks of points whose dominator rows fill about kBlockBytes (each objective's order is walked
    // once per block); with the team, one block per thread is built side by side, then the points
    // are placed in order.
    const int block = (int)std::min<i64>(U, std::max<i64>(64, (kBlockBytes / 8) / stride));
    const int blocks = (int)((U + (i64)block - 1) / block);
    const int side = Parallel == 1 ? std::max(1, std::min(evo::team_size(), blocks)) : 1;
    const std::unique_ptr<u64[]> D(new u64[(std::size_t)side * block * stride]);
    std::vector<u64> R((std::size_t)side * stride);
    std::vector<std::int32_t> members((std::size_t)side * block);
    const i64 promote = std::max<i64>(16, stride);  // members from which a front keeps a bitset
    std::vector<Members> front;

    for (int first = 0; first < blocks; first += side) {
        const int n = std::min(side, blocks - first);
        const i64 work = (i64)n * block * stride * (M - 1);
        evo::for_ranges(n, work, Parallel, [&](i64 b0, i64 b1) {
            for (i64 b = b0; b < b1; ++b) {
                const int p0 = (int)((first + b) * block), p1 = (int)std::min<i64>(U, p0 + (i64)block);
                dominators(o, M, U, p0, p1, D.get() + b * block * stride, stride, R.data() + b * stride,
                           members.data() + b * block);
            }
        });
        const int p_end = (int)std::min<i64>(U, (i64)(first + n) * block);
        for (int p = first * block; p < p_end; ++p) {
            const u64* row = D.get() + (i64)(p - first * block) * stride;
            const i64 words = (p + 63) / 64;
            u64 any = 0;
            for (i64 w = 0; w < words; ++w) any |= row[w];
            const int k = any == 0 ? 0 : first_free(fronts.limit(), [&](int f) { return meets(front[f], row, words); });
            if (!fronts.place(k, group[p])) {
                rank[p] = -1;
                continue;
            }
            rank[p] = k;
            if (k == (int)front.size()) front.emplace_back();
            Members& f = front[k];
            f.list.push_back(p);
            if ((i64)f.list.size() == promote) {
                f.bits.assign(stride, 0);
                for (const std::int32_t q : f.list) f.bits[q >> 6] |= u64{1} << (q & 63);
            } else if (!f.bits.empty()) {
                f.bits[p >> 6] |= u64{1} << (p & 63);
            }
        }
    }
}

// ---- the feasible rows -------------------------------------------------------------------------

// Row a of W before row b in the lexicographic order of the columns from `from` on, ties by index.
bool lex_before(const double* W, int M, int from, std::int32_t a, std::int32_t b) {
    const double *x = W + (i64)a * M, *y = W + (i64)b * M;
    for (int j = from; j < M; ++j)
        if (x[j] != y[j]) return x[j] < y[j];
    return a < b;
}

bool same_row(const double* W, int M, std::int32_t a, std::int32_t b) {
    const double *x = W + (i64)a * M, *y = W + (i64)b * M;
    for (int j = 0; j < M; ++j)
        if (x[j] != y[j]) return false;
    return true;
}

// Places the feasible rows (increasing) in fronts; front[r] receives the front of row r, or -1.
void rank_feasible(const double* W, int M, const std::vector<std::int32_t>& rows, Fronts& fronts, int* front,
                   int Parallel) {
    const int n = (int)rows.size();
    if (n == 0) return;
    // The lexicographic order: the first objective by key, then runs of equal first objectives.
    std::vector<Item> items(n);
    for (int i = 0; i < n; ++i) items[i] = {M > 0 ? order::key(W[(i64)rows[i] * M]) : 0, rows[i]};
    order::sort_items(items.data(), n);
    std::unique_ptr<std::int32_t[]> sorted(new std::int32_t[n]);
    for (int i = 0; i < n; ++i) sorted[i] = items[i].index;
    if (M > 1)
        for (int i = 0; i < n;) {
            int e = i + 1;
            while (e < n && items[e].key == items[i].key) ++e;
            if (e - i > 1)
                std::sort(sorted.get() + i, sorted.get() + e,
                          [&](std::int32_t a, std::int32_t b) { return lex_before(W, M, 1, a, b); });
            i = e;
        }
    items = std::vector<Item>();

    // Equal rows merged: point p stands for sorted[start[p] .. start[p + 1]).
    std::vector<std::int32_t> start;
    start.reserve(n + 1);
    for (int i = 0; i < n; ++i)
        if (i == 0 || !same_row(W, M, sorted[i - 1], sorted[i])) start.push_back(i);
    const int U = (int)start.size();
    start.push_back(n);
    std::unique_ptr<i64[]> group(new i64[U]);
    std::unique_ptr<double[]> X(new double[(std::size_t)U * M + 1]);
    for (int p = 0; p < U; ++p) {
        group[p] = start[p + 1] - start[p];
        std::memcpy(X.get() + (i64)p * M, W + (i64)sorted[start[p]] * M, (std::size_t)M * sizeof(double));
    }

    std::unique_ptr<int[]> rank(new int[U]);
    if (M <= 2)
        sweep(X.get(), M, U, group.get(), fronts, rank.get());
    else if (M == 3)
        staircases(X.get(), U, group.get(), fronts, rank.get());
    else
        bitsets(X.get(), M, U, group.get(), fronts, rank.get(), Parallel);
    for (int p = 0; p < U; ++p)
        for (int i = start[p]; i < start[p + 1]; ++i) front[sorted[i]] = rank[p];
}

}  // namespace

int _ndsort(const double* ObjV, int Nind, int M, const int* maxormins, const double* CV, int CVNum, int needNum,
            double* levels, int Parallel) {
    if (Parallel != 0 && Parallel != 1) return 0;
    if (Nind <= 0) return 0;
    const i64 N = Nind, L = M > 0 ? M : 0, K = CV != nullptr && CVNum > 0 ? CVNum : 0;
    const double inf = std::numeric_limits<double>::infinity();

    // The working copy, read once from the caller's arrays.
    std::unique_ptr<double[]> W(new double[(std::size_t)N * L + 1]), violation(new double[N]);
    evo::for_rows(N, N * (L + K), Parallel, [&](i64 i) {
        const double* a = ObjV + i * L;
        double* w = W.get() + i * L;
        bool nan = false;
        if (maxormins != nullptr)
            for (i64 j = 0; j < L; ++j) w[j] = (double)maxormins[j] * a[j] + 0.0;  // -0.0 becomes +0.0
        else
            for (i64 j = 0; j < L; ++j) w[j] = a[j] + 0.0;
        for (i64 j = 0; j < L; ++j) nan |= w[j] != w[j];
        double sum = 0.0;
        for (i64 c = 0; c < K; ++c) {
            const double v = CV[i * K + c];
            if (v > 0) sum += v;
            nan |= v != v;
        }
        violation[i] = nan ? inf : sum;
    });

    std::vector<std::int32_t> feasible, infeasible;
    feasible.reserve(N);
    for (std::int32_t i = 0; i < Nind; ++i) (violation[i] == 0 ? feasible : infeasible).push_back(i);

    Fronts fronts(needNum);
    std::vector<int> front(N, -1);
    rank_feasible(W.get(), M, feasible, fronts, front.data(), Parallel);
    W.reset();

    // The infeasible rows: one front per distinct violation, until the cap.
    if (!fronts.full() && !infeasible.empty()) {
        const int n = (int)infeasible.size();
        std::vector<Item> items(n);
        for (int i = 0; i < n; ++i) items[i] = {order::key(violation[infeasible[i]]), infeasible[i]};
        order::sort_items(items.data(), n);
        for (int i = 0; i < n;) {
            int e = i + 1;
            while (e < n && items[e].key == items[i].key) ++e;
            const int k = fronts.opened();
            if (!fronts.place(k, e - i)) break;
            for (int s = i; s < e; ++s) front[items[s].index] = k;
            i = e;
        }
    }

    const int ranked = fronts.ranked_fronts();
    for (i64 i = 0; i < N; ++i) levels[i] = front[i] >= 0 && front[i] < ranked ? (double)(front[i] + 1) : inf;
    return ranked;
}
