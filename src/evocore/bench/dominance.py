"""The dominance operators of NSGA-II, ndsort and crowding, against their peers in the bench
extra (moocore, pymoo).  NSGA-III's associate calls NumPy's matrix product: it runs with the
distances."""

import numpy as np

from ._core import Bench, call, case, peer


def dominance_data(n, m, kind="uniform", seed=9):
    rng = np.random.default_rng(seed)
    if kind == "sphere":                              # every point on the first front
        X = np.abs(rng.normal(size=(n, m)))
        return X / np.linalg.norm(X, axis=1, keepdims=True)
    return rng.random((n, m))


def levels_are_ranks(a, b):
    """ndsort's levels against moocore's 0-based ranks: levels == ranks + 1 on every row."""
    ok = bool(np.array_equal(a[0], b + 1.0)) and a[1] == int(b.max()) + 1
    return ok, "levels == ranks + 1" if ok else "levels differ from ranks + 1"


def ndsort_case(n, m, kind="uniform", targets=None):
    def setup(mode, ops, ctx):
        moocore = peer("moocore", "moocore")
        f = ops["ndsort"]
        X = dominance_data(n, m, kind)

        def report(times, ctx):
            return {"fronts": int(f(X)[1]), "Parallel vs moocore": f"{times['baseline'] / times['Parallel']:.2f}x",
                    "parallel/serial": round(times["Parallel"] / times["evocore"], 3)}
        return Bench(call(f, X), call(moocore.pareto_rank, X), check=levels_are_ranks,
                     variants={"Parallel": call(f, X, None, None, None, True)}, report=report, targets=targets)
    return setup


for _n, _m, _kind, _least in ((200, 3, "uniform", 2.0), (10**4, 2, "uniform", 1.0), (10**4, 3, "uniform", 1.0),
                              (10**4, 5, "uniform", 2.0), (10**4, 10, "uniform", 2.0), (10**5, 2, "uniform", 1.0),
                              (10**4, 5, "sphere", None)):
    _size = f"10^{round(np.log10(_n))}" if _n >= 10**4 else str(_n)
    _label = " one front (sphere)" if _kind == "sphere" else ""
    case(f"ndsort {_size}x{_m}{_label} vs moocore.pareto_rank", needs=("ndsort",))(
        ndsort_case(_n, _m, _kind, targets=_least and {"ratio": _least}))


def crowding_agrees(a, b, m):
    """pymoo divides the sum by the number of objectives and sums in another order."""
    def check(a, b):
        same_inf = np.array_equal(np.isinf(a), np.isinf(b))
        finite = np.isfinite(a)
        ok = same_inf and bool(np.allclose(a[finite], m * b[finite], rtol=1e-12, atol=0))
        return ok, "equal to pymoo's times M (allclose)" if ok else "differs from pymoo's times M"
    return check(a, b)


def crowding_case(n, m, least):
    def setup(mode, ops, ctx):
        calc_crowding_distance = peer("pymoo.operators.survival.rank_and_crowding.metrics",
                                      "pymoo").calc_crowding_distance
        F = dominance_data(n, m, "sphere")            # one front
        levels = np.ones(n)
        return Bench(call(ops["crowding"], F, levels), call(calc_crowding_distance, F),
                     check=lambda a, b: crowding_agrees(a, b, m), targets={"ratio": least})
    return setup


case("crowding 100x3 one front vs pymoo calc_crowding_distance", needs=("crowding",))(crowding_case(100, 3, 10.0))
case("crowding 10^4x3 one front vs pymoo calc_crowding_distance", needs=("crowding",))(crowding_case(10**4, 3, 5.0))
