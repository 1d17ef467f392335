"""polvane, the distances between the rows of two matrices, against SciPy's cdist and pdist
(the bench extra), and NSGA-III's associate, the distances of points to reference lines, against
NumPy.  These rows call NumPy's matrix product, so they run after the others."""

import numpy as np

from ._core import Bench, call, case, peer
from ._shared import merged, over_serial
from .dominance import dominance_data


def np_associate(F, W):
    """NSGA-III's association as a user writes it in NumPy."""
    U = W / np.linalg.norm(W, axis=1, keepdims=True)
    P = F @ U.T
    d2 = np.sum((F[:, None, :] - P[:, :, None] * U[None, :, :]) ** 2, axis=2)
    index = np.argmin(d2, axis=1)
    return index.astype(np.int32), np.sqrt(d2[np.arange(len(F)), index])


def associations_agree(a, b):
    """The same reference wherever the NumPy sums (taken in another order) leave no near tie."""
    same = a[0] == b[0]
    ok = bool(np.allclose(a[1], b[1], rtol=1e-9, atol=1e-12)) and same.mean() > 0.999
    return ok, f"{same.mean():.4f} of the indices equal, distances allclose" if ok else "associations differ"


def associate_case(n):
    def setup(mode, ops, ctx):
        import itertools
        m, h = 3, 12
        W = np.array([c for c in itertools.product(range(h + 1), repeat=m) if sum(c) == h]) / h   # 91 points
        F = dominance_data(n, m)
        return Bench(call(ops["associate"], F, W), call(np_associate, F, W), check=associations_agree,
                     targets={"ratio": 5.0})
    return setup


# polvane: SciPy's cdist sums every entry in the same order, so it must agree exactly; the
# matrix-product forms (|a|^2 + |b|^2 - 2 a.b, and the product of unit rows) are the fast inexact
# NumPy code and are timed alongside as variants.
def np_euclidean_product(A, B):
    d = np.einsum("ij,ij->i", A, A)[:, None] + np.einsum("ij,ij->i", B, B)[None, :] - 2.0 * (A @ B.T)
    return np.sqrt(np.maximum(d, 0.0, out=d), out=d)


def np_cosine_product(A, B):
    return 1.0 - (A / np.linalg.norm(A, axis=1, keepdims=True)) @ (B / np.linalg.norm(B, axis=1, keepdims=True)).T


def over(key, label):
    """baseline-style ratio of variant `key` over evocore (above 1: evocore is faster)."""
    def report(times, ctx):
        return {label: round(times[key] / times["evocore"], 2)}
    return report


def polvane_case(ra, rb, dim, metric, parallel=False, self_vs_general=False, targets=None):
    def setup(mode, ops, ctx):
        f = ops["polvane"]
        rng = np.random.default_rng(3)
        A, B = rng.random((ra, dim)), rng.random((rb, dim))
        if self_vs_general:
            # the same object twice against an equal copy: each pair once against every pair
            variants, reports = {}, []
            if parallel:
                variants["serial"] = call(f, A, A, metric)
                reports.append(over_serial)
            return Bench(call(f, A, A, metric, parallel), call(f, A, A.copy(), metric, parallel), variants=variants,
                         report=merged(*reports))
        cdist = peer("scipy.spatial.distance", "SciPy").cdist
        variants, reports = {}, []
        if metric == "euclidean" and not parallel and dim == 16:
            variants["matmul form"] = call(np_euclidean_product, A, B)
            reports.append(over("matmul form", "vs matmul form"))
        if metric == "cosine":
            variants["matmul form"] = call(np_cosine_product, A, B)
            reports.append(over("matmul form", "vs matmul form"))
        if parallel:
            variants["serial"] = call(f, A, B, metric)
            reports.append(over_serial)
        check = ("close", 1e-12, 1e-12) if metric == "cosine" else "equal"
        return Bench(call(f, A, B, metric, parallel), call(cdist, A, B, metric), check=check, variants=variants,
                     report=merged(*reports), targets=targets)
    return setup


def square_distances(A, metric):
    from scipy.spatial.distance import pdist, squareform
    return squareform(pdist(A, metric))


def polvane_same_case(n, dim, metric, targets):
    """The same object twice against SciPy's pairs once (pdist), made square by squareform."""
    def setup(mode, ops, ctx):
        peer("scipy.spatial.distance", "SciPy")
        A = np.random.default_rng(3).random((n, dim))
        return Bench(call(ops["polvane"], A, A, metric), call(square_distances, A, metric), targets=targets)
    return setup


# The least ratio to cdist of a serial row, by size.
POLVANE_TARGETS = {(2000, 2000, 16): 2.0, (10**5, 100, 3): 1.5, (100, 100, 3): 2.0}

# The rows that call NumPy's matrix product come last: its BLAS threads keep spinning for a
# while after each product and would take the second core from the Parallel rows.
for _ra, _rb, _dim, _metric, _parallel in (
        (2000, 2000, 16, "euclidean", True), (2000, 2000, 16, "cityblock", False),
        (2000, 2000, 16, "cityblock", True),
        (10**5, 100, 3, "euclidean", False), (10**5, 100, 3, "euclidean", True),
        (10**5, 100, 3, "cityblock", False), (10**5, 100, 3, "cityblock", True),
        (100, 100, 3, "euclidean", False), (100, 100, 3, "cityblock", False)):
    _least = None if _parallel else {"ratio": POLVANE_TARGETS[_ra, _rb, _dim]}
    case(f"polvane {_ra}x{_rb}x{_dim} {_metric}{' Parallel' if _parallel else ''} vs cdist",
         needs=("polvane",))(polvane_case(_ra, _rb, _dim, _metric, _parallel, targets=_least))
for _metric in ("euclidean", "cityblock"):
    case(f"polvane 2000x16 {_metric} same object vs pdist+squareform",
         needs=("polvane",))(polvane_same_case(2000, 16, _metric, {"ratio": 1.3}))
for _metric, _parallel in (("euclidean", False), ("cityblock", False), ("euclidean", True), ("cityblock", True)):
    case(f"polvane 2000x2000x16 {_metric}{' Parallel' if _parallel else ''} same object vs copy",
         needs=("polvane",))(polvane_case(2000, 2000, 16, _metric, _parallel, self_vs_general=True))
case("polvane 2000x2000x16 euclidean vs cdist", needs=("polvane",))(
    polvane_case(2000, 2000, 16, "euclidean", targets={"ratio": 2.0, "vs matmul form": 1.0}))
case("polvane 2000x2000x16 cosine vs cdist", needs=("polvane",))(polvane_case(2000, 2000, 16, "cosine"))
# associate's NumPy form calls the matrix product too.
case("associate 200x3, 91 reference points vs NumPy", needs=("associate",))(associate_case(200))
case("associate 10^4x3, 91 reference points vs NumPy", needs=("associate",))(associate_case(10**4))
