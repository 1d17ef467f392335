"""The kernels compiled for several instruction sets: each module reports its kernels' forms, and
every form this processor runs, chosen through the module's `_forms` entry, gives the operator
the bytes of the plain form, serially and on a team."""

import ast
import contextlib
import importlib
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import evocore
from _support import assert_bytes_equal, assert_same, plain_associate
from test_velkor import field

# The processor's features (Linux), named as the forms are.
CPU = set(Path("/proc/cpuinfo").read_text().split()) if Path("/proc/cpuinfo").exists() else set()
SPECIAL = np.array([np.nan, np.inf, -np.inf, 0.0, -0.0, 1e300, 5e-324])
KERNELS = {"polvane": "_polvane", "velkor": "_velkor", "sarnet": "_sarnet", "associate": "_associate"}


def module(name):
    return importlib.import_module(f"evocore.core.{name}")


def report(name):
    (kernel, compiled, runs, picked), = module(name)._forms()
    assert kernel == KERNELS[name]
    return compiled, runs, picked


@contextlib.contextmanager
def form(name, which):
    """The module's kernel runs form `which` inside the block."""
    forms = module(name)._forms
    before = forms(KERNELS[name], which)
    try:
        yield
    finally:
        forms(KERNELS[name], before)


def each_form(name, call, *plain):
    """call() under every form the processor runs, each against call() under the first of `plain`
    that the kernel has."""
    compiled, runs, _ = report(name)
    with form(name, next(f for f in plain if f in compiled)):
        want = call()
    for which in runs:
        with form(name, which):
            yield which, call(), want


@pytest.mark.parametrize("name", sorted(KERNELS))
def test_report_picks_the_widest_form_this_processor_runs(name):
    compiled, runs, picked = report(name)
    assert set(runs) <= set(compiled) and "baseline" in runs and picked in runs
    assert set(compiled) & CPU <= set(runs)  # what this processor can run is run, and compared below
    assert "avx2" not in CPU or runs[0] in ("avx2", "avx512f")  # a build that lost its vector forms fails
    # In a fresh process, before any choice: the widest.
    code = f"import evocore.core.{name} as m; print(m._forms())"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert ast.literal_eval(out)[0][3] == runs[0]


@pytest.mark.parametrize("args", [("_nothing", "baseline"), ("KERNEL", "avx512"), ("KERNEL", None), ("KERNEL",)])
@pytest.mark.parametrize("name", sorted(KERNELS))
def test_a_form_it_cannot_run_is_refused_and_changes_nothing(name, args):
    args = tuple(KERNELS[name] if a == "KERNEL" else a for a in args)
    before = report(name)
    with pytest.raises((ValueError, TypeError)):
        module(name)._forms(*args)
    assert report(name) == before


def matrix(rng, rows, cols):
    """Normal values with one in 50 taken from SPECIAL."""
    X = rng.normal(size=(rows, cols))
    odd = rng.uniform(size=X.shape) < 0.02
    X[odd] = rng.choice(SPECIAL, size=int(odd.sum()))
    return X


# (rows of A, rows of B, columns): blocks and tiles cut in every way, the small-column forms, and
# empty matrices.
SIZES = [(1, 1, 1), (3, 5, 2), (9, 17, 3), (33, 40, 16), (70, 9, 7), (130, 131, 5), (301, 260, 3), (12, 11, 1),
         (20, 9, 2), (17, 30, 4), (0, 4, 3), (4, 0, 3), (5, 6, 0), (8, 8, 4), (16, 33, 9), (2, 70, 40)]


@pytest.mark.parametrize("metric", ["euclidean", "cityblock"])
@pytest.mark.parametrize("same", [False, True], ids=["pairs", "same-matrix"])
@pytest.mark.parametrize("ra, rb, dim", SIZES)
def test_every_polvane_form_gives_the_bytes_of_the_plain_loop(metric, same, ra, rb, dim):
    rng = np.random.default_rng(ra * 1000 + rb * 10 + dim)
    A, B = matrix(rng, ra, dim), matrix(rng, rb, dim)
    for Parallel in (False, True):
        call = lambda: evocore.polvane(A, A if same else B, metric, Parallel)  # noqa: E731
        for _, got, want in each_form("polvane", call, "plain"):
            assert_same(got, want)  # a NaN's payload may differ


def velkor_case(rng, rows, uniform):
    """Lengths 0 to 31 (all equal, or each its own), both codes and bound flags, values inside,
    outside and beyond the int32 range of the codes, NaN."""
    nvar = int(rng.integers(1, 8))
    lens = np.full(nvar, rng.integers(0, 32)) if uniform else rng.integers(0, 32, nvar)
    ub = np.where(rng.uniform(size=nvar) < 6 / 7, 2.0, -1.0)
    F = field(lens, -1.0, ub, rng.integers(0, 2, nvar), rng.integers(-1, 2, nvar), rng.integers(0, 2, nvar),
              rng.integers(0, 2, nvar))
    Phen = rng.integers(0, 1000, (rows, nvar)) / 200.0 - 2.0
    wild = rng.uniform(size=Phen.shape) < 0.02
    Phen[wild] = rng.choice([np.nan, 1e12], size=int(wild.sum()))
    return Phen, F


@pytest.mark.parametrize("rows", [1, 2, 9, 20000])
@pytest.mark.parametrize("uniform", [False, True], ids=["lengths", "equal-lengths"])
def test_every_velkor_form_gives_the_same_bytes(rows, uniform):
    rng = np.random.default_rng(rows + uniform)
    for _ in range(40 if rows < 100 else 3):
        Phen, F = velkor_case(rng, rows, uniform)
        for Parallel in (False, True):
            for _, got, want in each_form("velkor", lambda: evocore.velkor(Phen, F, Parallel), "baseline"):
                assert_bytes_equal(got, want)


# Genes that reach the ends of int32 (the range the tables are built on) in rows of every lane count,
# with ranges of each of the crossover's value sets.
@pytest.mark.parametrize("n", [1, 7, 8, 9, 31, 200, 1000, 4099])
@pytest.mark.parametrize("end", ["low", "high"])
def test_every_sarnet_form_gives_the_same_children(n, end):
    rng = np.random.default_rng(n)
    base = -2**31 if end == "low" else 2**31 - n
    Chrom = (np.array([rng.permutation(n) for _ in range(6)], dtype=np.int64) + base).astype(np.int32)
    sarnet = module("sarnet")._seeded
    for Parallel in (False, True):
        for _, got, want in each_form("sarnet", lambda: sarnet(12345, Chrom, 1.0, False, Parallel), "baseline"):
            assert_bytes_equal(got, want)
            assert np.array_equal(np.sort(got, axis=1), np.sort(Chrom, axis=1))


# (rows, objectives, references): lanes left over, every objective count compiled alone and one past.
@pytest.mark.parametrize("rows, m, k", [(1, 3, 91), (7, 2, 5), (10, 1, 2), (33, 4, 20), (9, 5, 3), (6, 8, 7), (11, 9, 4),
                                        (0, 3, 3)])
def test_every_associate_form_follows_the_rule(rows, m, k):
    rng = np.random.default_rng(rows * 100 + m * 10 + k)
    F, W = matrix(rng, rows, m), np.abs(rng.normal(size=(k, m))) + 0.1
    with np.errstate(all="ignore"):
        want = plain_associate(F, W)
    for _, (index, distance), _ in each_form("associate", lambda: evocore.associate(F, W), "baseline"):
        assert np.array_equal(index, want[0])
        assert_same(distance, want[1])
