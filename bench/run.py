#!/usr/bin/env python3
"""Speed of the evocore operators against the NumPy code a user would write instead.

    python bench/run.py            full run (about a minute)
    python bench/run.py --quick    smoke run with small sizes (a few seconds)
    python bench/run.py --json P   also write the rows to P (default bench/results.json)
    python bench/run.py fendrik    only the cases whose name contains a given word
    python bench/run.py forms      every form of the kernels that pick one by processor

Everything runs in one process.  For each case the evocore call and its NumPy baseline (plus
any further variants of the case) are timed in interleaved repeats, each measurement being
enough back-to-back calls to last TARGET seconds, and the best of the repeats is kept.  The
machine is shared and noisy, so the number to read is the ratio baseline / evocore (above 1:
evocore is faster), not the absolute times.

Before anything is timed, the evocore result is compared with the baseline result
(np.array_equal, or np.allclose where the NumPy formula sums in another order); a case that
disagrees is reported as a mismatch, is not timed, and makes the run exit with status 1.

The run starts by naming the processor, whether it has AVX2 and AVX-512F, and the form that each
kernel picking one by processor runs on it (also recorded in the JSON, whose rows are under
"rows").  A row with a target says whether its figure reaches it.

Operators missing from the installed build are skipped.  To add a case, write a setup function
returning a Bench and decorate it with @case(name, needs=(operator, ...)).
"""

import argparse
import functools
import gc
import json
import os
import platform
import statistics
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------------------------------------
# Sizes and timing budget of the two modes.

class Mode:
    def __init__(self, quick):
        self.quick = quick
        self.name = "quick" if quick else "full"
        self.tiny = 2                                # rows of the per-call-cost case
        self.small = 100                             # rows of the evolutionary-loop case
        self.large = 10**5 if quick else 10**6       # rows of the throughput case
        self.square = 1000 if quick else 3000        # rows of the two-thread distance case
        self.chunked = 4000 if quick else 20000      # rows of the Dask scheduler case
        self.copy_bytes = (16 if quick else 128) << 20   # size of one copy-probe array
        self.target = 0.003 if quick else 0.08       # seconds per measurement
        self.repeats = 3 if quick else 7             # interleaved measurements per callable


# ---------------------------------------------------------------------------------------------
# The registry.

class Bench:
    """One prepared case.

    evocore, baseline : zero-argument callables (functools.partial keeps the call overhead low);
                        evocore may be None for a row that only measures the machine.
    check             : "equal", ("close", rtol, atol) for np.allclose, or a function
                        check(evocore_result, baseline_result) -> (ok, note) for operators whose
                        results are random and can only be checked for validity.
    variants          : further named callables timed interleaved with the two above.
    report            : report(times, ctx) -> dict of extra fields, where times maps "evocore",
                        "baseline" and each variant name to its best time per call.
    targets           : {figure: target}, figure being "ratio" or a field of the report, target a
                        least value, or at_most(value) or exactly(value).
    """

    def __init__(self, evocore, baseline, check="equal", variants=None, report=None, teardown=None, targets=None):
        self.evocore = evocore
        self.baseline = baseline
        self.check = check
        self.variants = variants or {}
        self.report = report
        self.teardown = teardown          # called after the case is measured
        self.targets = targets or {}


class at_most(float):
    """A target that a figure must not exceed."""
    sign = "<="


class exactly(float):
    """A target that a figure must equal."""
    sign = "=="


def target_met(figure, target):
    if isinstance(target, at_most):
        return figure <= target
    if isinstance(target, exactly):
        return figure == target
    return figure >= target


class Case:
    def __init__(self, name, needs, setup):
        self.name = name
        self.needs = needs
        self.setup = setup

    def label(self, mode):
        return self.name.format(tiny=mode.tiny, small=mode.small, large=mode.large, large2=2 * mode.large,
                                square=mode.square, chunked=mode.chunked)


CASES = []


def case(name, needs=()):
    """Register setup(mode, ops, ctx) -> Bench under `name` (may contain {tiny}, {small}, {large},
    {large2} = twice large, {square}, {chunked}); a setup that cannot run here raises Skip."""
    def register(setup):
        CASES.append(Case(name, tuple(needs), setup))
        return setup
    return register


def operator(name):
    """The evocore function `name` (a private one, starting with _, from its module under
    evocore.core), or None when the installed build does not have it."""
    try:
        if name.startswith("_"):
            import importlib
            return getattr(importlib.import_module(f"evocore.core.{name}"), name)
        import evocore
        return getattr(evocore, name)
    except (ImportError, AttributeError):
        return None


call = functools.partial


# ---------------------------------------------------------------------------------------------
# Data and the NumPy baselines.

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


def np_chebyshev(ObjV, w, z):
    return np.max(np.abs(ObjV - z) * w, axis=1, keepdims=True)


def np_chebyshev_cv(ObjV, w, z, CV, maxormins):
    return np_chebyshev(np_penalised(ObjV, CV, maxormins), w, z)


def np_pbi(ObjV, w, z, theta):
    d = ObjV - z
    norm_w = np.linalg.norm(w, axis=1)
    norm_d = np.sqrt(np.sum(d * d, axis=1))
    d1 = np.sum(w * d, axis=1) / norm_w
    d2 = norm_d * np.sqrt(np.abs(1 - (d1 / norm_d) ** 2))
    return (d1 + theta * d2)[:, None]


def np_ideal_cv(ObjV, CV, maxormins):
    return np.min(np_penalised(ObjV, CV, maxormins), axis=0)


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


