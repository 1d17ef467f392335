"""evocore.algorithms on problems of a user's own: boxes, constraints, seeds, callbacks, mistakes."""

import doctest

import numpy as np
import pytest

import evocore

missing = [name for name in ("druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen",
                             "sarnet", "polvane") if name not in evocore._MODULES]
pytestmark = pytest.mark.skipif(bool(missing), reason=f"operators not built: {missing}")

if not missing:
    from evocore import algorithms
    from evocore.algorithms import gray_ga, moead, permutation_ga


def half_plane(X):
    """F = (x, 1 - x) over one variable, feasible only for x >= 0.6."""
    x = X[:, 0]
    return np.column_stack((x, 1.0 - x)), 0.6 - x


def sphere(X):
    """Least at (1, 1), which x1 + x2 <= 1 cuts off: the optimum is (0.5, 0.5), value 0.5."""
    return ((X - 1.0) ** 2).sum(axis=1), X[:, 0] + X[:, 1] - 1.0


def displacement(P):
    """A cost of orders: how far each item is from its own place (0 for the identity)."""
    return np.abs(P - np.arange(P.shape[1])).sum(axis=1)


RUNS = {
    "moead": lambda seed, **k: moead(half_plane, [-1.0], [3.0], n_weights=10, generations=10,
                                     seed=seed, **k),
    "gray_ga": lambda seed, **k: gray_ga(sphere, [-2, -2], [3, 3], pop_size=20, generations=10,
                                         seed=seed, **k),
    "permutation_ga": lambda seed, **k: permutation_ga(displacement, 12, pop_size=10,
                                                       generations=10, seed=seed, **k),
}


@pytest.mark.parametrize("name", RUNS)
def test_a_seed_reproduces_the_run_and_leaves_the_callers_generator_alone(name):
    np.random.seed(123)
    expected = np.random.random(3)
    np.random.seed(123)
    first, again, other = RUNS[name](5), RUNS[name](5), RUNS[name](6)
    assert np.array_equal(np.random.random(3), expected)
    assert np.array_equal(first.X, again.X) and np.array_equal(first.F, again.F)
    assert not np.array_equal(first.X, other.X)
    assert RUNS[name](None).X.shape == first.X.shape


@pytest.mark.parametrize("name", RUNS)
def test_the_callback_sees_every_generation_and_can_stop_the_run(name):
    seen = []

    def callback(generation, result):
        seen.append((generation, len(next(iter(result.history.values())))))
        return generation == 3

    result = RUNS[name](1, callback=callback)
    assert seen == [(1, 1), (2, 2), (3, 3)] and result.generations == 3
    assert all(len(h) == 3 for h in result.history.values())


def test_moead_keeps_the_feasible_side_of_a_constraint():
    result = moead(half_plane, [-1.0], [3.0], n_weights=20, generations=40, seed=2)
    x = result.X[:, 0]
    assert (x >= 0.6).all() and result.CV.shape == (20, 1) and (result.CV <= 0).all()
    assert x.min() < 0.61 and result.history["feasible"][-1] == 20
    assert result.history["ideal"].shape == (40, 2)


def test_gray_ga_finds_the_constrained_optimum_best_first():
    result = gray_ga(sphere, [-2, -2], [3, 3], pop_size=60, generations=150, seed=3)
    assert result.F[0, 0] == pytest.approx(0.5, abs=2e-3) and result.CV[0, 0] <= 0
    assert np.allclose(result.X[0], 0.5, atol=0.05)
    assert result.history["best"][-1] == result.F[0, 0]


def test_permutation_ga_on_a_cost_function_reaches_its_target():
    result = permutation_ga(displacement, 10, pop_size=20, generations=300, seed=4, target=0)
    assert result.X[0].tolist() == list(range(10)) and result.F[0, 0] == 0
    assert result.generations < 300 and (np.diff(result.F[:, 0]) >= 0).all()


@pytest.mark.parametrize("M,n,count", [(2, 100, 100), (3, 100, 105), (3, 91, 91), (2, 1, 2),
                                       (3, 12, 10), (4, 30, 35)])
def test_n_weights_takes_the_nearest_lattice_and_t_fits_it(M, n, count):
    def problem(X):
        return np.repeat(X[:, :1], M, axis=1) + np.arange(M)

    result = moead(problem, np.zeros(2), np.ones(2), n_weights=n, generations=1, seed=1)
    assert result.F.shape == (count, M)


@pytest.mark.parametrize("call,message", [
    (lambda: moead(half_plane, [0], [1], n_weights=10, T=11), r"T = 11 is larger than the number of weight vectors \(10\)"),
    (lambda: moead(half_plane, [0], [1], n_weights=10, weights=np.eye(2)), "not both"),
    (lambda: moead(half_plane, [0, 0], [1], generations=1), "lb and ub must be 1-D and of one length"),
    (lambda: moead(half_plane, [1], [1], generations=1), "below its finite upper bound"),
    (lambda: moead(half_plane, [0], [1], weights=-np.eye(2)), "non-negative"),
    (lambda: moead(half_plane, [0], [1], weights=np.ones((4, 3))), r"shape \(4, 2\) for 4 individuals; expected \(4, 3\)"),
    (lambda: moead(lambda X: X[:, 0], [0], [1]), r"objective values of shape \(1,\)"),
    (lambda: moead(half_plane, [0], [1], seed=-1), "seed must be None or an integer from 0 to 2\\*\\*32 - 1"),
    (lambda: moead(half_plane, [0], [1], seed=2 ** 32), "seed must be"),
    (lambda: gray_ga(sphere, [0, 0], [1, 1], bits=32), "bits must be at most 31"),
    (lambda: gray_ga(lambda X: (X.sum(axis=1), X[:3]), [0, 0], [1, 1]), "constraint violations of shape"),
    (lambda: permutation_ga(np.array([[0, 1], [2, 0]])), "square, symmetric"),
    (lambda: permutation_ga(displacement), "give n"),
    (lambda: permutation_ga(displacement, 5, kick=2), "kick must be a probability"),
    (lambda: permutation_ga(lambda P: P, 5), r"shape \(30, 5\) for 30 permutations"),
])
def test_unusable_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_the_examples_in_the_docstrings_run():
    assert doctest.testmod(algorithms, extraglobs={"np": np}).failed == 0
