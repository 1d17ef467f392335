"""tamsen: a mixed population (even columns continuous, odd ones integer) against NumPy's
Generator, column by column or in one call per kind (whichever is faster here is the baseline),
and against the legacy np.random functions.  The draws differ, so only the bounds are checked."""

import numpy as np

from ._core import Bench, call, case, run_loop
from ._shared import over_serial


def tamsen_fields(L):
    lb = np.linspace(-5.0, 1.0, L)
    ub = lb + np.linspace(1.0, 20.0, L)
    discrete = np.arange(L) % 2 == 1
    lb[discrete], ub[discrete] = np.floor(lb[discrete]), np.floor(ub[discrete])
    return np.array([lb, ub, discrete.astype(float)]), lb, ub, discrete


def generator_columns(rng, n, lb, ub, discrete):
    out = np.empty((n, lb.size))
    for j in range(lb.size):
        if discrete[j]:
            out[:, j] = rng.integers(lb[j], ub[j], size=n, endpoint=True)
        else:
            out[:, j] = rng.uniform(lb[j], ub[j], size=n)
    return out


def generator_matrix(rng, n, lb, ub, discrete):
    out = np.empty((n, lb.size))
    c = ~discrete
    out[:, c] = rng.uniform(lb[c], ub[c], size=(n, int(c.sum())))
    out[:, discrete] = rng.integers(lb[discrete], ub[discrete], size=(n, int(discrete.sum())), endpoint=True)
    return out


def legacy_matrix(n, lb, ub, discrete):
    out = np.empty((n, lb.size))
    c = ~discrete
    out[:, c] = np.random.uniform(lb[c], ub[c], size=(n, int(c.sum())))
    out[:, discrete] = np.random.randint(lb[discrete], ub[discrete] + 1, size=(n, int(discrete.sum())))
    return out


def tamsen_case(n, L, parallel):
    def setup(mode, ops, ctx):
        rows = n if mode.quick is False else max(1, n // 10)
        f = ops["tamsen"]
        F, lb, ub, discrete = tamsen_fields(L)
        rng = np.random.default_rng(5)
        for got in (f(rows, F, parallel), generator_columns(rng, rows, lb, ub, discrete)):
            assert got.shape == (rows, L) and (got >= lb).all() and (got <= ub).all()
            assert (got[:, discrete] == np.round(got[:, discrete])).all()
        forms = {"Generator per column": call(generator_columns, rng, rows, lb, ub, discrete),
                 "Generator per kind": call(generator_matrix, rng, rows, lb, ub, discrete)}
        # the faster of the two Generator forms is the baseline
        speed = {k: min(run_loop(g, 3) for _ in range(3)) for k, g in forms.items()}
        fastest = min(speed, key=speed.get)
        variants = {k: g for k, g in forms.items() if k != fastest}
        variants["np.random"] = call(legacy_matrix, rows, lb, ub, discrete)
        if parallel:
            variants["serial"] = call(f, rows, F)

        def report(times, ctx):
            out = {"baseline": fastest}
            out.update({f"x vs {k}": round(times[k] / times["evocore"], 2) for k in variants if k != "serial"})
            if parallel:
                out.update(over_serial(times, ctx))
                out["parallel vs serial"] = round(times["serial"] / times["evocore"], 2)
            return out
        return Bench(call(f, rows, F, parallel), forms[fastest], check=None, variants=variants, report=report)
    return setup


for _n, _L in ((100, 30), (10**6, 10), (10**4, 1000)):
    for _parallel in (False, True):
        _label = "tamsen %sx%d mixed%s" % ("10^%d" % round(np.log10(_n)) if _n > 100 else _n, _L,
                                          " Parallel" if _parallel else "")
        case(_label, needs=("tamsen",))(tamsen_case(_n, _L, _parallel))