# ---------------------------------------------------------------------------------------------
# Cases, in the order they run.

@case("memory copy np.copyto")
def copy_probe(mode, ops, ctx):
    n = mode.copy_bytes // 8
    src = np.random.default_rng(0).random(n)
    dst = np.empty_like(src)
    dst[...] = 0.0                                   # fault the pages in before timing

    ctx["copy"] = call(np.copyto, dst, src)
    ctx["copy bytes"] = 2 * src.nbytes            # read and written

    def report(times, ctx):
        return {"MB": src.nbytes >> 20, "GB/s": round(ctx["copy bytes"] / times["baseline"] / 1e9, 2)}
    return Bench(None, ctx["copy"], check=None, report=report)


@case("druvik {tiny}x3", needs=("druvik",))
def druvik_tiny(mode, ops, ctx):
    """The fixed cost of a call: against np.empty of its result alone, and with idealPoint given
    as a keyword against the positional call.  The three are written as a user calls them (a
    functools.partial would add a dictionary of its own to the keyword call)."""
    ObjV, w, _ = population(mode.tiny)
    z = ObjV.min(axis=0)
    f = ops["druvik"]
    shape = (mode.tiny, 1)
    variants = {"np.empty": lambda: np.empty(shape), "keyword": lambda: f(ObjV, w, idealPoint=z)}

    def report(times, ctx):
        return {"evocore us/call": round(times["evocore"] * 1e6, 3),
                "/np.empty": round(times["evocore"] / times["np.empty"], 2),
                "keyword/positional": round(times["keyword"] / times["evocore"], 2)}
    return Bench(lambda: f(ObjV, w, z), call(np_chebyshev, ObjV, w, z), variants=variants, report=report,
                 targets={"/np.empty": at_most(2.5), "keyword/positional": at_most(1.15)})


def druvik_small(parallel, with_cv):
    def setup(mode, ops, ctx):
        ObjV, w, CV = population(mode.small)
        if with_cv:
            z = np_penalised(ObjV, CV, SIGNS).min(axis=0)
            return Bench(call(ops["druvik"], ObjV, w, z, CV, SIGNS, parallel),
                         call(np_chebyshev_cv, ObjV, w, z, CV, SIGNS))
        z = ObjV.min(axis=0)
        return Bench(call(ops["druvik"], ObjV, w, z, Parallel=parallel), call(np_chebyshev, ObjV, w, z),
                     targets={} if parallel else {"ratio": 6.0})
    return setup


case("druvik {small}x3", needs=("druvik",))(druvik_small(False, False))
case("druvik {small}x3 Parallel", needs=("druvik",))(druvik_small(True, False))
case("druvik {small}x3 CV+maxormins", needs=("druvik",))(druvik_small(False, True))
case("druvik {small}x3 CV+maxormins Parallel", needs=("druvik",))(druvik_small(True, True))


def druvik_large(parallel):
    def setup(mode, ops, ctx):
        ObjV, w, _ = population(mode.large)
        z = ObjV.min(axis=0)
        f = ops["druvik"]
        moved = ObjV.nbytes + w.nbytes + mode.large * 8
        if not parallel:
            return Bench(call(f, ObjV, w, z), call(np_chebyshev, ObjV, w, z), variants=with_copy(ctx),
                         report=bandwidth(moved))
        return Bench(call(f, ObjV, w, z, Parallel=True), call(np_chebyshev, ObjV, w, z),
                     variants=with_copy(ctx, {"serial": call(f, ObjV, w, z)}),
                     report=merged(bandwidth(moved), over_serial))
    return setup


case("druvik {large}x3", needs=("druvik",))(druvik_large(False))
case("druvik {large}x3 Parallel", needs=("druvik",))(druvik_large(True))


# quelan: the NumPy formula takes its sums in another order, so results agree to rounding only.
PBI_CLOSE = ("close", 1e-10, 1e-12)


def quelan_case(rows, parallel):
    def setup(mode, ops, ctx):
        n = getattr(mode, rows)
        ObjV, w, _ = population(n)
        z = ObjV.min(axis=0)
        theta = float(np.float32(5))
        f = ops["quelan"]
        variants, reports = {}, []
        if rows == "large":
            variants = with_copy(ctx)
            reports.append(bandwidth(ObjV.nbytes + w.nbytes + n * 8))
            if parallel:
                variants["serial"] = call(f, ObjV, w, z)
                reports.append(over_serial)
        return Bench(call(f, ObjV, w, z, Parallel=parallel), call(np_pbi, ObjV, w, z, theta),
                     check=PBI_CLOSE, variants=variants, report=merged(*reports))
    return setup


case("quelan {small}x3", needs=("quelan",))(quelan_case("small", False))
case("quelan {small}x3 Parallel", needs=("quelan",))(quelan_case("small", True))
case("quelan {large}x3", needs=("quelan",))(quelan_case("large", False))
case("quelan {large}x3 Parallel", needs=("quelan",))(quelan_case("large", True))


def np_min_columns(ObjV):
    """The column minima one column at a time, the fastest NumPy form on a tall C-order matrix."""
    return np.array([ObjV[:, j].min() for j in range(ObjV.shape[1])])


def versus(name):
    """Report of a row with a second peer: baseline-style ratio against variant `name`."""
    def report(times, ctx):
        return {f"vs {name}": f"{times[name] / times['evocore']:.2f}x"}
    return report


