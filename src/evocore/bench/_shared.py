"""The population most families draw from, the penalty that their NumPy baselines share, and
the reports of throughput and of parallel rows."""

import numpy as np


M = 3      # objectives
C = 2      # constraints
SIGNS = np.array([1, -1, 1], dtype=np.int32)


def population(n, seed=1):
    rng = np.random.default_rng(seed)
    ObjV = rng.random((n, M))
    weights = rng.random((n, M)) + 0.01
    CV = rng.random((n, C)) - 0.8                 # about a third of the rows infeasible
    return ObjV, weights, CV


def np_penalised(ObjV, CV=None, maxormins=None):
    """ObjV times maxormins, infeasible rows replaced by the column maxima plus their violation."""
    F = ObjV * maxormins if maxormins is not None else ObjV.copy()
    if CV is not None:
        s = np.sum(np.where(CV > 0, CV, 0.0), axis=1)
        bad = s > 0
        if bad.any():
            F[bad] = F.max(axis=0) + s[bad, None]
    return F


def with_copy(ctx, variants=None):
    """variants plus the copy probe, so that a throughput row is compared with a copy timed
    alongside it rather than minutes earlier."""
    variants = dict(variants or {})
    if "copy" in ctx:
        variants["copy"] = ctx["copy"]
    return variants


def bandwidth(nbytes, key="evocore", probe="copy"):
    """Report of a throughput row: nbytes moved per call, in GB/s and as a share of the probe's
    GB/s ("copy" or "read", both single-threaded, so a parallel row can exceed 1)."""
    def report(times, ctx):
        gbps = nbytes / times[key] / 1e9
        out = {"GB/s": round(gbps, 2)}
        if probe in times:
            out[f"of {probe}"] = round(gbps / (ctx[f"{probe} bytes"] / times[probe] / 1e9), 2)
        return out
    return report


def merged(*reports):
    def report(times, ctx):
        out = {}
        for r in reports:
            out.update(r(times, ctx))
        return out
    return report


def over_serial(times, ctx):
    """Parallel time over serial time of the same call (below 1: the team pays off)."""
    return {"parallel/serial": round(times["evocore"] / times["serial"], 3)}
