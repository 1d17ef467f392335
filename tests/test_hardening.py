"""Faults that ordinary inputs do not show: offsets past 32 bits, rounding under a square root."""

import mmap

import numpy as np
import pytest

from _support import SANITIZED
import evocore

ROWS, COLS = 2**25 + 1, 64  # 2^31 + 64 elements: the last row starts past any 32-bit offset


@pytest.fixture(scope="module")
def huge():
    """A private anonymous mapping: untouched pages cost no memory; only the first and last
    rows are written."""
    if SANITIZED:
        pytest.skip("16 GiB of shadow checks is too slow under the sanitizer")
    buf = mmap.mmap(-1, ROWS * COLS * 8, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    a = np.frombuffer(buf, dtype=np.float64).reshape(ROWS, COLS)
    a[0] = 2.0
    a[-1] = -3.0
    return a


@pytest.mark.parametrize(
    "call, check",
    [
        (lambda a: evocore.druvik(a, a, np.zeros(COLS)), lambda r: r[0, 0] == 4.0 and r[-1, 0] == -9.0 and r[-2, 0] == 0),
        (lambda a: evocore.quelan(a, a, np.zeros(COLS)), lambda r: r[0, 0] == 16.0 and r[-1, 0] == 24.0),
        (lambda a: evocore.ornavi(a), lambda r: (r == -3.0).all()),
        (lambda a: evocore.ornavi(a, reverse=True), lambda r: (r == 2.0).all()),
        (lambda a: evocore.druvik(a, a), lambda r: (r == -3.0).all()),
        (lambda a: evocore.fendrik(a, None, True), lambda r: r[0][0, 0] == 128.0 and r[0][-1, 0] == 0.0 and r[1] == ROWS - 1),
        (lambda a: evocore.polvane(a, a[-1:], "cityblock"), lambda r: r[0, 0] == 320.0 and r[-1, 0] == 0.0 and r[-2, 0] == 192.0),
    ],
    ids=["druvik", "quelan", "ornavi", "ornavi-reverse", "druvik-ideal", "fendrik", "polvane"],
)
def test_matrices_past_32_bit_offsets(huge, call, check):
    assert check(call(huge))


def test_pbi_row_on_its_weight_direction():
    # d1 / |F - z| rounds to 1.0000000000000002 here; the absolute value under the square root
    # keeps the distance from the direction a small number instead of NaN
    F = np.array([[1.0, 1.0, 1.0]])
    assert evocore.quelan(F, F, np.zeros(3)).tolist() == [[1.732050990070085]]