def ornavi_case(rows, kind):
    def setup(mode, ops, ctx):
        ObjV, _, CV = population(getattr(mode, rows))
        f = ops["ornavi"]
        # An earlier point better in some objectives and worse in others.
        old = ObjV.min(axis=0) + np.array([-0.1, 0.1, -0.1])
        large = rows == "large"
        if kind == "plain":
            if large:
                return Bench(call(f, ObjV), call(np.min, ObjV, 0),
                             variants={"columns": call(np_min_columns, ObjV)},
                             report=merged(versus("columns"), bandwidth(ObjV.nbytes)))
            return Bench(call(f, ObjV), call(np.min, ObjV, 0), targets={"ratio": 8.0})
        if kind == "maxormins":
            return Bench(call(f, ObjV, None, SIGNS), lambda: np.min(ObjV * SIGNS, 0))
        if kind == "CV":
            return Bench(call(f, ObjV, CV), call(np_ideal_cv, ObjV, CV, None))
        if kind == "CV+maxormins":
            return Bench(call(f, ObjV, CV, SIGNS), call(np_ideal_cv, ObjV, CV, SIGNS),
                         report=bandwidth(ObjV.nbytes + CV.nbytes))
        if kind == "old":
            baseline = lambda: np.minimum(old, np.min(ObjV, 0))
            if large:
                return Bench(call(f, ObjV, None, None, old), baseline,
                             variants={"columns": lambda: np.minimum(old, np_min_columns(ObjV))},
                             report=merged(versus("columns"), bandwidth(ObjV.nbytes)))
            return Bench(call(f, ObjV, None, None, old), baseline)
        if kind == "reverse":
            return Bench(call(f, ObjV, reverse=True), call(np.max, ObjV, 0))
        raise ValueError(kind)
    return setup


for _rows in ("small", "large"):
    for _kind, _label in (("plain", ""), ("maxormins", " maxormins"), ("CV", " CV"),
                          ("CV+maxormins", " CV+maxormins"), ("old", " old_idealPoint"),
                          ("reverse", " reverse")):
        case("ornavi {%s}x3%s" % (_rows, _label), needs=("ornavi",))(ornavi_case(_rows, _kind))


def np_pbi_cv(ObjV, w, z, theta, CV, maxormins):
    return np_pbi(np_penalised(ObjV, CV, maxormins), w, z, theta)


def aggregation_folded(op, kind, parallel):
    """druvik/quelan on 10^6 rows with CV, CV+maxormins or idealPoint=None, against the NumPy fold."""
    def setup(mode, ops, ctx):
        n = mode.large
        ObjV, w, CV = population(n)
        f = ops[op]
        signs = SIGNS if kind == "CV+maxormins" else None
        cv = None if kind == "ideal" else CV
        z = np_penalised(ObjV, cv, signs).min(axis=0)
        theta = float(np.float32(5))
        if kind == "ideal":
            args = (ObjV, w)
            peer = lambda: np.min(np_penalised(ObjV), 0)
            moved, check = ObjV.nbytes + M * 8, "equal"
        else:
            args = (ObjV, w, z, cv, signs)
            peer = (call(np_chebyshev_cv, ObjV, w, z, cv, signs) if op == "druvik"
                    else call(np_pbi_cv, ObjV, w, z, theta, cv, signs))
            moved = ObjV.nbytes + w.nbytes + CV.nbytes + n * 8
            check = "equal" if op == "druvik" else PBI_CLOSE
        variants, reports = with_copy(ctx), [bandwidth(moved)]
        plain = call(f, ObjV, w, z)
        if kind == "CV":
            variants["plain call"] = plain
            reports.append(lambda times, ctx: {"CV/plain": round(times["evocore"] / times["plain call"], 2)})
        if parallel:
            variants["serial"] = call(f, *args)
            reports.append(over_serial)
        return Bench(call(f, *args, Parallel=parallel), peer, check=check, variants=variants,
                     report=merged(*reports))
    return setup



# velkor: binary/Gray encoding against the NumPy encoder a user would write (codes by the same
# formula, digits by shifting and masking, Gray by XOR).  The values lie inside their ranges, so
# every code is a valid non-negative code of its segment and the shift form gives the same digits.
def velkor_data(n, nvar=10, length=20, seed=7):
    rng = np.random.default_rng(seed)
    lb = rng.integers(-10, 0, nvar).astype(float)     # whole bounds: rounded values stay inside
    ub = lb + rng.integers(1, 20, nvar)
    FieldD = np.vstack([np.full(nvar, length), lb, ub, rng.integers(0, 2, nvar), np.zeros(nvar),
                        rng.integers(0, 2, nvar), rng.integers(0, 2, nvar), rng.integers(0, 2, nvar)]).astype(float)
    Phen = lb + rng.uniform(0.001, 0.999, (n, nvar)) * (ub - lb)
    Phen[:, FieldD[7] != 0] = np.round(Phen[:, FieldD[7] != 0])
    return Phen, FieldD


def np_velkor(Phen, FieldD):
    lens = FieldD[0].astype(np.int32)
    lb, ub, lbin, ubin = FieldD[1], FieldD[2], FieldD[5], FieldD[6]
    discrete = FieldD[7] != 0
    pow2 = 2.0 ** lens
    scale = np.where(discrete, pow2 - 1, pow2 + 1 - lbin - ubin)
    shift = np.where(discrete, 0.5, -(lbin == 0).astype(float))
    v = (scale * (Phen - lb) / np.abs(ub - lb) + shift).astype(np.int32)
    v = np.where(FieldD[3] != 0, v ^ (v >> 1), v)
    var = np.repeat(np.arange(len(lens)), lens)
    ends = np.cumsum(lens)
    shifts = (ends[var] - 1 - np.arange(ends[-1] if len(ends) else 0)).astype(np.int32)
    return (v[:, var] >> shifts) & 1


