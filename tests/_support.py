"""Helpers shared by the evocore tests: fresh interpreters and exact array comparison."""

import os
import subprocess
import sys
import textwrap

import numpy as np

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))

# The suite runs under AddressSanitizer (preloaded): freed memory is held in quarantine, so the
# resident size says nothing about leaks there.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_python(code, *, env=None, options=(), timeout=120):
    """Runs `code` in a fresh interpreter (the one running the tests) and returns the
    CompletedProcess with text output.  `env` entries are added to the current environment;
    a value of None removes the variable."""
    environ = dict(os.environ)
    for key, value in (env or {}).items():
        if value is None:
            environ.pop(key, None)
        else:
            environ[key] = str(value)
    return subprocess.run(
        [sys.executable, *options, "-c", textwrap.dedent(code)],
        cwd=TESTS_DIR,
        env=environ,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def assert_same(actual, expected):
    """Same shape, float64 and the same values: NaN where NaN is expected, and otherwise equal
    values with the same sign (so -0.0 and 0.0 differ).  The sign of a NaN is not compared."""
    expected = np.asarray(expected, dtype=float)
    assert isinstance(actual, np.ndarray), type(actual)
    assert actual.dtype == np.float64, actual.dtype
    assert actual.shape == expected.shape, (actual.shape, expected.shape)
    assert np.array_equal(actual, expected, equal_nan=True), (actual, expected)
    numbers = ~np.isnan(expected)
    assert np.array_equal(np.signbit(actual[numbers]), np.signbit(expected[numbers])), (actual, expected)


def assert_bytes_equal(actual, expected):
    """Identical arrays: shape, dtype and every byte."""
    assert actual.shape == expected.shape and actual.dtype == expected.dtype
    assert actual.tobytes() == expected.tobytes()


# The texts of druvik's own errors.
MESSAGES = {
    "CV": "error in druvik: CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)",
    "ObjV": "error in druvik: ObjV must be a Numpy ndarray. (ObjV必须是numpy的array类型矩阵。)",
    "Parallel": "error in druvik: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "idealPoint_length": "error in druvik: The length of idealPoint must be equal to the column number of ObjV. (输入参数idealPoint的长度必须等于ObjV的列数。)",
    "idealPoint": "error in druvik: idealPoint must be a 1-D Numpy ndarray. (输入参数idealPoint必须是一个numpy ndarray类型的一维数组。)",
    "maxormins": "error in druvik: maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)",
    "disagree": "error in druvik: weights and ObjV disagree. (weights和ObjV不匹配，详见help()帮助文档。)",
    "weights": "error in druvik: weights must be a Numpy ndarray. (weights必须是numpy的array类型矩阵。)",
}


# ---- the dominance operators, written out from their rules ---------------------------------------


def plain_ndsort(ObjV, CV=None, maxormins=None, needNum=None):
    """(levels, nfronts) by the definition: pairwise dominance over the feasible rows, fronts
    peeled one at a time, then one front per distinct violation."""
    F = np.asarray(ObjV, dtype=float)
    N, M = F.shape
    if maxormins is not None:
        F = F * np.asarray(maxormins).astype(np.int32)
    nan = np.isnan(F).any(axis=1)
    violation = np.zeros(N)
    if CV is not None:
        C = np.asarray(CV, dtype=float)
        nan |= np.isnan(C).any(axis=1)
        for i in range(N):
            for c in C[i]:
                if c > 0:
                    violation[i] += c
    violation[nan] = np.inf
    feasible = np.flatnonzero(violation == 0)
    G = F[feasible]
    no_worse = (G[:, None, :] <= G[None, :, :]).all(axis=2)
    better = (G[:, None, :] < G[None, :, :]).any(axis=2)
    dominates = no_worse & better  # [q, p]: row q dominates row p
    levels = np.full(N, np.inf)
    left = np.ones(len(feasible), dtype=bool)
    k = 0
    while left.any():
        k += 1
        front = left & ~(dominates & left[:, None]).any(axis=0)
        levels[feasible[front]] = k
        left &= ~front
    for v in np.unique(violation[violation > 0]):
        k += 1
        levels[violation == v] = k
    if needNum is not None:
        counts = np.cumsum([np.count_nonzero(levels == f) for f in range(1, k + 1)])
        k = int(np.argmax(counts >= needNum)) + 1
        levels[levels > k] = np.inf
    return levels, k


def plain_crowding(ObjV, levels):
    """Crowding distances by the rule, one front and one objective at a time."""
    F = np.asarray(ObjV, dtype=float)
    levels = np.asarray(levels, dtype=float)
    N, M = F.shape
    distance = np.zeros(N)
    for level in sorted({float(v) for v in levels[np.isfinite(levels)]}):
        rows = [i for i in range(N) if levels[i] == level]
        if len(rows) <= 2:
            distance[rows] = np.inf
            continue
        d = {i: 0.0 for i in rows}
        for j in range(M):
            key = lambda i: (np.isnan(F[i, j]), 0.0 if np.isnan(F[i, j]) else F[i, j], i)
            order = sorted(rows, key=key)
            smallest, largest = F[order[0], j], F[order[-1], j]
            if largest == smallest:
                continue
            d[order[0]] = d[order[-1]] = np.inf
            for t in range(1, len(order) - 1):
                d[order[t]] += (F[order[t + 1], j] - F[order[t - 1], j]) / (largest - smallest)
        for i in rows:
            distance[i] = d[i]
    return distance


def plain_associate(ObjV, refpoints):
    """(index, distance) by the rule, one row and one reference at a time."""
    F = np.asarray(ObjV, dtype=float)
    W = np.asarray(refpoints, dtype=float)
    units = []
    for w in W:
        length = 0.0
        for x in w:
            length += x * x
        units.append([x / np.sqrt(length) for x in w])
    index, distance = np.full(len(F), -1, dtype=np.int32), np.full(len(F), np.nan)
    for i, f in enumerate(F):
        if np.isnan(f).any():
            continue
        best = None
        for r, u in enumerate(units):
            p = 0.0
            for fk, uk in zip(f, u):
                p += fk * uk
            d2 = 0.0
            for fk, uk in zip(f, u):
                t = fk - p * uk
                d2 += t * t
            if not np.isnan(d2) and (best is None or d2 < best):
                best, index[i] = d2, r
        if best is not None:
            distance[i] = np.sqrt(best)
    return index, distance
