import math

import numpy as np
import pytest

from evocore import quelan

OBJV = np.array([[1.0, 4.0], [3.0, 2.0]])
W = np.array([[0.5, 0.5], [0.9, 0.1]])
Z = np.array([1.0, 2.0])


def msg(text):
    return "error in quelan: " + text


def pbi_reference(F, w, z, theta):
    """The documented operation order, row by row, in plain Python floats."""
    out = []
    theta = float(np.float32(theta))
    for f, wr in zip(F, w):
        sw = dot = sd = 0.0
        for fj, wj, zj in zip(f, wr, z):
            sw += wj * wj
            t = fj - zj
            dot += wj * t
            sd += t * t
        nw, no = math.sqrt(abs(sw)), math.sqrt(abs(sd))
        d1 = dot / nw if nw else math.nan
        q = d1 / no if no else math.nan
        out.append(d1 + math.sqrt(abs(1 - q * q)) * no * theta)
    return np.array(out).reshape(-1, 1)


def test_worked_values():
    assert quelan(OBJV, W, Z).tolist() == [[8.485281374238571], [3.0920827300957034]]
    one = quelan(np.array([[2.0, 3.0]]), np.array([[1.0, 0.0], [0.0, 1.0]]), np.array([1.0, 1.0]))
    assert one.tolist() == [[11.0], [7.000000000000001]]


def test_theta_is_rounded_to_single_precision():
    r = quelan(np.array([[3.0, 2.0]]), np.array([[0.9, 0.1]]), np.array([1.0, 2.0]), Theta=0.1)
    assert r[0, 0] == 2.009853774891319


def test_random_rows_follow_the_documented_order():
    rng = np.random.default_rng(7)
    F, w, z = rng.normal(size=(50, 4)), rng.random((50, 4)), rng.normal(size=4)
    for theta in (5, 0.37, 1e3):
        assert quelan(F, w, z, Theta=theta).tobytes() == pbi_reference(F, w, z, theta).tobytes()


@pytest.mark.parametrize("theta", [None, 5, 5.0])
def test_default_theta(theta):
    assert quelan(OBJV, W, Z, Theta=theta).tobytes() == quelan(OBJV, W, Z).tobytes()


def test_theta_true_is_one_and_float64_scalar_passes():
    assert quelan(OBJV, W, Z, Theta=True).tobytes() == quelan(OBJV, W, Z, Theta=1.0).tobytes()
    assert quelan(OBJV, W, Z, Theta=np.float64(2)).tobytes() == quelan(OBJV, W, Z, Theta=2.0).tobytes()
    assert np.isnan(quelan(OBJV, W, Z, Theta=float("nan"))).all()


@pytest.mark.parametrize(
    "theta, text",
    [
        (False, "Theta must be bigger than 0. (Theta必须是大于0。)"),
        (0, "Theta must be bigger than 0. (Theta必须是大于0。)"),
        (-1, "Theta must be bigger than 0. (Theta必须是大于0。)"),
        ("5", "Theta must be a scalar. (Theta必须是一个标量。)"),
        (np.int64(5), "Theta must be a scalar. (Theta必须是一个标量。)"),
        (np.float32(5), "Theta must be a scalar. (Theta必须是一个标量。)"),
        (np.array([5.0]), "Theta must be a scalar. (Theta必须是一个标量。)"),
    ],
)
def test_bad_theta(theta, text):
    with pytest.raises(RuntimeError) as e:
        quelan(OBJV, W, Z, Theta=theta)
    assert e.value.args == (msg(text),)


