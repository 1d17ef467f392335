"""velkor: binary/Gray encoding against the NumPy encoder a user would write (codes by the same
formula, digits by shifting and masking, Gray by XOR).  The values lie inside their ranges, so
every code is a valid non-negative code of its segment and the shift form gives the same digits."""

import numpy as np

from ._core import Bench, call, case
from ._shared import bandwidth, merged, over_serial, with_copy


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

case("velkor 100x10x20", needs=("velkor",))(velkor_case(100, False))
case("velkor 100x10x20 Parallel", needs=("velkor",))(velkor_case(100, True))
case("velkor 100000x10x20", needs=("velkor",))(velkor_case(10**5, False))
case("velkor 100000x10x20 Parallel", needs=("velkor",))(velkor_case(10**5, True))
