import numpy as np
import pytest

from evocore import ornavi

OBJV = np.array([[1.0, 5.0], [2.0, 3.0]])
MM = np.array([1, -1])


def msg(text):
    return "error in ornavi: " + text


REVERSE = "reverse must be None, True or False. (传入参数reverse必须是None,True或者False。)"
OBJV_MSG = "ObjV must be a Numpy ndarray. (ObjV必须是numpy的array类型矩阵。)"
MM_MSG = "maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)"
CV_MSG = "CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)"
OLD_MSG = "old_idealPoint must be a 1-D Numpy ndarray. (输入参数old_idealPoint必须是一个Numpy ndarray类型的一维数组。)"
OLD_LEN = (
    "The length of old_idealPoint must not be smaller than the column number of ObjV. "
    "(输入参数old_idealPoint的长度不能小于ObjV的列数。)"
)


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({"maxormins": MM}, [1.0, -5.0]),
        ({"maxormins": MM, "reverse": True}, [2.0, -3.0]),
        ({"maxormins": MM, "old_idealPoint": np.array([0.0, -4.0])}, [0.0, -5.0]),
        ({"maxormins": np.array([1.0, -1.0])}, [1.0, -5.0]),
        ({"reverse": None}, [1.0, 3.0]),
        ({}, [1.0, 3.0]),
    ],
)
def test_worked_values(kwargs, expected):
    r = ornavi(OBJV, **kwargs)
    assert r.dtype == np.float64 and r.ndim == 1
    assert r.tolist() == expected


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((OBJV,), {"reverse": 1}, REVERSE),
        (([1],), {"reverse": 0}, REVERSE),
        ((OBJV,), {"reverse": np.bool_(True)}, REVERSE),
        ((np.ones(3),), {}, OBJV_MSG),
        (([[1, 2]],), {}, OBJV_MSG),
        ((np.ones((2, 2, 2)),), {}, OBJV_MSG),
        ((OBJV, None, [1, -1]), {}, MM_MSG),
        ((OBJV, None, np.ones((1, 2))), {}, MM_MSG),
        ((OBJV, None, np.ones(3)), {}, MM_MSG),
        ((OBJV, np.ones(2)), {}, CV_MSG),
        ((OBJV, np.ones((3, 1))), {}, CV_MSG),
        ((OBJV, None, None, [0.0, 0.0]), {}, OLD_MSG),
        ((OBJV, None, None, np.zeros((1, 2))), {}, OLD_MSG),
        ((OBJV, None, None, np.zeros(1)), {}, OLD_LEN),
        ((OBJV[:1], None, None, np.zeros(0)), {}, OLD_LEN),
    ],
)
def test_messages(args, kwargs, text):
    with pytest.raises(RuntimeError) as e:
        ornavi(*args, **kwargs)
    assert e.value.args == (msg(text),)


def test_old_ideal_point_is_checked_only_after_the_rest():
    with pytest.raises(RuntimeError) as e:
        ornavi(OBJV, np.ones(2), None, [1])
    assert e.value.args == (msg(CV_MSG),)


def test_list_cv_is_an_attribute_error():
    with pytest.raises(AttributeError):
        ornavi(OBJV, [[0.0], [0.0]])


def test_layout_and_dtype_do_not_matter():
    base = np.arange(12, dtype=np.float64).reshape(3, 4) * 1.5 - 4
    signs = np.array([1, -1, 1, -1])
    want = ornavi(base, None, signs).tobytes()
    wide = np.zeros((3, 8))
    wide[:, ::2] = base
    for variant in (np.asfortranarray(base), base.astype(np.float32), wide[:, ::2]):
        assert ornavi(variant, None, signs).tobytes() == want


def test_cv_with_feasible_rows_takes_the_feasible_minima():
    F = np.array([[5.0, 1.0], [2.0, 6.0], [4.0, 4.0]])
    cv = np.array([[0.0], [1.0], [-2.0]])
    assert ornavi(F, cv).tolist() == [4.0, 1.0]


def test_cv_all_infeasible_gives_maxima_plus_smallest_violation():
    F = np.array([[5.0, 1.0], [2.0, 6.0]])
    cv = np.array([[0.5, 1.0], [0.25, 0.0]])
    assert ornavi(F, cv).tolist() == [5.25, 6.25]


def test_cv_with_reverse_gives_maxima_plus_largest_violation():
    F = np.array([[5.0, 1.0], [2.0, 6.0], [0.0, 0.0]])
    cv = np.array([[0.5], [0.0], [2.0]])
    assert ornavi(F, cv, reverse=True).tolist() == [7.0, 8.0]


def test_callers_arrays_are_unchanged_and_result_is_new():
    F = np.array([[5.0, 1.0], [2.0, 6.0]])
    cv = np.array([[1.0], [0.0]])
    old = np.array([9.0, 9.0])
    copies = [F.copy(), cv.copy(), old.copy()]
    r = ornavi(F, cv, None, old)
    assert r is not old
    for a, b in zip((F, cv, old), copies):
        assert a.tobytes() == b.tobytes()


def test_integer_old_ideal_point_and_longer_one():
    assert ornavi(OBJV, None, None, np.array([0, 9], dtype=np.int32)).tolist() == [0.0, 3.0]
    assert ornavi(OBJV, None, None, np.array([0.0, 9.0, -100.0])).tolist() == [0.0, 3.0]


@pytest.mark.parametrize("reverse, expected", [(False, [1.0, 2.0, 2.0]), (True, [3.0, 4.0, 2.0])])
def test_one_row_merges_directly(reverse, expected):
    row = np.array([[1.0, 4.0, 2.0]])
    old = np.array([3.0, 2.0, 2.0])
    assert ornavi(row, None, None, old, reverse).tolist() == expected


def test_nan_rules():
    old = np.array([np.nan, 0.0])
    assert ornavi(OBJV, None, None, old).tolist() == [1.0, 0.0]
    F = np.array([[1.0, np.nan], [2.0, 0.0]])
    assert np.isnan(ornavi(F)[1]) and ornavi(F)[0] == 1.0
    r = ornavi(F, None, None, np.array([0.0, -1.0]))
    assert r[0] == 0.0 and np.isnan(r[1])
    r = ornavi(F, None, None, np.array([0.0, -1.0]), True)
    assert r[0] == 2.0 and np.isnan(r[1])


def test_ties_take_the_old_value():
    old = np.array([-0.0, 3.0])
    r = ornavi(np.array([[0.0, 3.0], [1.0, 4.0]]), None, None, old)
    assert np.signbit(r[0]) and r[1] == 3.0


def test_zero_columns_and_zero_rows():
    assert ornavi(np.zeros((3, 0))).shape == (0,)
    assert ornavi(np.zeros((3, 0)), None, None, np.zeros(0)).shape == (0,)
    with pytest.raises(ValueError):
        ornavi(np.zeros((0, 2)))
    with pytest.raises(ValueError):
        ornavi(np.zeros((0, 2)), np.zeros((0, 1)), None, np.zeros(2))