def test_order_of_checks():
    # Parallel first, then Theta, then the arrays.
    with pytest.raises(RuntimeError, match="Parallel must be"):
        quelan([1], W, Z, Theta="x", Parallel=1)
    with pytest.raises(RuntimeError, match="Theta must be a scalar"):
        quelan([1], W, Z, Theta="x")
    with pytest.raises(RuntimeError, match="ObjV must be a Numpy ndarray"):
        quelan([1], W, Z)


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((OBJV, [[1, 2]]), {}, "weights must be a Numpy ndarray. (weights必须是numpy的array类型矩阵。)"),
        ((np.ones((3, 2)), np.ones((2, 2))), {}, "weights and ObjV disagree. (weights和ObjV不匹配，详见help()帮助文档。)"),
        ((OBJV, np.ones((2, 3))), {}, "weights and ObjV disagree. (weights和ObjV不匹配，详见help()帮助文档。)"),
        ((OBJV, W, Z, np.ones(2)), {}, "CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)"),
        ((OBJV, W, Z), {"maxormins": np.ones(3)},
         "maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)"),
        ((OBJV, W, [1.0, 2.0]), {},
         "idealPoint must be a 1-D Numpy ndarray. (输入参数idealPoint必须是一个numpy ndarray类型的一维数组。)"),
        ((OBJV, W, np.ones((1, 2))), {},
         "idealPoint must be a 1-D Numpy ndarray. (输入参数idealPoint必须是一个numpy ndarray类型的一维数组。)"),
        ((OBJV, W, np.ones(3)), {},
         "The length of idealPoint must be equal to the column number of ObjV. (输入参数idealPoint的长度必须等于ObjV的列数。)"),
    ],
)
def test_messages(args, kwargs, text):
    with pytest.raises(RuntimeError) as e:
        quelan(*args, **kwargs)
    assert e.value.args == (msg(text),)


def test_list_cv_is_an_attribute_error():
    with pytest.raises(AttributeError):
        quelan(OBJV, W, Z, [[0.0], [1.0]])


def test_nan_for_zero_weights_and_rows_at_the_ideal_point():
    r = quelan(np.array([[1.0, 2.0], [5.0, 5.0]]), np.array([[0.3, 0.7], [0.0, 0.0]]), Z)
    assert np.isnan(r).all()


def test_negative_projection_keeps_its_sign():
    r = quelan(np.array([[0.0, 1.0]]), np.array([[1.0, 1.0]]), Z, Theta=1.0)
    assert r[0, 0] == pbi_reference([[0.0, 1.0]], [[1.0, 1.0]], Z, 1.0)[0, 0]
    assert r[0, 0] < math.sqrt(2) * 1.0  # d1 < 0 pulls the value below d2


def test_without_ideal_point_returns_the_working_minima():
    mm = np.array([1, -1])
    assert quelan(OBJV, W).tolist() == [1.0, 2.0]
    assert quelan(OBJV, W, None, None, mm).tolist() == [1.0, -4.0]
    cv = np.array([[0.0], [2.0]])
    # the second row becomes the column maxima (3, 4) plus 2
    assert quelan(OBJV, W, None, cv).tolist() == [1.0, 4.0]


def test_cv_and_maxormins_feed_the_kernel():
    mm = np.array([1, -1])
    cv = np.array([[0.5, -1.0], [0.0, 0.0]])
    work = OBJV * mm
    work[0] = work.max(axis=0) + 0.5
    before = OBJV.copy()
    r = quelan(OBJV, W, Z, cv, mm)
    assert r.tobytes() == pbi_reference(work, W, Z, 5).tobytes()
    assert OBJV.tobytes() == before.tobytes()


def test_one_row_kernel_matches_the_general_one():
    F = np.array([[2.0, 3.0, 0.5]])
    w = np.array([[0.2, 0.3, 0.5]])
    z = np.zeros(3)
    assert quelan(F, w, z).tobytes() == pbi_reference(F, w, z, 5).tobytes()


def test_parallel_equals_serial():
    rng = np.random.default_rng(3)
    F, w, z = rng.random((40000, 3)), rng.random((40000, 3)), rng.random(3)
    assert quelan(F, w, z, Parallel=True).tobytes() == quelan(F, w, z).tobytes()
    F1 = rng.random((1, 3))
    assert quelan(F1, w, z, Parallel=True).tobytes() == quelan(F1, w, z).tobytes()


def test_zero_columns_give_nan():
    r = quelan(np.zeros((2, 0)), np.zeros((2, 0)), np.zeros(0))
    assert r.shape == (2, 1) and np.isnan(r).all()
