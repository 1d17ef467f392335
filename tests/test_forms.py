"""The kernels that pick a form by processor: every form this processor runs gives the bytes of
the plain loop (polvane) or of every other form (velkor, sarnet's gene range), serially and on a
team."""

from pathlib import Path

import numpy as np
import pytest

from _support import assert_bytes_equal, assert_same, plain_associate
from test_velkor import field
from evocore import polvane, velkor
from evocore.core._forms import _forms

REPORT = {kernel: (compiled, supported, picked) for kernel, compiled, supported, picked in _forms()}
# The processor's features (Linux), named as the forms are.
CPU = set(Path("/proc/cpuinfo").read_text().split()) if Path("/proc/cpuinfo").exists() else set()
SPECIAL = np.array([np.nan, np.inf, -np.inf, 0.0, -0.0, 1e300, 5e-324])


def supported(kernel):
    return REPORT[kernel][1]


def test_report_names_the_picked_form_among_the_supported_ones():
    assert set(REPORT) == {"_polvane_eu", "_polvane_eu_self", "_polvane_ci", "_polvane_ci_self", "_velkor",
                           "gene_range", "_associate"}
    for compiled, runs, picked in REPORT.values():
        assert picked == runs[0] and set(runs) <= set(compiled) and "baseline" in runs
        assert set(compiled) & CPU <= set(runs)  # what this processor can run is run, and compared below
    # an x86-64 build has its vector forms: on a processor with AVX2, polvane runs one
    assert "avx2" not in CPU or REPORT["_polvane_eu"][2] in ("avx2", "avx512f")


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


@pytest.mark.parametrize("kernel", ["_polvane_eu", "_polvane_eu_self", "_polvane_ci", "_polvane_ci_self"])
@pytest.mark.parametrize("ra, rb, dim", SIZES)
def test_every_polvane_form_gives_the_bytes_of_the_plain_loop(kernel, ra, rb, dim):
    rng = np.random.default_rng(ra * 1000 + rb * 10 + dim)
    A, B = matrix(rng, ra, dim), matrix(rng, rb, dim)
    want = _forms(kernel, "plain", A, B)
    metric = "euclidean" if "_eu" in kernel else "cityblock"
    assert_same(polvane(A, A if kernel.endswith("_self") else B, metric), want)
    for form in supported(kernel):
        for Parallel in (False, True):
            assert_same(_forms(kernel, form, A, B, Parallel), want)  # a NaN's payload may differ


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
        want = _forms("_velkor", "baseline", Phen, F)
        assert_bytes_equal(velkor(Phen, F), want)
        for form in supported("_velkor"):
            for Parallel in (False, True):
                assert_bytes_equal(_forms("_velkor", form, Phen, F, Parallel), want)


@pytest.mark.parametrize("n", [1, 7, 8, 9, 31, 1000, 4099])
def test_every_gene_range_form_finds_the_extremes(n):
    rng = np.random.default_rng(n)
    genes = rng.integers(-2**31, 2**31, (1, n), dtype=np.int32)
    if n > 1:
        genes[0, rng.permutation(n)[:2]] = [-2**31, 2**31 - 1]
    for form in supported("gene_range"):
        assert _forms("gene_range", form, genes).tolist() == [[genes.min(), genes.max()]]


@pytest.mark.parametrize("args, message", [
    (("_polvane_xx", "plain", np.ones((1, 1))), "kernel must be"),
    (("_polvane_eu", "avx512", np.ones((1, 1)), np.ones((1, 1))), "form must be"),
    (("_polvane_eu", "plain", np.ones((1, 2)), np.ones((1, 3))), "same number of columns"),
    (("_velkor", "baseline", np.ones((1, 2)), np.ones((8, 3))), "FieldD must have"),
    (("_velkor", "baseline", np.ones((1, 1)), field(32, 0, 1)), "FieldD must have"),
    (("gene_range", "baseline", np.ones((3, 0), np.int32)), "matrix with elements"),
])
def test_arguments_it_refuses(args, message):
    with pytest.raises(RuntimeError, match=message):
        _forms(*args)


# (rows, objectives, references): lanes left over, every objective count compiled alone and one past.
@pytest.mark.parametrize("rows, m, k", [(1, 3, 91), (7, 2, 5), (10, 1, 2), (33, 4, 20), (9, 5, 3), (6, 8, 7), (11, 9, 4),
                                        (0, 3, 3)])
def test_every_associate_form_follows_the_rule(rows, m, k):
    rng = np.random.default_rng(rows * 100 + m * 10 + k)
    F, W = matrix(rng, rows, m), np.abs(rng.normal(size=(k, m))) + 0.1
    with np.errstate(all="ignore"):
        want = plain_associate(F, W)
    for form in supported("_associate"):
        index, distance = _forms("_associate", form, F, W)
        assert np.array_equal(index, want[0])
        assert_same(distance, want[1])
