// Distance kernels.
//
// Entry (i, j) is one running sum over k = 0 ... dim-1, started at 0.0, exactly as the plain loop
// `for k: s += term(A[i,k] - B[j,k])` takes it.  Speed comes from computing many entries side by
// side, never from splitting a sum: B is first copied into tiles that hold, for each k, the
// values of a few consecutive rows next to each other, so that one vector operation advances as
// many entries of a row of the result, each with its own sum, and a block of rows of A shares
// every tile it loads.  The tiles are walked in chunks that stay in cache while the rows of A pass
// by.
//
// The tiled loops are compiled three times, for AVX-512, for AVX2 and for the x86-64 baseline, and
// the widest form the processor supports runs.  Each form works in vectors of its own registers'
// width (8, 4 or 2 doubles), with tiles as wide as one or two of them and blocks of rows sized so
// that every running sum of a block stays in a register.  The width changes no bits: every lane
// performs the scalar subtraction, product or absolute value and addition in the same order (the
// build never contracts a product and a sum into one fused operation), and the square roots are
// taken lane by lane by the vector instruction, which rounds each one as the scalar one does.
#include "_polvane.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../frame/rows.hpp"

namespace {

using i64 = std::int64_t;

constexpr i64 kChunkDoubles = i64{1} << 15;  // tiles walked per pass over the rows of A: 256 KiB
constexpr i64 kAhead = 3;                    // tiles between a mirror write and the request of its line
constexpr i64 kPrefetchBytes = i64{1} << 20;  // same-matrix results above this request mirror lines

#define EVO_INLINE inline __attribute__((always_inline))

EVO_INLINE i64 min64(i64 a, i64 b) { return a < b ? a : b; }
EVO_INLINE i64 max64(i64 a, i64 b) { return a > b ? a : b; }

// The register shape of a form: vectors of W doubles, tiles of U vectors (W*U rows of X) and
// blocks of R rows of A, whose R*U running sums are held in registers.
template <int W, int U, int R>
struct Shape {
    static constexpr int kVec = W, kRegs = U, kTile = W * U, kRows = R;
    typedef double vec __attribute__((vector_size(W * sizeof(double))));
};
using Avx512 = Shape<8, 2, 8>;    // 16 sums in the 32 zmm registers
using Avx2 = Shape<4, 2, 4>;      // 8 sums in the 16 ymm registers
using Baseline = Shape<2, 2, 4>;  // 8 sums in the 16 xmm registers

template <class V>
constexpr int kLanesOf = sizeof(V) / sizeof(double);

template <class V>
EVO_INLINE V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The two sums: the term added per column and what is made of the total.
struct Euclidean {
    static EVO_INLINE double term(double d) { return d * d; }
    template <class V>
    static EVO_INLINE V term(V d) { return d * d; }
    static EVO_INLINE double finish(double s) { return __builtin_sqrt(s); }
    // One correctly rounded root per lane: the compiler takes them all with one vector root.
    template <class V>
    static EVO_INLINE V finish(V s) {
        for (int l = 0; l < kLanesOf<V>; ++l) s[l] = __builtin_sqrt(s[l]);
        return s;
    }
};

struct Cityblock {
    static EVO_INLINE double term(double d) { return __builtin_fabs(d); }
    template <class V>
    static EVO_INLINE V term(V d) {
        typedef long long bits __attribute__((vector_size(sizeof(V))));
        return (V)((bits)d & 0x7fffffffffffffffLL);  // clears the sign
    }
    static EVO_INLINE double finish(double s) { return s; }
    template <class V>
    static EVO_INLINE V finish(V s) { return s; }
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

// tiles[(t*dim + k)*T + l] = X[t*T + l, k], zero past the last row.
void make_tiles(const double* X, i64 rows, i64 dim, i64 T, i64 ntiles, double* tiles) {
    for (i64 t = 0; t < ntiles; ++t) {
        double* tile = tiles + t * dim * T;
        for (i64 l = 0; l < T; ++l) {
            const i64 j = t * T + l;
            const double* x = X + j * dim;
            if (j < rows)
                for (i64 k = 0; k < dim; ++k) tile[k * T + l] = x[k];
            else
                for (i64 k = 0; k < dim; ++k) tile[k * T + l] = 0.0;
        }
    }
}

// Stores the entries of rows i0 .. i0+rows-1 against tile t; v[r][l] is entry (i0 + r, t*T + l).
// The same-matrix forms write the entries (i, j >= i) and their mirror images (j, i).
template <class S, bool Self>
EVO_INLINE void store_block(const Job& job, i64 i0, int rows, i64 t, const double (&v)[S::kRows][S::kTile]) {
    constexpr int R = S::kRows, T = S::kTile;
    const i64 n = job.row_x, j0 = t * T;
    double* C = job.C;
    if (rows == R && j0 + T <= n && (!Self || j0 >= i0 + R - 1)) {
        for (int r = 0; r < R; ++r) std::memcpy(C + (i0 + r) * n + j0, v[r], sizeof v[r]);
        if (Self)
            for (int l = 0; l < T; ++l)
                for (int r = 0; r < R; ++r) C[(j0 + l) * n + i0 + r] = v[r][l];
        return;
    }
    for (int r = 0; r < rows; ++r) {
        const i64 i = i0 + r;
        for (int l = 0; l < T; ++l) {
            const i64 j = j0 + l;
            if (j < n && (!Self || j >= i)) {
                C[i * n + j] = v[r][l];
                if (Self) C[j * n + i] = v[r][l];
            }
        }
    }
}

// Rows i0 .. i0+rows-1 of the result against tiles [t0, t1).  Each entry is its own running sum
// over k; a tile advances T of them per row of the block and column.  A full block (rows == R)
// may know its number of columns D here; a shorter one repeats its last row in the lanes of the
// missing ones, whose sums are never stored.
template <class S, class M, bool Self, int D, bool Full>
EVO_INLINE void block_row(const Job& job, i64 i0, int rows, i64 t0, i64 t1) {
    using vec = typename S::vec;
    constexpr int R = S::kRows, U = S::kRegs, W = S::kVec, T = S::kTile;
    const i64 dim = D ? D : job.dim;
    const double* a = job.A + i0 * dim;
    i64 row[R];  // offset of the values of block row r
    for (int r = 0; r < R; ++r) row[r] = (Full || r < rows ? r : rows - 1) * dim;
    for (i64 t = t0; t < t1; ++t) {
        if (Self && job.prefetch) {
            // The mirror images of a block run down its columns, one line per row and far
            // apart: ask for the lines a few tiles ahead, or each write waits for its line.
            const i64 ahead = (t + kAhead) * T, n = job.row_x;
            for (int l = 0; l < T && ahead + l < n; ++l) {
                __builtin_prefetch(job.C + (ahead + l) * n + i0, 1);
                __builtin_prefetch(job.C + (ahead + l) * n + i0 + R - 1, 1);
            }
        }
        if (Self && (t + 1) * T <= i0) continue;  // wholly left of the diagonal
        const double* tile = job.tiles + t * dim * T;
        vec acc[R][U];
        for (int r = 0; r < R; ++r)
            for (int u = 0; u < U; ++u) acc[r][u] = vec{};
        for (i64 k = 0; k < dim; ++k) {
            vec b[U];
            for (int u = 0; u < U; ++u) b[u] = load<vec>(tile + k * T + u * W);
            for (int r = 0; r < R; ++r) {
                const double x = a[row[r] + k];
                for (int u = 0; u < U; ++u) acc[r][u] = acc[r][u] + M::term(x - b[u]);
            }
        }
        double v[R][T];
        for (int r = 0; r < R; ++r)
            for (int u = 0; u < U; ++u) {
                const vec s = M::finish(acc[r][u]);
                std::memcpy(&v[r][u * W], &s, sizeof s);
            }
        store_block<S, Self>(job, i0, rows, t, v);
    }
}

// Rows [p0, p1) (at most R) of the result against tiles [t0, t1).
template <class S, class M, bool Self>
EVO_INLINE void panel(const Job& job, i64 p0, i64 p1, i64 t0, i64 t1) {
    const int rows = (int)(p1 - p0);
    switch (rows < S::kRows ? -1 : job.dim >= 1 && job.dim <= 4 ? (int)job.dim : 0) {
        case 1: block_row<S, M, Self, 1, true>(job, p0, rows, t0, t1); break;
        case 2: block_row<S, M, Self, 2, true>(job, p0, rows, t0, t1); break;
        case 3: block_row<S, M, Self, 3, true>(job, p0, rows, t0, t1); break;
        case 4: block_row<S, M, Self, 4, true>(job, p0, rows, t0, t1); break;
        case 0: block_row<S, M, Self, 0, true>(job, p0, rows, t0, t1); break;
        default: block_row<S, M, Self, 0, false>(job, p0, rows, t0, t1); break;
    }
}

// Rows [begin, end) of the result: a chunk of tiles at a time, every block of rows against it.
template <class S, class M>
EVO_INLINE void pair_rows(const Job& job, i64 begin, i64 end) {
    constexpr int R = S::kRows, T = S::kTile;
    const i64 chunk = max64(1, kChunkDoubles / max64(1, job.dim * T));
    for (i64 t0 = 0; t0 < job.ntiles; t0 += chunk) {
        const i64 t1 = min64(t0 + chunk, job.ntiles);
        for (i64 p0 = begin; p0 < end; p0 += R) panel<S, M, false>(job, p0, min64(p0 + R, end), t0, t1);
    }
}

// Rows [begin, end) of a same-matrix result: a chunk of tiles at a time, every block of rows
// against the tiles of the chunk right of its diagonal.
template <class S, class M>
EVO_INLINE void same_rows(const Job& job, i64 begin, i64 end) {
    constexpr int R = S::kRows, T = S::kTile;
    const i64 chunk = max64(1, kChunkDoubles / max64(1, job.dim * T));
    for (i64 t0 = begin / T; t0 < job.ntiles; t0 += chunk) {
        const i64 t1 = min64(t0 + chunk, job.ntiles);
        for (i64 i0 = begin; i0 < end && i0 / T < t1; i0 += R)
            panel<S, M, true>(job, i0, min64(i0 + R, end), max64(t0, i0 / T), t1);
    }
}

template <class S>
EVO_INLINE void tiled(const Job& job, i64 begin, i64 end) {
    if (job.metric == Metric::euclidean) {
        if (job.self) same_rows<S, Euclidean>(job, begin, end);
        else pair_rows<S, Euclidean>(job, begin, end);
    } else {
        if (job.self) same_rows<S, Cityblock>(job, begin, end);
        else pair_rows<S, Cityblock>(job, begin, end);
    }
}

using RowsFn = void (*)(const Job&, i64, i64);

#ifdef EVOCORE_X86_FORMS
__attribute__((target("avx512f"))) void tiled_avx512(const Job& job, i64 begin, i64 end) {
    tiled<Avx512>(job, begin, end);
}
__attribute__((target("avx2"))) void tiled_avx2(const Job& job, i64 begin, i64 end) { tiled<Avx2>(job, begin, end); }
#endif
void tiled_baseline(const Job& job, i64 begin, i64 end) { tiled<Baseline>(job, begin, end); }

// The plain loop, one entry at a time: the form whose bits the tiled ones give, and the one taken
// when the tiles cannot be allocated.
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

// A form: its tile width (0: no tiles) and its row loop.
struct Loop {
    int tile;
    RowsFn rows;
};

// The forms, widest first; the plain loop, the last, runs everywhere.
constinit Forms<Loop> kForms{
#ifdef EVOCORE_X86_FORMS
    {"avx512f", {Avx512::kTile, tiled_avx512}},
    {"avx2", {Avx2::kTile, tiled_avx2}},
#endif
    {"baseline", {Baseline::kTile, tiled_baseline}},
    {"plain", {0, plain}}};

void distances(Job job, Loop f, int Parallel) {
    const i64 dim = job.dim;
    double* tiles = nullptr;
    if (f.tile > 0 && job.row_a > 0 && job.row_x > 0) {
        job.ntiles = (job.row_x + f.tile - 1) / f.tile;
        tiles = (double*)std::malloc((size_t)max64(1, job.ntiles * f.tile * dim) * sizeof(double));
        if (tiles == nullptr) f = kForms.fn(kForms.count() - 1);  // same entries, one at a time
    }
    if (tiles != nullptr) {
        make_tiles(job.X, job.row_x, dim, f.tile, job.ntiles, tiles);
        job.tiles = tiles;
    }
    job.prefetch = job.self && job.row_a * job.row_x * (i64)sizeof(double) > kPrefetchBytes;
    const i64 work = job.row_a * job.row_x * max64(dim, 1);
    evo::for_ranges(job.row_a, work, Parallel, [&](i64 begin, i64 end) { f.rows(job, begin, end); });
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

// The picked form of a kernel; B is not read by the same-matrix kernels (`self`).
void run(Metric metric, bool self, const double* A, const double* B, double* C, int row_a, int row_b, int dim,
         int Parallel) {
    distances(Job{metric, self, A, self ? A : B, C, row_a, self ? row_a : row_b, dim}, kForms.fn(), Parallel);
}

}  // namespace

evo::FormChoice& _polvane_forms() { return kForms; }

void _polvane_eu(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel) {
    run(Metric::euclidean, false, A, B, C, row_a, row_b, dim, Parallel);
}

void _polvane_eu_self(const double* A, double* C, int row_a, int dim, int Parallel) {
    run(Metric::euclidean, true, A, A, C, row_a, row_a, dim, Parallel);
}

void _polvane_ci(const double* A, const double* B, double* C, int row_a, int row_b, int dim, int Parallel) {
    run(Metric::cityblock, false, A, B, C, row_a, row_b, dim, Parallel);
}

void _polvane_ci_self(const double* A, double* C, int row_a, int dim, int Parallel) {
    run(Metric::cityblock, true, A, A, C, row_a, row_a, dim, Parallel);
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
