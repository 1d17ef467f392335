"""The constraint operators: fendrik (the merged violation and the feasible count) and ulvaro
(the power-law fitness)."""

import numpy as np

from ._core import Bench, call, case
from ._shared import bandwidth, merged, np_penalised, over_serial, population


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
