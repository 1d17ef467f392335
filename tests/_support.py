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