def velkor_case(n, parallel):
    def setup(mode, ops, ctx):
        Phen, FieldD = velkor_data(n)
        f = ops["velkor"]
        if n < 10**4:
            return Bench(call(f, Phen, FieldD, parallel), call(np_velkor, Phen, FieldD))
        written = n * int(FieldD[0].sum()) * 4
        variants, reports = with_copy(ctx), [bandwidth(written)]
        if parallel:
            variants["serial"] = call(f, Phen, FieldD)
            reports.append(over_serial)
        return Bench(call(f, Phen, FieldD, parallel), call(np_velkor, Phen, FieldD), variants=variants,
                     report=merged(*reports))
    return setup


for _op in ("druvik", "quelan"):
    for _kind, _label in (("CV", " CV"), ("CV+maxormins", " CV+maxormins"), ("ideal", " idealPoint=None")):
        case(f"{_op} {{large}}x3{_label}", needs=(_op,))(aggregation_folded(_op, _kind, False))
    case(f"{_op} {{large}}x3 CV+maxormins Parallel", needs=(_op,))(aggregation_folded(_op, "CV+maxormins", True))


def busy_cores(mode, ops, ctx):
    """druvik with Parallel=True while every core runs a CPU-bound process started here: the
    baseline is the serial call under the same load (ratio above 1: the team still pays off; the
    target is that it is never much below 1)."""
    import subprocess
    hogs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 1)]
    time.sleep(0.3)
    ObjV, w, _ = population(10**5)
    z = ObjV.min(axis=0)
    f = ops["druvik"]

    def stop():
        for h in hogs:
            h.kill()
            h.wait()
    return Bench(call(f, ObjV, w, z, Parallel=True), call(f, ObjV, w, z), teardown=stop)


case("druvik 100000x3 Parallel vs serial, all cores busy", needs=("druvik",))(busy_cores)

# ---- fendrik and ulvaro ----------------------------------------------------------------------

