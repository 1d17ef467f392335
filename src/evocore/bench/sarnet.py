"""sarnet: order crossover.  Results are random, so a row checks that every child is a
permutation of the parents' genes and that evocore and the NumPy OX give the same shape.
Peers: DEAP's cxOrdered pair by pair over lists (it needs the genes 0..L-1, so on the wide
case it runs on the ranks of the genes, without the cost of mapping them), and a vectorised
NumPy OX over all pairs at once (DEAP is optional: the row runs without it)."""

import numpy as np

from ._core import Bench, call, case


def np_ox(K, F, lo, hi):
    """OX children of keeper rows K and filler rows F (n x L), segment lo..hi of each row."""
    n, L = K.shape
    cols = np.arange(L)
    inseg = (cols >= lo[:, None]) & (cols <= hi[:, None])
    # the filler genes found in the keeper's segment, rows made disjoint by an offset
    base = min(K.min(), F.min())
    span = np.int64(max(K.max(), F.max())) - base + 2
    off = np.arange(n, dtype=np.int64)[:, None] * span - base + 1
    struck = np.isin(F + off, np.where(inseg, K + off, 0))
    kept = np.take_along_axis(F, np.argsort(struck, axis=1, kind="stable"), axis=1)
    free = np.argsort(inseg, axis=1, kind="stable")     # the child's free columns, in order
    fill = cols < (L - (hi - lo + 1))[:, None]
    child = K.copy()
    child[np.nonzero(fill)[0], free[fill]] = kept[fill]
    return child


def np_cuts(rng, n, L):
    c1 = rng.integers(0, L, n)
    c2 = (c1 + rng.integers(1, L, n)) % L
    return np.minimum(c1, c2), np.maximum(c1, c2)


def np_sarnet(Chrom, pc, Half_N, rng):
    """The three mating modes over all pairs (or children) at once."""
    N, L = Chrom.shape
    if Half_N is True or Half_N is False:
        h = N // 2
        A, B = Chrom[:h], Chrom[h:2 * h]
        cross = rng.random(h) < pc
        lo, hi = np_cuts(rng, h, L)
        if Half_N:
            return np.where(cross[:, None], np_ox(A, B, lo, hi), A)
        kids = np_ox(np.concatenate([A, B]), np.concatenate([B, A]), np.tile(lo, 2), np.tile(hi, 2))
        out = Chrom.copy()
        both = np.tile(cross, 2)[:, None]
        out[:2 * h] = np.where(both, kids, out[:2 * h])
        return out
    num = min(N, Half_N)
    P = rng.integers(0, N, num)
    Q = (P + rng.integers(1, N, num)) % N
    return np_ox(Chrom[P], Chrom[Q], *np_cuts(rng, num, L))


def deap_sarnet(lists, Half_N, cx, rnd):
    """DEAP's cxOrdered pair by pair; the global mode crosses copies of random pairs."""
    N = len(lists)
    if Half_N is True or Half_N is False:
        h = N // 2
        for i in range(h):
            cx(lists[i], lists[i + h])
        return None
    out = []
    for _ in range((min(N, Half_N) + 1) // 2):
        p, q = rnd.sample(range(N), 2)
        out.extend(cx(lists[p][:], lists[q][:]))
    return None


def valid_children(values):
    """A check: every row of the evocore result holds exactly `values`."""
    want = np.sort(np.asarray(values))

    def check(a, b):
        if b is not None and np.shape(a) != np.shape(b):
            return False, f"shape {np.shape(a)} vs {np.shape(b)}"
        ok = bool(np.array_equal(np.sort(a, axis=1), np.broadcast_to(want, a.shape)))
        return ok, "valid permutations" if ok else "a child is not a permutation of its parents"
    return check


def sarnet_case(N, L, Half_N, wide=False, parallel=False):
    def setup(mode, ops, ctx):
        import random
        try:
            from deap.tools import cxOrdered
        except ImportError:
            cxOrdered = None
        f = ops["sarnet"]
        ranks = np.array([np.random.default_rng(i).permutation(L) for i in range(N)], dtype=np.int32)
        Chrom = ranks * 10**6 if wide else ranks
        rng = np.random.default_rng(2)
        variants = {}
        if cxOrdered is not None:
            lists = ranks.tolist()
            variants["DEAP"] = call(deap_sarnet, lists, Half_N, cxOrdered, random.Random(3))
        if wide:
            variants["narrow"] = call(f, ranks, 1.0, Half_N)
        if parallel:
            variants["Parallel"] = call(f, Chrom, 1.0, Half_N, True)

        def report(times, ctx):
            out = {}
            if "DEAP" in times:
                out["vs DEAP"] = round(times["DEAP"] / times["evocore"], 1)
            if "narrow" in times:
                out["wide/narrow"] = round(times["evocore"] / times["narrow"], 2)
            if "Parallel" in times:
                out["serial/Parallel"] = round(times["evocore"] / times["Parallel"], 2)
            return out
        return Bench(call(f, Chrom, 1.0, Half_N), call(np_sarnet, Chrom, 1.0, Half_N, rng),
                     check=valid_children(Chrom[0]), variants=variants, report=report)
    return setup


case("sarnet 100x50", needs=("sarnet",))(sarnet_case(100, 50, False))
case("sarnet 1000x200", needs=("sarnet",))(sarnet_case(1000, 200, False, parallel=True))
case("sarnet 1000x200 Half_N=True", needs=("sarnet",))(sarnet_case(1000, 200, True, parallel=True))
case("sarnet 1000x200 Half_N=1000", needs=("sarnet",))(sarnet_case(1000, 200, 1000, parallel=True))
case("sarnet 1000x200 genes x10^6", needs=("sarnet",))(sarnet_case(1000, 200, False, wide=True, parallel=True))
