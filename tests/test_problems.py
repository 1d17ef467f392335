"""evocore.problems: the test problems' values, boxes and Pareto fronts."""

import numpy as np
import pytest

from evocore import problems

PROBLEMS = [problems.zdt1(), problems.zdt2(), problems.zdt4(), problems.zdt6(), problems.dtlz1(),
            problems.dtlz2(), problems.dtlz3(), problems.dtlz4(), problems.dtlz2(5),
            problems.srn(), problems.tnk(), problems.osy(), problems.bnh(), problems.ctp1()]


def nondominated(F):
    """The rows of F (two objectives) that no other row dominates, sorted by f1."""
    F = F[np.lexsort((F[:, 1], F[:, 0]))]
    return F[F[:, 1] < np.minimum.accumulate(np.r_[np.inf, F[:-1, 1]])]


@pytest.mark.parametrize("p", PROBLEMS, ids=repr)
def test_values_and_front_have_the_problems_shape(p):
    X = p.lb + np.random.default_rng(0).random((7, p.n_var)) * (p.ub - p.lb)
    out = p(X)
    F, CV = out if p.n_constr else (out, None)
    assert F.shape == (7, p.n_obj) and np.isfinite(F).all()
    assert CV is None or CV.shape == (7, p.n_constr)
    front = p.front(200)
    assert front.shape[1] == p.n_obj and 150 <= len(front) <= 250
    with pytest.raises(ValueError, match=rf"\(N, {p.n_var}\) array"):
        p(X[:, 1:])


@pytest.mark.parametrize("p,optimum,on_front", [
    (problems.zdt1(), 0.0, lambda F: F[:, 1] - (1 - np.sqrt(F[:, 0]))),
    (problems.zdt2(), 0.0, lambda F: F[:, 1] - (1 - F[:, 0] ** 2)),
    (problems.zdt4(), 0.0, lambda F: F[:, 1] - (1 - np.sqrt(F[:, 0]))),
    (problems.zdt6(), 0.0, lambda F: F[:, 1] - (1 - F[:, 0] ** 2)),
    (problems.dtlz1(), 0.5, lambda F: F.sum(axis=1) - 0.5),
    (problems.dtlz2(), 0.5, lambda F: np.linalg.norm(F, axis=1) - 1),
    (problems.dtlz3(4), 0.5, lambda F: np.linalg.norm(F, axis=1) - 1),
    (problems.dtlz4(), 0.5, lambda F: np.linalg.norm(F, axis=1) - 1),
])
def test_the_pareto_set_lies_on_the_front(p, optimum, on_front):
    """The distance variables at their optimum put any position on the front, and the sampled
    front is that surface."""
    X = np.random.default_rng(1).random((50, p.n_var))
    X[:, p.n_obj - 1 if p.name.startswith("DTLZ") else 1:] = optimum
    assert np.allclose(on_front(p(X)), 0.0) and np.allclose(on_front(p.front(300)), 0.0)


@pytest.mark.parametrize("p,first,last", [
    (problems.srn(), (10.1, 2.61), (222.97, -217.74)),
    (problems.tnk(), (0.0417, 1.0384), (1.0384, 0.0417)),
    (problems.osy(), (-274.0, 76.0), (-42.0, 4.0)),
    (problems.bnh(), (0.0, 50.0), (136.0, 4.0)),
    (problems.ctp1(), (0.0, 1.0), (1.0, 0.5420)),
])
def test_a_constrained_front_is_feasible_nondominated_and_whole(p, first, last):
    front = p.front(400)
    assert len(nondominated(front)) == len(front)
    span = np.ptp(front, axis=0)
    assert np.allclose(front[0], first, atol=2e-3 * span.max(), rtol=0)
    assert np.allclose(front[-1], last, atol=2e-3 * span.max(), rtol=0)
    if p.n_var == 2:      # what a fine grid of the box finds is on the front, and nothing better
        g = [np.linspace(p.lb[k], p.ub[k], 401) for k in range(2)]
        X = np.array(np.meshgrid(*g)).reshape(2, -1).T
        F, CV = p(X)
        best = nondominated(F[(CV <= 0).all(axis=1)])
        dense = p.front(2000)
        gap = np.sqrt((((best[:, None] - dense[None]) / span) ** 2).sum(axis=2)).min(axis=1)
        assert gap.max() < 0.02


def test_ctp1_front_lies_on_the_feasible_boundary():
    p = problems.ctp1()
    front = p.front(50)
    X = np.zeros((50, 5))
    X[:, 0] = front[:, 0]                    # g = 1
    F, CV = p(X)
    assert np.allclose(F[:, 1], np.exp(-front[:, 0]))
    # the front's f2 satisfies both constraints, and one of them (or g = 1) holds with equality
    slack = front[:, 1:] - problems.CTP1_A * np.exp(-np.outer(front[:, 0], problems.CTP1_B))
    assert (slack >= 0).all() and np.allclose(np.minimum(slack.min(axis=1),
                                                         front[:, 1] - F[:, 1]), 0.0)
    assert (CV[front[:, 0] > 0.5].max(axis=1) > 0).all()   # the unconstrained front is cut off


@pytest.mark.parametrize("call,message", [
    (lambda: problems.zdt1(1), "n_var must be an integer of at least 2"),
    (lambda: problems.dtlz2(1), "n_obj must be an integer of at least 2"),
    (lambda: problems.dtlz1(4, n_var=3), "n_var must be an integer of at least 4"),
    (lambda: problems.osy(5), "n_var must be an integer of at least 6"),
    (lambda: problems.srn(3), "SRN has 2 variables"),
    (lambda: problems.zdt1().front(1), "points must be an integer of at least 2"),
])
def test_unusable_sizes_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()