@case("memory read np.max")
def read_probe(mode, ops, ctx):
    src = np.random.default_rng(0).random(mode.copy_bytes // 8)
    ctx["read"] = call(np.max, src)
    ctx["read bytes"] = src.nbytes

    def report(times, ctx):
        return {"MB": src.nbytes >> 20, "GB/s": round(src.nbytes / times["baseline"] / 1e9, 2)}
    return Bench(None, ctx["read"], check=None, report=report)


def np_merge_fold(CV, Threshold=None, return_count=False):
    """The merged column as a fold over the columns, and the count."""
    limits = Threshold if isinstance(Threshold, np.ndarray) else np.zeros(CV.shape[1])
    v = np.where(CV[:, :1] > limits[0], CV[:, :1], 0.0)
    for j in range(1, CV.shape[1]):
        c = CV[:, j:j + 1]
        v = v + np.where(c > limits[j], c, 0.0)
    if not return_count:
        return v
    bound = 0.0 if Threshold is None or isinstance(Threshold, np.ndarray) else Threshold
    return v, int(np.count_nonzero(v <= bound))


def np_merge_sum(CV, Threshold=None, return_count=False):
    """The merged column in one whole-matrix expression, and the count."""
    limits = Threshold if isinstance(Threshold, np.ndarray) else 0.0
    v = np.where(CV > limits, CV, 0.0).sum(1, keepdims=True)
    if not return_count:
        return v
    bound = 0.0 if Threshold is None or isinstance(Threshold, np.ndarray) else Threshold
    return v, int(np.count_nonzero(v <= bound))


def vs_sum(times, ctx):
    """The one-expression NumPy form against evocore (the fold is the baseline)."""
    return {"vs where-sum": round(times["where-sum"] / times["evocore"], 2)}


def fendrik_case(rows, columns, thresholds, count, parallel):
    def setup(mode, ops, ctx):
        n = getattr(mode, rows)
        CV = np.random.default_rng(3).random((n, columns)) - 0.6
        Threshold = np.linspace(-0.1, 0.2, columns) if thresholds else None
        f = ops["fendrik"]
        variants = {"where-sum": call(np_merge_sum, CV, Threshold, count)}
        reports = [vs_sum]
        if rows == "large":
            if "read" in ctx:
                variants["read"] = ctx["read"]
            reports.append(bandwidth(CV.nbytes, probe="read"))  # CV read
            if parallel:
                variants["serial"] = call(f, CV, Threshold, count)
                reports.append(over_serial)
        return Bench(call(f, CV, Threshold, count, parallel), call(np_merge_fold, CV, Threshold, count),
                     variants=variants, report=merged(*reports))
    return setup


case("fendrik {small}x2 return_count", needs=("fendrik",))(fendrik_case("small", 2, False, True, False))
case("fendrik {large}x3 return_count", needs=("fendrik",))(fendrik_case("large", 3, False, True, False))
case("fendrik {large}x3 return_count Parallel", needs=("fendrik",))(fendrik_case("large", 3, False, True, True))
case("fendrik {large}x3 column thresholds", needs=("fendrik",))(fendrik_case("large", 3, True, False, False))
case("fendrik {large}x3 column thresholds Parallel", needs=("fendrik",))(
    fendrik_case("large", 3, True, False, True))


def np_fitness(ObjV, CV=None, maxormins=None, k=1):
    """The power-law fitness written out in NumPy, step by step."""
    ObjV = ObjV.copy().astype(float)
    if maxormins is not None:
        ObjV = maxormins * ObjV
    if CV is not None:
        ObjV = np_penalised(ObjV, CV)
    if np.all(ObjV == ObjV[0]):
        return np.ones((ObjV.shape[0], 1))
    ObjV = ObjV - np.max(ObjV)
    ObjV = ObjV / -np.min(ObjV)
    return (-ObjV) ** float(k)


def ulvaro_case(rows, with_cv, k):
    def setup(mode, ops, ctx):
        n = getattr(mode, rows)
        ObjV, _, CV = population(n)
        ObjV = ObjV[:, :1].copy()
        extra = (CV, np.array([-1])) if with_cv else (None, None)
        return Bench(call(ops["ulvaro"], ObjV, *extra, k), call(np_fitness, ObjV, *extra, k))
    return setup


case("ulvaro {small}x1 k=2", needs=("ulvaro",))(ulvaro_case("small", False, 2))
case("ulvaro {small}x1 CV+maxormins", needs=("ulvaro",))(ulvaro_case("small", True, 1))
case("ulvaro {large}x1", needs=("ulvaro",))(ulvaro_case("large", False, 1))

# tamsen: a mixed population (even columns continuous, odd ones integer) against NumPy's
# Generator, column by column or in one call per kind (whichever is faster here is the baseline),
# and against the legacy np.random functions.  The draws differ, so only the bounds are checked.

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

case("velkor 100x10x20", needs=("velkor",))(velkor_case(100, False))
case("velkor 100x10x20 Parallel", needs=("velkor",))(velkor_case(100, True))
case("velkor 100000x10x20", needs=("velkor",))(velkor_case(10**5, False))
case("velkor 100000x10x20 Parallel", needs=("velkor",))(velkor_case(10**5, True))


# ---------------------------------------------------------------------------------------------
# sarnet: order crossover.  Results are random, so a row checks that every child is a
# permutation of the parents' genes and that evocore and the NumPy OX give the same shape.
# Peers: DEAP's cxOrdered pair by pair over lists (it needs the genes 0..L-1, so on the wide
# case it runs on the ranks of the genes, without the cost of mapping them), and a vectorised
# NumPy OX over all pairs at once.

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

# ---------------------------------------------------------------------------------------------
# The dominance operators of NSGA-II and NSGA-III against their peers in the bench extra.

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
        try:
            import moocore
        except ImportError:
            raise Skip("moocore is not installed (the bench extra)")
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
        try:
            from pymoo.operators.survival.rank_and_crowding.metrics import calc_crowding_distance
        except ImportError:
            raise Skip("pymoo is not installed (the bench extra)")
        F = dominance_data(n, m, "sphere")            # one front
        levels = np.ones(n)
        return Bench(call(ops["crowding"], F, levels), call(calc_crowding_distance, F),
                     check=lambda a, b: crowding_agrees(a, b, m), targets={"ratio": least})
    return setup


case("crowding 100x3 one front vs pymoo calc_crowding_distance", needs=("crowding",))(crowding_case(100, 3, 10.0))
case("crowding 10^4x3 one front vs pymoo calc_crowding_distance", needs=("crowding",))(crowding_case(10**4, 3, 5.0))


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
        from scipy.spatial.distance import cdist
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


# ---------------------------------------------------------------------------------------------
# evocore in a process with other Python threads.

class Skip(Exception):
    """Raised by a setup whose case cannot run here (the reason is the message)."""


TEAM_THREADS = """
import os, numpy as np, evocore
from evocore.core._tamsen_rows import _tamsen_rows
tasks = lambda: len(os.listdir("/proc/self/task"))
start = tasks()
rng = np.random.default_rng(1)
P, Q, CV = rng.random((60000, 3)), rng.random((60000, 3)), rng.random((60000, 2)) - 0.5
FieldD = np.array([[9] * 3, [0] * 3, [1] * 3, [0, 1, 1], [0] * 3, [1] * 3, [1] * 3, [0, 0, 1]])
FieldDR = np.array([[0.0] * 10, [1.0] * 10, [0] * 10])
evocore.druvik(P, Q, np.zeros(3), CV, None, True)
evocore.quelan(P, Q, np.zeros(3), None, None, 5, True)
evocore.fendrik(CV, None, True, True)
evocore.velkor(P[:20000], FieldD, True)
evocore.tamsen(10**5, FieldDR, True)
evocore.sarnet(np.argsort(rng.random((2000, 50)), 1).astype(np.int32), 0.7, False, True)
evocore.polvane(P[:300], Q[:400], "cityblock", True)
_tamsen_rows(10**5, FieldDR, True, 12345, 0)
print(tasks() - start)
"""


@case("worker threads after Parallel=True of all 8 functions, OMP_NUM_THREADS=4", needs=("polvane",))
def team_threads(mode, ops, ctx):
    import subprocess
    env = dict(os.environ, OMP_NUM_THREADS="4", OPENBLAS_NUM_THREADS="1")
    p = subprocess.run([sys.executable, "-c", TEAM_THREADS], env=env, capture_output=True, text=True, timeout=300)
    if p.returncode != 0:
        raise Skip(p.stderr.strip().splitlines()[-1])
    workers = int(p.stdout)
    return Bench(None, call(len, ()), check=None, report=lambda times, ctx: {"workers": workers},
                 targets={"workers": exactly(3)})


def two_threads(make, most):
    """Two Python threads making one call each, against the same two calls one after the other
    (together/sequential below 1: the calls ran side by side)."""
    def setup(mode, ops, ctx):
        import concurrent.futures
        fn = make(mode, ops)
        pool = concurrent.futures.ThreadPoolExecutor(2)

        def together():
            first, second = pool.submit(fn), pool.submit(fn)
            first.result()
            second.result()

        def sequential():
            fn()
            fn()

        def report(times, ctx):
            return {"together/sequential": round(times["evocore"] / times["baseline"], 3)}
        return Bench(together, sequential, check=None, report=report, teardown=pool.shutdown,
                     targets={"together/sequential": at_most(most)})
    return setup


def threads_polvane(mode, ops):
    A = np.random.default_rng(4).random((mode.square, 16))
    return call(ops["polvane"], A, A.copy())


def threads_tamsen(mode, ops):
    FieldDR = np.array([[-1.0] * 10, [1.0] * 10, [0, 1] * 5])
    return call(ops["tamsen"], mode.large, FieldDR)


def threads_druvik(mode, ops):
    ObjV, w, _ = population(2 * mode.large)
    return call(ops["druvik"], ObjV, w, np.zeros(M))


case("polvane {square}x{square}x16 in two threads", needs=("polvane",))(two_threads(threads_polvane, 0.65))
case("tamsen {large}x10 in two threads", needs=("tamsen",))(two_threads(threads_tamsen, 0.65))
case("druvik {large2}x3 in two threads", needs=("druvik",))(two_threads(threads_druvik, 0.75))


@case("free-threaded: two threads x small calls (druvik {small}x3, polvane 30x30x3, ornavi {small}x3)",
      needs=("druvik", "polvane", "ornavi"))
def free_threaded_small_calls(mode, ops, ctx):
    """Calls too small to let go of the interpreter lock on a build that has one, made by two
    threads at once against one thread alone: the calls per second of two threads over one.  The
    same for small NumPy calls (np.empty, a subtraction, a column minimum) is the interpreter's and
    NumPy's own figure on this machine at this moment, the bound for ours."""
    if getattr(sys, "_is_gil_enabled", lambda: True)():
        raise Skip("needs a free-threaded interpreter running without its lock")
    import concurrent.futures
    ObjV, w, _ = population(mode.small)
    z = np.zeros(M)
    A = np.random.default_rng(5).random((30, 3))
    B = np.random.default_rng(6).random((30, 3))
    druvik, polvane, ornavi = ops["druvik"], ops["polvane"], ops["ornavi"]
    rounds = 100 if mode.quick else 1000

    # Each thread calls with arrays of its own, in local variables: a free-threaded 3.13 counts
    # the references of objects that another thread made atomically, on every load of one.
    def ours():
        d, p, o, F, W, Z, a, b = druvik, polvane, ornavi, ObjV.copy(), w.copy(), z.copy(), A.copy(), B.copy()
        for _ in range(rounds):
            d(F, W, Z)
            p(a, b)
            o(F)

    def numpys():
        e, s, m, n, F, a, b = np.empty, np.subtract, np.min, mode.small, ObjV.copy(), A.copy(), B.copy()
        for _ in range(rounds):
            e((n, 1))
            s(a, b)
            m(F, 0)

    pool = concurrent.futures.ThreadPoolExecutor(2)
    pool.submit(ours).result()  # both threads started and warm before the timing

    def two(fn):
        def run():
            first, second = pool.submit(fn), pool.submit(fn)
            first.result()
            second.result()
        return run

    def one(fn):
        return lambda: pool.submit(fn).result()

    def report(times, ctx):
        return {"calls two/one threads": round(2 * times["baseline"] / times["evocore"], 2),
                "NumPy's two/one": round(2 * times["numpy one"] / times["numpy two"], 2)}
    return Bench(two(ours), one(ours), check=None, variants={"numpy two": two(numpys), "numpy one": one(numpys)},
                 report=report, teardown=pool.shutdown, targets={"calls two/one threads": 1.7})


@case("evocore.dask polvane {chunked}x2000x16 in 8 chunks, threads vs synchronous", needs=("polvane",))
def dask_threads(mode, ops, ctx):
    try:
        import dask
        import dask.array as da
        import evocore.dask as ed
    except ImportError:
        raise Skip("Dask is not installed (the dask extra)")
    n = mode.chunked
    rng = np.random.default_rng(5)
    A = da.from_array(rng.random((n, 16)), chunks=(n // 8, 16))
    B = rng.random((2000, 16))
    result = ed.polvane(A, B)

    def computed(scheduler):
        def run():
            with dask.config.set(scheduler=scheduler):
                return result.compute()
        return run

    # compute() ends by joining the chunks into one array, in one thread: however well the chunks
    # run side by side, the ratio cannot pass sync / ((sync - join) / 2 + join).
    parts = [ops["polvane"](a, B) for a in np.split(A.compute(), 8)]

    def report(times, ctx):
        sync, join = times["baseline"], times["join the chunks"]
        return {"join the chunks": fmt_time(join), "bound": round(sync / ((sync - join) / 2 + join), 2)}
    return Bench(computed("threads"), computed("synchronous"), variants={"join the chunks": call(np.concatenate, parts)},
                 report=report, targets={"ratio": 1.6})


def square_distances(A, metric):
    from scipy.spatial.distance import pdist, squareform
    return squareform(pdist(A, metric))


def polvane_same_case(n, dim, metric, targets):
    """The same object twice against SciPy's pairs once (pdist), made square by squareform."""
    def setup(mode, ops, ctx):
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


# ---------------------------------------------------------------------------------------------
# forms: every form this processor supports of each kernel that picks one by processor, side
# by side on a small and a large case.  The evocore column is the form the kernel picks, the
# baseline its narrowest form (the plain loop, or the x86-64 baseline); the picked form must be
# the fastest, or within 5 % of it.

def forms_case(kernel, data, *sizes):
    def setup(mode, ops, ctx):
        _forms = ops["_forms"]
        _, _, supported, picked = next(r for r in _forms() if r[0] == kernel)
        args = data(*sizes)
        run = {form: call(_forms, kernel, form, *args) for form in supported}
        narrowest = supported[-1]
        others = [form for form in supported if form not in (picked, narrowest)]
        variants = {f"form {form}": run[form] for form in others}

        def report(times, ctx):
            named = {picked: times["evocore"], narrowest: times["baseline"], **{k: times[f"form {k}"] for k in others}}
            fastest = min(named, key=named.get)
            out = {"picked": picked, "fastest": fastest}
            out.update({form: fmt_time(named[form]) for form in supported})
            out["fastest/picked"] = round(named[fastest] / named[picked], 3)
            return out
        return Bench(run[picked], run[narrowest], variants=variants, report=report,
                     targets={"fastest/picked": 0.95})
    return setup


def forms_polvane(n, dim):
    rng = np.random.default_rng(5)
    return rng.random((n, dim)), rng.random((n, dim))


for _kernel in ("_polvane_eu", "_polvane_ci", "_polvane_eu_self", "_polvane_ci_self"):
    for _n, _dim in ((100, 3), (2000, 16)):
        _size = f"{_n}x{_dim}" if _kernel.endswith("_self") else f"{_n}x{_n}x{_dim}"
        case(f"forms {_kernel} {_size}", needs=("_forms",))(forms_case(_kernel, forms_polvane, _n, _dim))
for _n in (100, 10**5):
    case(f"forms _velkor {_n}x10x20", needs=("_forms",))(forms_case("_velkor", velkor_data, _n))


def forms_genes(n, L):
    return (np.array([np.random.default_rng(i).permutation(L) for i in range(n)], dtype=np.int32),)


for _n, _L in ((100, 50), (1000, 1000)):
    case(f"forms gene_range {_n}x{_L}", needs=("_forms",))(forms_case("gene_range", forms_genes, _n, _L))


def forms_associate(n, m):
    rng = np.random.default_rng(5)
    return rng.random((n, m)), rng.random((91, m)) + 0.01


for _n in (200, 10**4):
    case(f"forms _associate {_n}x3, 91 reference points", needs=("_forms",))(forms_case("_associate", forms_associate, _n, 3))


# ---------------------------------------------------------------------------------------------
# Timing.

def run_loop(fn, n):
    t0 = time.perf_counter()
    for _ in range(n):
        fn()
    return time.perf_counter() - t0


def calibrate(fn, target):
    """Calls per measurement so that one measurement lasts about `target` seconds."""
    n = 1
    while True:
        t = run_loop(fn, n)
        if t >= target / 5:
            return max(1, round(n * target / t))
        n *= 10 if t < target / 100 else 2


def measure(callables, mode):
    """Best and median time per call of each callable, measured in interleaved repeats."""
    loops = {k: calibrate(f, mode.target) for k, f in callables.items()}
    samples = {k: [] for k in callables}
    keys = list(callables)
    gc_was_on = gc.isenabled()
    gc.disable()
    try:
        for r in range(mode.repeats):
            for k in (keys if r % 2 == 0 else keys[::-1]):
                samples[k].append(run_loop(callables[k], loops[k]) / loops[k])
    finally:
        if gc_was_on:
            gc.enable()
    return ({k: min(v) for k, v in samples.items()},
            {k: statistics.median(v) for k, v in samples.items()},
            loops)


def agree(a, b, check):
    """(ok, note) for the evocore result a against the baseline result b."""
    if callable(check):                                  # a validity test of its own
        return check(a, b)
    if isinstance(a, tuple) and isinstance(b, tuple):   # e.g. (array, count)
        if len(a) != len(b):
            return False, f"{len(a)} results vs {len(b)}"
        notes = [agree(x, y, check) for x, y in zip(a, b)]
        bad = [note for ok, note in notes if not ok]
        return (not bad), (bad[0] if bad else notes[0][1])
    a, b = np.asarray(a), np.asarray(b)
    if a.shape != b.shape:
        return False, f"shape {a.shape} vs {b.shape}"
    if check == "equal":
        if np.array_equal(a, b):
            return True, "equal"
        with np.errstate(invalid="ignore"):
            return False, f"not equal (max abs diff {np.nanmax(np.abs(a - b)) if a.size else 0.0:.3g})"
    _, rtol, atol = check
    ok = bool(np.allclose(a, b, rtol=rtol, atol=atol, equal_nan=True))
    with np.errstate(divide="ignore", invalid="ignore"):
        rel = np.nanmax(np.abs(a - b) / np.maximum(np.abs(b), atol)) if a.size else 0.0
    return ok, f"allclose rtol={rtol:g} atol={atol:g} (max rel diff {rel:.1e})"


def run_case(c, mode, ctx):
    row = {"case": c.label(mode), "mode": mode.name}
    ops = {}
    for need in c.needs:
        ops[need] = operator(need)
        if ops[need] is None:
            row["skipped"] = f"evocore.{need} not in this build"
            return row
    try:
        bench = c.setup(mode, ops, ctx)
    except Skip as e:
        row["skipped"] = str(e)
        return row
    try:
        return measure_case(bench, row, mode, ctx)
    finally:
        if bench.teardown is not None:
            bench.teardown()


def measure_case(bench, row, mode, ctx):
    if bench.evocore is not None and bench.check is not None:
        ok, note = agree(bench.evocore(), bench.baseline(), bench.check)
        row["check"] = note
        if not ok:
            row["mismatch"] = True
            return row
    callables = {"baseline": bench.baseline, **bench.variants}
    if bench.evocore is not None:
        callables = {"evocore": bench.evocore, **callables}
    best, median, loops = measure(callables, mode)
    row["evocore_s"] = best.get("evocore")
    row["baseline_s"] = best["baseline"]
    row["ratio"] = best["baseline"] / best["evocore"] if "evocore" in best else None
    row["median_s"] = median
    row["loops"] = loops
    row["repeats"] = mode.repeats
    if bench.report is not None:
        row["extra"] = bench.report(best, ctx)
    if bench.targets:
        figures = {"ratio": row["ratio"], **row.get("extra", {})}
        row["targets"] = {k: {"sign": getattr(v, "sign", ">="), "value": float(v), "met": bool(target_met(figures[k], v))}
                          for k, v in bench.targets.items()}
    return row


# ---------------------------------------------------------------------------------------------
# Output.

def fmt_time(s):
    if s is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s / 1e-9:.3g} ns"


def fmt_row(row):
    if "skipped" in row:
        return [row["case"], "-", "-", "-", "skipped: " + row["skipped"]]
    if row.get("mismatch"):
        return [row["case"], "-", "-", "-", "MISMATCH: " + row["check"]]
    ratio = "-" if row["ratio"] is None else f"{row['ratio']:.2f}x"
    notes = [f"{k} {v}" for k, v in row.get("extra", {}).items()]
    notes += [f"target {k} {t['sign']} {t['value']:g} {'met' if t['met'] else 'MISSED'}"
              for k, t in row.get("targets", {}).items()]
    if row.get("check", "equal") != "equal":
        notes.insert(0, row["check"])
    notes = ", ".join(notes)
    return [row["case"], fmt_time(row["evocore_s"]), fmt_time(row["baseline_s"]), ratio, notes]


def print_table(rows, out=sys.stdout):
    head = ["case", "evocore", "baseline", "ratio", "notes"]
    cells = [head] + [fmt_row(r) for r in rows]
    width = [max(len(r[i]) for r in cells) for i in range(4)]
    for i, r in enumerate(cells):
        line = [r[0].ljust(width[0])] + [r[j].rjust(width[j]) for j in (1, 2, 3)] + [r[4]]
        print("  ".join(line).rstrip(), file=out)
        if i == 0:
            print("  ".join("-" * w for w in width) + "  -----", file=out)


def machine():
    """The processor's model name, whether it has AVX2 and AVX-512F (None where /proc/cpuinfo
    does not say), and the form each kernel that picks one by processor runs on it."""
    info = {"processor": platform.processor() or platform.machine(), "avx2": None, "avx512f": None}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    info["processor"] = value.strip()
                elif key.strip() == "flags":
                    flags = value.split()
                    info["avx2"], info["avx512f"] = "avx2" in flags, "avx512f" in flags
                    break
    except OSError:
        pass
    try:
        from evocore.core._forms import _forms
        info["forms"] = {kernel: picked for kernel, _, _, picked in _forms()}
    except ImportError:
        info["forms"] = {}
    return info


def header(mode, where):
    try:
        import evocore
        version = evocore.__version__
    except ImportError:
        version = "not installed"
    omp = " ".join(f"{k}={os.environ[k]}" for k in sorted(os.environ) if k.startswith("OMP_"))
    print(f"evocore {version}, NumPy {np.__version__}, Python {platform.python_version()}, "
          f"{os.cpu_count()} CPUs{', ' + omp if omp else ''}; {mode.name} run, best of "
          f"{mode.repeats} interleaved measurements of ~{mode.target * 1e3:g} ms each")
    has = {True: "yes", False: "no", None: "unknown"}
    print(f"processor {where['processor']}: AVX2 {has[where['avx2']]}, AVX-512F {has[where['avx512f']]}; forms picked: "
          + (", ".join(f"{k} {v}" for k, v in where["forms"].items()) or "none (no _forms in this build)"))
    print("time = per call; ratio = baseline / evocore (above 1: evocore is faster)\n")


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if "--dask" in argv:  # a separate mode: evocore.dask on a local cluster (bench/dask_bench.py)
        sys.path.insert(0, HERE)
        import dask_bench
        dask_bench.main(*[int(a) for a in argv if a != "--dask"])
        return 0
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small sizes and short measurements")
    p.add_argument("--json", default=os.path.join(HERE, "results.json"), metavar="PATH",
                   help="where to write the rows as JSON (default: %(default)s)")
    p.add_argument("only", nargs="*", metavar="WORD",
                   help="run only the cases whose name contains one of these words (and the memory probes)")
    args = p.parse_args(argv)
    mode = Mode(args.quick)
    where = machine()
    header(mode, where)
    t0 = time.perf_counter()
    ctx, rows = {}, []
    for c in CASES:
        label = c.label(mode)
        if args.only and not label.startswith("memory") and not any(w in label for w in args.only):
            continue
        rows.append(run_case(c, mode, ctx))
    print_table(rows)
    print(f"\n{time.perf_counter() - t0:.1f} s")
    with open(args.json, "w") as f:
        json.dump({"machine": where, "rows": rows}, f, indent=1)
        f.write("\n")
    return 1 if any(r.get("mismatch") for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
