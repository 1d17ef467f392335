// Distance kernels.
//
// Entry (i, j) is one running sum over k = 0 ... dim-1, started at 0.0, exactly as the plain loop
// `for k: s += term(A[i,k] - B[j,k])` takes it.  Speed comes from computing many entries side by
// side, never from splitting a sum: B is first copied into tiles that hold, for each k, the
// values of kLanes consecutive rows next to each other, so that one vector operation advances
// kLanes entries of a row of the result, each with its own sum, and a block of kRows rows of A
// shares every tile it loads.  The tiles are walked in chunks that stay in cache while the rows
// of A pass by.
//
// The tiled loops are compiled three times, for AVX-512, for AVX2 and for the x86-64 baseline, and
// the widest form the processor supports runs.  The width changes no bits: every lane performs
// the scalar subtraction, product or absolute value and addition in the same order (the build
// never contracts a product and a sum into one fused operation).
#include "_polvane.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../frame/rows.hpp"

namespace {

using i64 = std::int64_t;

constexpr int kLanes = 8;                   // rows of B in one tile
constexpr int kRows = 4;                    // rows of A in one block
constexpr i64 kChunkDoubles = i64{1} << 15;  // tiles walked per pass over the rows of A: 256 KiB
constexpr i64 kAhead = 3;                   // tiles between a mirror write and the request of its line
constexpr i64 kPrefetchBytes = i64{1} << 20;  // same-matrix results above this request mirror lines

typedef double vec __attribute__((vector_size(kLanes * sizeof(double))));
typedef long long ivec __attribute__((vector_size(kLanes * sizeof(double))));

#define EVO_INLINE inline __attribute__((always_inline))

EVO_INLINE i64 min64(i64 a, i64 b) { return a < b ? a : b; }
EVO_INLINE i64 max64(i64 a, i64 b) { return a > b ? a : b; }

EVO_INLINE vec load(const double* p) {
    vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The two sums: the term added per column and what is made of the total.
struct Euclidean {
    static EVO_INLINE double term(double d) { return d * d; }
    static EVO_INLINE vec term(vec d) { return d * d; }
    static EVO_INLINE double finish(double s) { return __builtin_sqrt(s); }
};

struct Cityblock {
    static EVO_INLINE double term(double d) { return __builtin_fabs(d); }
    static EVO_INLINE vec term(vec d) { return (vec)((ivec)d & 0x7fffffffffffffffLL); }  // clears the sign
    static EVO_INLINE double finish(double s) { return s; }
};

enum class Metric { euclidean, cityblock };

// One kernel call.  `X` is B, or A itself for the same-matrix forms, whose rows are the columns
// of the result; `tiles` its tiled copy.
struct Job {
    Metric metric;
    bool self;
    const double* A;
    const double* X;
    double* C;
    i64 row_a, row_x, dim;
    const double* tiles = nullptr;
    i64 ntiles = 0;
    bool prefetch = false;  // mirror images beyond the caches: request their lines ahead
};

// tiles[(t*dim + k)*kLanes + l] = X[t*kLanes + l, k], zero past the last row.
void make_tiles(const double* X, i64 rows, i64 dim, i64 ntiles, double* tiles) {
    for (i64 t = 0; t < ntiles; ++t) {
        double* tile = tiles + t * dim * kLanes;
        for (int l = 0; l < kLanes; ++l) {
            const i64 j = t * kLanes + l;
            const double* x = X + j * dim;
            if (j < rows)
                for (i64 k = 0; k < dim; ++k) tile[k * kLanes + l] = x[k];
            else
                for (i64 k = 0; k < dim; ++k) tile[k * kLanes + l] = 0.0;
        }
    }
}

static_assert(kLanes == 8, "splat spells out the lanes");
EVO_INLINE vec splat(double x) { return vec{x, x, x, x, x, x, x, x}; }

// Stores the entries v of rows i0 .. i0+R-1 against tile t.  The same-matrix forms write the
// entries (i, j >= i) and their mirror images (j, i).
template <bool Self, int R>
EVO_INLINE void store_block(const Job& job, i64 i0, i64 t, const double (&v)[R][kLanes]) {
    const i64 n = job.row_x, j0 = t * kLanes;
    double* C = job.C;
    if (j0 + kLanes <= n && (!Self || j0 >= i0 + R - 1)) {
        for (int r = 0; r < R; ++r) std::memcpy(C + (i0 + r) * n + j0, v[r], sizeof v[r]);
        if (Self)
            for (int l = 0; l < kLanes; ++l)
                for (int r = 0; r < R; ++r) C[(j0 + l) * n + i0 + r] = v[r][l];
        return;
    }
    for (int r = 0; r < R; ++r) {
        const i64 i = i0 + r;
        for (int l = 0; l < kLanes; ++l) {
            const i64 j = j0 + l;
            if (j < n && (!Self || j >= i)) {
                C[i * n + j] = v[r][l];
                if (Self) C[j * n + i] = v[r][l];
            }
        }
    }
}

// Rows i0 .. i0+R-1 of the result against tiles [t0, t1).  Each entry is its own running sum
// over k; a tile advances kLanes of them per operation.  With a small number of columns D known
// here, the values of the block's rows are spread over vectors once for all tiles.
template <class M, bool Self, int R, int D>
EVO_INLINE void block_row(const Job& job, i64 i0, i64 t0, i64 t1) {
    const i64 dim = D ? D : job.dim;
    const double* a = job.A + i0 * dim;
    vec spread[R][D > 0 ? D : 1];
    if constexpr (D > 0)
        for (int r = 0; r < R; ++r)
            for (int k = 0; k < D; ++k) spread[r][k] = splat(a[r * dim + k]);
    for (i64 t = t0; t < t1; ++t) {
        if (Self && job.prefetch) {
            // The mirror images of a block run down its columns, one line per row and far
            // apart: ask for the lines a few tiles ahead, or each write waits for its line.
            const i64 ahead = (t + kAhead) * kLanes, n = job.row_x;
            for (int l = 0; l < kLanes && ahead + l < n; ++l) {
                __builtin_prefetch(job.C + (ahead + l) * n + i0, 1);
                __builtin_prefetch(job.C + (ahead + l) * n + i0 + R - 1, 1);
            }
        }
        if (Self && (t + 1) * kLanes <= i0) continue;  // wholly left of the diagonal
        const double* tile = job.tiles + t * dim * kLanes;
        vec acc[R];
        for (int r = 0; r < R; ++r) acc[r] = vec{};
        if constexpr (D > 0) {
            for (int k = 0; k < D; ++k) {
                const vec b = load(tile + k * kLanes);
                for (int r = 0; r < R; ++r) acc[r] = acc[r] + M::term(spread[r][k] - b);
            }
        } else {
            for (i64 k = 0; k < dim; ++k) {
                const vec b = load(tile + k * kLanes);
                for (int r = 0; r < R; ++r) acc[r] = acc[r] + M::term(a[r * dim + k] - b);
            }
        }
        double v[R][kLanes];
        for (int r = 0; r < R; ++r) {
            std::memcpy(v[r], &acc[r], sizeof acc[r]);
            for (int l = 0; l < kLanes; ++l) v[r][l] = M::finish(v[r][l]);
        }
        store_block<Self, R>(job, i0, t, v);
    }
}

// Rows [p0, p1) (at most kRows) of the result against tiles [t0, t1).
template <class M, bool Self>
EVO_INLINE void panel(const Job& job, i64 p0, i64 p1, i64 t0, i64 t1) {
    switch (p1 - p0 < kRows ? p1 - p0 : job.dim >= 1 && job.dim <= 4 ? 10 + job.dim : kRows) {
        case 11: block_row<M, Self, kRows, 1>(job, p0, t0, t1); break;
        case 12: block_row<M, Self, kRows, 2>(job, p0, t0, t1); break;
        case 13: block_row<M, Self, kRows, 3>(job, p0, t0, t1); break;
        case 14: block_row<M, Self, kRows, 4>(job, p0, t0, t1); break;
        case kRows: block_row<M, Self, kRows, 0>(job, p0, t0, t1); break;
        case 3: block_row<M, Self, 3, 0>(job, p0, t0, t1); break;
        case 2: block_row<M, Self, 2, 0>(job, p0, t0, t1); break;
        case 1: block_row<M, Self, 1, 0>(job, p0, t0, t1); break;
        default: break;
    }
}

// Rows [begin, end) of the result: a chunk of tiles at a time, every block of rows against it.
template <class M>
EVO_INLINE void pair_rows(const Job& job, i64 begin, i64 end) {
    const i64 chunk = max64(1, kChunkDoubles / max64(1, job.dim * kLanes));
    for (i64 t0 = 0; t0 < job.ntiles; t0 += chunk) {
        const i64 t1 = min64(t0 + chunk, job.ntiles);
        for (i64 p0 = begin; p0 < end; p0 += kRows) panel<M, false>(job, p0, min64(p0 + kRows, end), t0, t1);
    }
}

// Rows [begin, end) of a same-matrix result: a chunk of tiles at a time, every block of rows
// against the tiles of the chunk right of its diagonal.
template <class M>
EVO_INLINE void same_rows(const Job& job, i64 begin, i64 end) {
    const i64 chunk = max64(1, kChunkDoubles / max64(1, job.dim * kLanes));
    for (i64 t0 = begin / kLanes; t0 < job.ntiles; t0 += chunk) {
        const i64 t1 = min64(t0 + chunk, job.ntiles);
        for (i64 i0 = begin; i0 < end && i0 / kLanes < t1; i0 += kRows)
            panel<M, true>(job, i0, min64(i0 + kRows, end), max64(t0, i0 / kLanes), t1);
    }
}

EVO_INLINE void tiled(const Job& job, i64 begin, i64 end) {
    if (job.metric == Metric::euclidean) {
        if (job.self) same_rows<Euclidean>(job, begin, end);
        else pair_rows<Euclidean>(job, begin, end);
    } else {
        if (job.self) same_rows<Cityblock>(job, begin, end);
        else pair_rows<Cityblock>(job, begin, end);
    }
}

using RowsFn = void (*)(const Job&, i64, i64);

__attribute__((target("avx512f"))) void tiled_avx512(const Job& job, i64 begin, i64 end) { tiled(job, begin, end); }
__attribute__((target("avx2"))) void tiled_avx2(const Job& job, i64 begin, i64 end) { tiled(job, begin, end); }
void tiled_baseline(const Job& job, i64 begin, i64 end) { tiled(job, begin, end); }

// The plain loop, one entry at a time: taken when the tiles cannot be allocated.
template <class M>
void plain_rows(const Job& job, i64 begin, i64 end) {
    const i64 dim = job.dim, n = job.row_x;
    for (i64 i = begin; i < end; ++i) {
        const double* a = job.A + i * dim;
        for (i64 j = job.self ? i : 0; j < n; ++j) {
            const double* x = job.X + j * dim;
            double s = 0.0;
            for (i64 k = 0; k < dim; ++k) s += M::term(a[k] - x[k]);
            const double v = M::finish(s);
            job.C[i * n + j] = v;
            if (job.self) job.C[j * n + i] = v;
        }
    }
}

void plain(const Job& job, i64 begin, i64 end) {
    if (job.metric == Metric::euclidean) plain_rows<Euclidean>(job, begin, end);
    else plain_rows<Cityblock>(job, begin, end);
}

// The forms this processor can run, widest first; the baseline runs everywhere.
struct Form {
    const char* name;
    bool supported;
    RowsFn rows;
};

Form forms(int which) {
    switch (which) {
        case 0: return {"avx512f", (bool)__builtin_cpu_supports("avx512f"), tiled_avx512};
        case 1: return {"avx2", (bool)__builtin_cpu_supports("avx2"), tiled_avx2};
        case 2: return {"baseline", true, tiled_baseline};
        default: return {"plain", true, plain};
    }
}
[[maybe_unused]] constexpr int kForms = 4;

RowsFn widest() {
    for (int f = 0;; ++f)
        if (forms(f).supported) return forms(f).rows;
}

void distances(Job job, RowsFn rows, int Parallel) {
    if (Parallel != 0 && Parallel != 1) return;
    const i64 dim = job.dim;
    job.ntiles = (job.row_x + kLanes - 1) / kLanes;
    double* tiles = nullptr;
    if (rows != plain && job.row_a > 0 && job.ntiles > 0) {
        tiles = (double*)std::malloc((size_t)max64(1, job.ntiles * kLanes * dim) * sizeof(double));
        if (tiles == nullptr) rows = plain;  // same entries, one at a time
    }
    if (tiles != nullptr) {
        make_tiles(job.X, job.row_x, dim, job.ntiles, tiles);
        job.tiles = tiles;
    }
    job.prefetch = job.self && job.row_a * job.row_x * (i64)sizeof(double) > kPrefetchBytes;
    const i64 work = job.row_a * job.row_x * max64(dim, 1);
    evo::for_ranges(job.row_a, work, Parallel, [&](i64 begin, i64 end) { rows(job, begin, end); });
    std::free(tiles);
}

// Row loops of their own, so that a store to r is not taken to change the other arguments
// (which it could, through a reference captured by a row body) and the loops vectorise.
__attribute__((noinline)) void sub_row(double a, const double* b, double* r, i64 n) {
    for (i64 j = 0; j < n; ++j) r[j] = a - b[j];  // r may be b
}

__attribute__((noinline)) void div_row(const double* a, double d, double* r, i64 n) {
    for (i64 j = 0; j < n; ++j) r[j] = a[j] / d;
}

void pairs(Metric metric, const double* A, const double* B, double* C, int row_a, int row_b, int dim,
           int Parallel) {
    distances(Job{metric, false, A, B, C, row_a, row_b, dim}, widest(), Parallel);
}

void same(Metric metric, const double* A, double* C, int row_a, int dim, int Parallel) {
    distances(Job{metric, true, A, A, C, row_a, row_a, dim}, widest(), Parallel);
}

}  // namespace

void _polvane_eu(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel) {
    pairs(Metric::euclidean, A, B, C, row_a, row_b, dim, Parallel);
}

void _polvane_eu_self(const double* A, double* C, int row_a, int dim, int Parallel) {
    same(Metric::euclidean, A, C, row_a, dim, Parallel);
}

void _polvane_ci(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel) {
    pairs(Metric::cityblock, A, B, C, row_a, row_b, dim, Parallel);
}

void _polvane_ci_self(const double* A, double* C, int row_a, int dim, int Parallel) {
    same(Metric::cityblock, A, C, row_a, dim, Parallel);
}

void _polvane_cos_normalize(const double* A, double* C, int row_a, int dim, int Parallel) {
    constexpr int kBlock = 16;
    const i64 L = dim;
    // The norms of a block of rows, their square roots side by side, then the quotients.
    evo::for_row_blocks<kBlock>(row_a, (i64)row_a * L, Parallel, [&](i64 begin, i64 end) {
        double norm[kBlock];
        const int n = (int)(end - begin);
        for (int b = 0; b < n; ++b) {
            const double* a = A + (begin + b) * L;
            double s = 0.0;
            for (i64 k = 0; k < L; ++k) s += a[k] * a[k];
            norm[b] = s;
        }
        for (int b = 0; b < n; ++b) norm[b] = __builtin_sqrt(norm[b]);
        for (int b = 0; b < n; ++b) div_row(A + (begin + b) * L, norm[b], C + (begin + b) * L, L);
    });
}

void num_sub_matrix(double a, const double* b, double* r, int Nind, int Lind, int Parallel) {
    const i64 L = Lind;
    evo::for_rows(Nind, (i64)Nind * L, Parallel, [&](i64 i) { sub_row(a, b + i * L, r + i * L, L); });
}
