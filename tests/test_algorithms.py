"""evocore.algorithms on problems of a user's own: boxes, constraints, seeds, callbacks, ask and
tell, what real problems return, mistakes."""

import doctest
import math
import pickle
import threading

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings

import _strategies as S
import evocore
from _support import assert_bytes_equal

from evocore import algorithms
from evocore.algorithms import _gray, _permutation
from evocore.algorithms import MOEAD, NSGA2, NSGA3, gray_ga, moead, nsga2, nsga3, permutation_ga
from evocore.core._selection import _selection
from evocore.core._variation import _variation
from evocore.demo import tsp


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


def bowl(X):
    """Two objectives without constraints over any number of variables."""
    return np.column_stack((X[:, 0] + (X[:, 1:] ** 2).sum(axis=1),
                            1.0 - X[:, 0] + (X[:, 1:] ** 2).sum(axis=1)))


# Each algorithm (function, its class) on a small population: the arguments before the keywords,
# and the keywords; the problem is half_plane unless a test gives another.
SMALL = {
    "moead": ("moead", "MOEAD", ([-1.0], [3.0]), dict(n_weights=10, generations=10)),
    "nsga2": ("nsga2", "NSGA2", (-1.0, 3.0), dict(pop_size=12, generations=10)),
    "nsga3": ("nsga3", "NSGA3", (-1.0, [3.0]), dict(n_partitions=7, generations=10)),
    "gray_ga": ("gray_ga", "GrayGA", ([-2, -2], [3, 3]), dict(pop_size=20, generations=10)),
    "permutation_ga": ("permutation_ga", "PermutationGA", (12,), dict(pop_size=10, generations=10)),
}
PROBLEM = {"gray_ga": sphere, "permutation_ga": displacement}
MULTI = ("moead", "nsga2", "nsga3")
# The counts and probabilities each algorithm takes.
PARAMETERS = {"moead": ("generations", "n_weights", "T", "delta"),
              "nsga2": ("generations", "pop_size"),
              "nsga3": ("generations", "pop_size", "n_partitions"),
              "gray_ga": ("generations", "pop_size", "bits", "pc"),
              "permutation_ga": ("generations", "pop_size", "xovr", "kick")}


def run(name, seed, problem=None, **keywords):
    function, _, arguments, defaults = SMALL[name]
    problem = problem or PROBLEM.get(name, half_plane)
    return getattr(algorithms, function)(problem, *arguments, **{**defaults, "seed": seed,
                                                                 **keywords})


def same(a, b):
    return (a.X.tobytes() == b.X.tobytes() and a.F.tobytes() == b.F.tobytes()
            and (a.CV is None) == (b.CV is None)
            and (a.CV is None or a.CV.tobytes() == b.CV.tobytes())
            and a.history.keys() == b.history.keys()
            and all(a.history[k].tobytes() == b.history[k].tobytes() for k in a.history))


@pytest.mark.parametrize("name", SMALL)
def test_a_seed_reproduces_the_run_and_leaves_the_callers_generator_alone(name):
    np.random.seed(123)
    expected = np.random.random(3)
    np.random.seed(123)
    first, again, other = run(name, 5), run(name, 5), run(name, 6)
    assert np.array_equal(np.random.random(3), expected)
    assert same(first, again) and not np.array_equal(first.X, other.X)
    assert run(name, None).X.shape == first.X.shape


@pytest.mark.parametrize("name", SMALL)
def test_the_callback_sees_every_generation_and_can_stop_the_run(name):
    seen = []

    def callback(generation, result):
        seen.append((generation, len(next(iter(result.history.values())))))
        return generation == 3

    result = run(name, 1, callback=callback)
    assert seen == [(1, 1), (2, 2), (3, 3)] and result.generations == 3
    assert all(len(h) == 3 for h in result.history.values())


@pytest.mark.parametrize("name", SMALL)
def test_the_function_is_the_ask_and_tell_loop_and_a_pickled_run_continues_the_same(name):
    _, cls, arguments, defaults = SMALL[name]
    problem = PROBLEM.get(name, half_plane)
    keywords = {**defaults, "seed": 7, "generations": 6}
    if name in ("moead", "nsga3"):
        keywords["n_obj"] = 2

    def evaluate(X):
        out = problem(X)
        return out if isinstance(out, tuple) else (out,)

    opt = getattr(algorithms, cls)(*arguments, **keywords)
    for generation in range(6):
        X = opt.ask()
        assert np.array_equal(opt.ask(), X)           # asked again: the same rows
        opt.tell(*evaluate(X))
        if generation == 2:                          # stopped, stored, loaded, continued
            opt = pickle.loads(pickle.dumps(opt))
    assert opt.done and opt.generation == 6
    assert same(opt.result(), run(name, 7, generations=6))
    with pytest.raises(RuntimeError, match="call ask"):
        opt.tell(*evaluate(X))


@pytest.mark.parametrize("name", MULTI)
def test_the_feasible_side_of_a_constraint_is_kept(name):
    result = run(name, 2, generations=40)
    x = result.X[:, 0]
    assert (x >= 0.6).all() and (result.CV <= 0).all() and x.min() < 0.62
    assert result.history["feasible"][-1] == len(x)


def test_gray_ga_finds_the_constrained_optimum_best_first():
    result = gray_ga(sphere, [-2, -2], [3, 3], pop_size=60, generations=150, seed=3)
    assert result.F[0, 0] == pytest.approx(0.5, abs=2e-3) and result.CV[0, 0] <= 0
    assert np.allclose(result.X[0], 0.5, atol=0.05)
    assert result.history["best"][-1] == result.F[0, 0]


def test_permutation_ga_on_a_cost_function_reaches_its_target():
    result = permutation_ga(displacement, 10, pop_size=20, generations=300, seed=1, target=0)
    assert result.X[0].tolist() == list(range(10)) and result.F[0, 0] == 0
    assert result.generations < 300 and (np.diff(result.F[:, 0]) >= 0).all()


@pytest.mark.parametrize("solve", [
    lambda: nsga2(bowl, 0.0, np.ones(4), pop_size=40, generations=60, seed=1),
    lambda: nsga3(bowl, 0.0, np.ones(4), n_partitions=9, generations=60, seed=1),
])
def test_the_dominance_algorithms_reach_a_known_front(solve):
    result = solve()
    levels = evocore.ndsort(result.F)[0]
    first = result.F[levels == 1]
    assert len(first) >= len(result.F) // 2 and np.abs(first.sum(axis=1) - 1.0).max() < 0.05
    assert (np.diff(levels) >= 0).all()                 # best first
    assert np.ptp(first[:, 0]) > 0.8                  # spread along the whole front


@pytest.mark.parametrize("M,n,count", [(2, 100, 100), (3, 100, 105), (3, 91, 91), (2, 1, 2),
                                       (3, 12, 10), (4, 30, 35)])
def test_n_weights_takes_the_nearest_lattice_and_t_fits_it(M, n, count):
    def problem(X):
        return np.repeat(X[:, :1], M, axis=1) + np.arange(M)

    opt = MOEAD(np.zeros(2), np.ones(2), n_obj=M, n_weights=n, generations=2, seed=1)
    for _ in range(2):
        X = opt.ask()
        opt.tell(problem(X))
    assert opt.weights.shape == (count, M) and len(X) == count


def arcs(X):
    """Two objectives over one variable whose front is three separate arcs (x in [0, 0.2],
    [0.4, 0.6] and [0.8, 1]), the gaps between them infeasible; nothing is feasible for x > 1."""
    x = X[:, 0]
    F = np.column_stack((x, 1.0 - x + X[:, 1] ** 2))
    gap = np.minimum(np.abs(x - 0.3), np.abs(x - 0.7))
    return F, np.column_stack((0.1 - gap, x - 1.0))


def test_moead_returns_the_feasible_nondominated_rows_found_one_per_weight_vector_at_most():
    result = moead(arcs, [0, -1], [2, 1], n_weights=20, generations=60, seed=1)
    F = result.F
    assert 10 <= len(F) <= 20 and len(np.unique(F, axis=0)) == len(F)
    assert (result.CV <= 0).all() and (evocore.ndsort(F)[0] == 1).all()
    # every arc is held, its ends too, and the population's copies do not repeat in the result
    for lo, hi in ((0.0, 0.2), (0.4, 0.6), (0.8, 1.0)):
        on = F[(F[:, 0] >= lo - 1e-9) & (F[:, 0] <= hi + 1e-9), 0]
        assert len(on) >= 3 and on.min() < lo + 0.02 and on.max() > hi - 0.02


def constraints_then_none():
    """half_plane for the first population, its objectives alone afterwards."""
    calls = []

    def problem(X):
        calls.append(1)
        return half_plane(X) if len(calls) == 1 else half_plane(X)[0]
    return problem


def nan_right(X):
    """half_plane's values, NaN (in F, or in CV) wherever x > 1.5: half of the box."""
    F, CV = half_plane(X)
    F[X[:, 0] > 2.0] = np.nan
    CV[(X[:, 0] > 1.5) & (X[:, 0] <= 2.0)] = np.nan
    return F, CV


@pytest.mark.parametrize("name,problem", [
    *((name, nan_right) for name in MULTI),
    ("gray_ga", lambda X: np.where(X[:, 0] > 0, np.nan, (X ** 2).sum(axis=1))),
    ("permutation_ga", lambda P: np.where(P[:, 0] == 0, np.nan, displacement(P))),
])
def test_a_row_holding_nan_never_wins(name, problem):
    result = run(name, 3, problem, generations=30)
    bad = np.isnan(result.F).any(axis=1)
    if result.CV is not None:
        bad |= np.isnan(result.CV).any(axis=1)
    # the elitist algorithms keep none; the GAs' last children may hold NaN, after the others
    assert not bad.any() if name in MULTI else not bad[0] and (np.diff(bad * 1) >= 0).all()
    with pytest.raises(ValueError, match="NaN"):
        run(name, 3, lambda X: np.full((len(X), 2 - (name in PROBLEM)), np.nan), generations=3)


@pytest.mark.parametrize("name,problem,check", [
    # the example: +inf on half of the box, the optimum (0, 0) beside it
    ("gray_ga", lambda X: np.where(X[:, 0] > 0.5, np.inf, (X ** 2).sum(axis=1)),
     lambda r: r.F[0, 0] < 1e-6),
    ("gray_ga", lambda X: np.where(X[:, 0] > 2.9, -np.inf, (X ** 2).sum(axis=1)),
     lambda r: r.F[0, 0] == -np.inf),
    ("nsga2", lambda X: np.where(X[:, :1] > 1.0, np.inf, half_plane(X)[0]),
     lambda r: np.isfinite(r.F).all() and r.X.max() <= 1.0),
    ("moead", lambda X: np.where(X[:, :1] > 1.0, np.inf, half_plane(X)[0]),
     lambda r: np.isfinite(r.F).all() and r.X.max() <= 1.0),
    ("permutation_ga", lambda P: np.where(P[:, 0] != 0, np.inf, displacement(P)),
     lambda r: r.F[0, 0] < np.inf),
])
def test_infinities_compare_as_numbers(name, problem, check):
    assert check(run(name, 1, problem, generations=60))


@pytest.mark.parametrize("name", ("moead", "nsga2", "nsga3", "gray_ga"))
def test_a_scalar_bound_is_broadcast(name):
    problem = bowl if name != "gray_ga" else (lambda X: (X ** 2).sum(axis=1))
    result = getattr(algorithms, name)(problem, 0.0, np.ones(5), seed=1, generations=2)
    assert result.X.shape[1] == 5 and (result.X >= 0).all() and (result.X <= 1).all()


def told(opt, F):
    opt.ask()
    opt.tell(F)


@pytest.mark.parametrize("call,message", [
    (lambda: moead(half_plane, [0], [1], n_weights=10, T=11), r"T = 11 is larger than the number of weight vectors \(10\)"),
    (lambda: moead(half_plane, [0], [1], n_weights=10, weights=np.eye(2)), "not both"),
    (lambda: moead(half_plane, [0, 0], [1, 1, 1], generations=1), "lb and ub must be numbers or 1-D and of one length"),
    (lambda: moead(half_plane, [1], [1], generations=1), "below its finite upper bound"),
    (lambda: moead(half_plane, [0], [1], weights=-np.eye(2)), "non-negative"),
    (lambda: moead(half_plane, [0], [1], weights=np.ones((4, 3))), r"shape \(4, 2\) for 4 candidates \(the rows of X\); expected \(4, 3\)"),
    (lambda: moead(lambda X: half_plane(X)[0].T, 0, 1, n_weights=10), r"shape \(2, 10\) for 10 candidates"),
    (lambda: moead(lambda X: X[:, 0], [0], [1]), "moead needs two objectives or more"),
    (lambda: moead(half_plane, [0], [1], seed=-1), "seed must be None or an integer from 0 to 2\\*\\*32 - 1"),
    (lambda: moead(half_plane, [0], [1], seed=2 ** 32), "seed must be"),
    (lambda: MOEAD([0], [1]), "give n_obj"),
    (lambda: NSGA3([0], [1], n_obj=2, n_partitions=3, ref_dirs=np.eye(2)), "not both"),
    (lambda: nsga3(half_plane, 0, 1, ref_dirs=[[1, 0], [0, 0]]), "none of them zero"),
    (lambda: gray_ga(lambda X: (X.sum(axis=1), X[:3]), [0, 0], [1, 1]), "constraint violations of shape"),
    (lambda: gray_ga(sphere, [0, 0], [1, 1], bits=32), "bits must be at most 31"),
    (lambda: nsga2(constraints_then_none(), 0, 1), "0 constraint columns, and 1 for an earlier population"),
    (lambda: permutation_ga(np.array([[0, 1], [2, 0]])), "square, symmetric"),
    (lambda: permutation_ga(displacement), "give n"),
    (lambda: permutation_ga(lambda P: P, 5), r"shape \(30, 5\) for 30 candidates"),
    (lambda: permutation_ga(lambda P: (displacement(P), P), 5), "permutation_ga has no constraints"),
    (lambda: told(NSGA2(0, 1, pop_size=4), np.ones((3, 2))), r"NSGA2.tell was given objective values of shape \(3, 2\) for 4 candidates"),
    (lambda: told(MOEAD(0, 1, n_obj=3, n_weights=3), np.ones((3, 2))), r"MOEAD.tell was given objective values of shape \(3, 2\) for 3 candidates.*expected \(3, 3\)"),
])
def test_unusable_arguments_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


LIMITS = {
    "generations": (0, "generations must be an integer of at least 1"),
    "pop_size": (1, "pop_size must be an integer of at least 2"),
    "n_weights": (0, "n_weights must be an integer of at least 1"),
    "T": (0, "T must be an integer of at least 1"),
    "n_partitions": (0, "n_partitions must be an integer of at least 1"),
    "bits": (0, "bits must be an integer of at least 1"),
    "delta": (1.5, "delta must be a probability from 0 to 1"),
    "pc": (-0.5, "pc must be a probability from 0 to 1"),
    "xovr": (1.5, "xovr must be a probability from 0 to 1"),
    "kick": (np.nan, "kick must be a probability from 0 to 1"),
}


@pytest.mark.parametrize("name,parameter", [(name, parameter) for name, names in PARAMETERS.items()
                                            for parameter in names])
def test_counts_and_probabilities_out_of_range_are_refused_alike(name, parameter):
    value, message = LIMITS[parameter]
    with pytest.raises(ValueError, match=message):
        run(name, 1, **{parameter: value})


def test_seeded_runs_in_threads_equal_the_same_runs_alone():
    pts = np.random.default_rng(3).random((60, 2))

    def cost(P):
        xy = pts[P]
        return np.hypot(*(xy - np.roll(xy, -1, axis=1)).transpose(2, 0, 1)).sum(axis=1)

    runs = [lambda: moead(bowl, 0.0, np.ones(6), n_weights=30, generations=40, seed=1),
            lambda: permutation_ga(cost, 60, pop_size=40, generations=40, seed=1),
            lambda: gray_ga(sphere, [-2, -2], [3, 3], pop_size=60, generations=60, seed=1),
            lambda: moead(half_plane, 0.0, 3.0, n_weights=30, generations=40, seed=2)]
    alone = [r() for r in runs]
    np.random.seed(777)
    stream = np.random.random(8)
    for trial in range(3):
        results, drift, stop = [None] * len(runs), [], threading.Event()

        def draw():
            while not stop.is_set():
                np.random.seed(777)
                if not np.array_equal(np.random.random(8), stream):
                    drift.append(1)

        def work(k):
            results[k] = runs[k]()

        drawer = threading.Thread(target=draw)
        workers = [threading.Thread(target=work, args=(k,)) for k in range(len(runs))]
        drawer.start()
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        stop.set()
        drawer.join()
        assert not drift and all(same(a, b) for a, b in zip(results, alone)), trial


def test_the_examples_in_the_docstrings_run():
    for module in (algorithms._moead, algorithms._nsga2, algorithms._nsga3, algorithms._gray,
                   algorithms._permutation):
        assert doctest.testmod(module, extraglobs={"np": np}).failed == 0, module.__name__


# ---- the pieces the algorithms are built of --------------------------------------------------

def sbx_entry(p1, p2, lo, hi, r_cross, u, r_swap, eta, crossed_pair):
    """SBX of one variable of one pair, as its description writes it."""
    if not (crossed_pair and r_cross < 0.5 and abs(p1 - p2) > 1e-14):
        return p1, p2
    y1, y2 = min(p1, p2), max(p1, p2)
    gap = y2 - y1
    spread = []
    for room in (y1 - lo, hi - y2):
        ua = u * (2.0 - algorithms._shared._power(gap / (gap + 2.0 * room), int(eta) + 1))
        spread.append(math.pow(ua if ua <= 1.0 else 1.0 / (2.0 - ua), 1.0 / (eta + 1.0)))
    low = max(0.5 * (y1 + y2 - spread[0] * gap), lo)
    high = min(0.5 * (y1 + y2 + spread[1] * gap), hi)
    return (high, low) if r_swap < 0.5 else (low, high)


def mutation_entry(x, lo, hi, r, u, eta, d):
    if not r < 1.0 / d:
        return x
    span, near = hi - lo, (x - lo) / (hi - lo)
    v, room = (u, 1.0 - near) if u < 0.5 else (1.0 - u, near)
    step = 2.0 * v + (1.0 - 2.0 * v) * algorithms._shared._power(room, int(eta) + 1)
    q = math.pow(step, 1.0 / (eta + 1.0)) - 1.0
    return min(max(x + (q if u < 0.5 else -q) * span, lo), hi)


@pytest.mark.parametrize("eta,prob", [(15.0, 0.9), (30.0, 1.0), (0.0, 0.5)])
def test_the_compiled_variation_computes_each_entry_as_described(eta, prob):
    rng = np.random.default_rng(int(eta))
    lb, ub = np.array([0.0, -5.0, 2.0, -1e-3]), np.array([1.0, 5.0, 3.0, 1e-3])
    P1, P2 = lb + rng.random((30, 4)) * (ub - lb), lb + rng.random((30, 4)) * (ub - lb)
    P1[:5], P2[5:10] = lb, ub                          # parents on the bounds
    P2[10:12] = P1[10:12]                              # equal parents are never crossed
    R = rng.random((30, 13))
    C = _variation("sbx", P1, P2, lb, ub, R, eta, prob)
    want = [[sbx_entry(P1[i, j], P2[i, j], lb[j], ub[j], *R[i, 1 + 3 * j:4 + 3 * j], eta, R[i, 0] < prob)
             for j in range(4)] for i in range(30)]
    assert_bytes_equal(C, np.array(want).transpose(2, 0, 1).reshape(60, 4))
    M = rng.random((60, 8))
    Y = _variation("mutation", C, None, lb, ub, M, eta)
    want = [[mutation_entry(C[i, j], lb[j], ub[j], M[i, 2 * j], M[i, 2 * j + 1], eta, 4)
             for j in range(4)] for i in range(60)]
    assert_bytes_equal(Y, np.array(want))
    assert (Y >= lb).all() and (Y <= ub).all() and 0 < (Y != C).mean() < 0.5


@pytest.mark.parametrize("args,message", [
    (("blend", np.ones((2, 2)), None, np.zeros(2), np.ones(2), np.ones((2, 4)), 20), "step must be"),
    (("mutation", [[1.0]], None, np.zeros(1), np.ones(1), np.ones((1, 2)), 20), "X must be a 2-D"),
    (("sbx", np.ones((2, 2)), np.ones((3, 2)), np.zeros(2), np.ones(2), np.ones((2, 7)), 20), "Y must be"),
    (("mutation", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones((2, 4)), 20), "Y must be"),
    (("mutation", np.ones((2, 2)), None, np.zeros(3), np.ones(2), np.ones((2, 4)), 20), "lb and ub"),
    (("sbx", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones((2, 4)), 20), "rand must be"),
    (("mutation", np.ones((2, 2)), None, np.zeros(2), np.ones(2), np.ones((2, 4)), 2.5), "eta and eta_m must be"),
    (("mutation", np.ones((2, 2)), None, np.zeros(2), np.ones(2), np.ones((2, 4)), -1), "eta and eta_m must be"),
    (("sbx", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones((2, 7)), 20, "x"), "prob must be"),
    (("offspring", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones(18), 15, 0.9, 20, 5),
     "rows must be"),
    (("offspring", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones(17), 15, 0.9, 20, 3),
     "rand must be"),
    (("offspring", np.ones((2, 2)), np.ones((2, 2)), np.zeros(2), np.ones(2), np.ones(26), 15, 0.9, 2.5, 3),
     "eta and eta_m must be"),
    (("sort", np.zeros(2), np.zeros(2)), "step must be"),
    (("tournament", np.zeros(3), np.zeros(3)), "keys must be"),
    (("tournament", np.zeros((2, 4)), np.zeros(3)), "keys must be"),
    (("tournament", np.zeros((2, 3)), np.zeros((3, 1))), "violation must be"),
    (("tournament", np.zeros((2, 3)), np.zeros(3), np.zeros((2, 2)), np.zeros(3)), "W must be"),
    (("tournament", np.zeros((2, 3)), np.zeros(3), np.zeros((3, 2))), "crowd must be"),
    (("tournament", np.zeros((2, 3)), np.zeros(3), None, None, 4), "winners must be"),
    (("order", np.zeros(3), np.zeros(2), np.zeros(3)), "crowd must be"),
    (("order", np.zeros(3), np.zeros(3), np.zeros(4)), "rand must be"),
    (("order", np.zeros(3), np.zeros(3), np.zeros(3), 4), "first must be"),
    (("order", np.zeros(3), np.zeros(3), np.zeros(3), 1.0), "first must be"),
    (("niching", 3, np.zeros(2), np.array([0, 1]), np.zeros(2), np.zeros(4)), "count must be"),
    (("niching", 1, np.array([-1.0, 0.0]), np.array([0, 1]), np.zeros(2), np.zeros(4)), "counts must be"),
    (("niching", 1, np.array([0.0, 2.0**31 - 2]), np.array([0, 1]), np.zeros(2), np.zeros(4)), "counts must be"),
    (("niching", 1, np.zeros(2), np.array([0, 2]), np.zeros(2), np.zeros(4)), "index must be"),
    (("niching", 1, np.zeros(2), np.array([0, 1]), np.zeros(3), np.zeros(4)), "distance must be"),
    (("niching", 1, np.zeros(2), np.array([0, 1]), np.zeros(2), np.zeros(3)), "rand must be"),
])
def test_the_compiled_steps_refuse_what_they_cannot_use(args, message):
    call = _selection if args[0] in ("sort", "tournament", "order", "niching") else _variation
    with pytest.raises(RuntimeError, match=message):
        call(*args)


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")   # complex arrays handed in
@settings(max_examples=400, derandomize=True, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much])
@given(S.private_step_args())
def test_the_compiled_steps_return_or_raise_and_leave_their_arguments_alone(call):
    module, args = call
    before = [(a.tobytes(), a.shape, a.dtype) for a in args if isinstance(a, np.ndarray) and a.dtype != object]
    try:
        {"_variation": _variation, "_selection": _selection}[module](*args)
    except Exception:
        pass
    assert [(a.tobytes(), a.shape, a.dtype) for a in args if isinstance(a, np.ndarray) and a.dtype != object] == before


@pytest.mark.parametrize("A", [
    np.array([[1.0, 2.0], [0.0, 2.0], [1.0, 2.0], [-0.0, 2.0], [1.0, 1.0], [1.0, 2.0]]),   # repeats, both zeros
    np.random.default_rng(3).integers(0, 3, (60, 3)).astype(float),
    np.empty((0, 2)),
])
def test_the_first_of_equal_rows_are_those_np_unique_finds(A):
    want = np.zeros(len(A), bool)
    want[np.unique(A, axis=0, return_index=True)[1]] = True
    assert np.array_equal(algorithms._shared._first_rows(A), want)


EMPTY = np.empty(0)


@pytest.mark.parametrize("call,args,shapes", [
    (_selection, ("order", EMPTY, EMPTY, EMPTY, 0), [(0,)]),
    (_selection, ("tournament", np.empty((1, 0)), EMPTY, np.empty((0, 2)), EMPTY), [(0,)]),
    (_selection, ("niching", 0, np.zeros(3), np.empty(0, int), EMPTY, np.zeros(3)), [(0,)]),
    (_variation, ("offspring", np.empty((0, 3)), np.empty((0, 3)), np.zeros(3), np.ones(3), EMPTY, 15, 0.9, 20, 0),
     [(0, 3), (0,)]),
    (_variation, ("offspring", np.empty((2, 0)), np.empty((2, 0)), EMPTY, EMPTY, np.zeros(2), 15, 0.9, 20, 3),
     [(3, 0), (3,)]),
])
def test_the_compiled_steps_take_what_has_no_rows_or_no_columns(call, args, shapes):
    out = call(*args)
    assert [a.shape for a in (out if isinstance(out, tuple) else (out,))] == shapes


def test_the_compiled_selection_picks_and_orders_as_its_numpy_description():
    rng = np.random.default_rng(5)
    W = rng.integers(0, 3, (40, 2)).astype(float)       # ties and dominance both common
    crowd = rng.choice([0.0, -0.0, 0.5, 1.0, np.inf, np.nan], 40)
    violation = rng.choice([0.0, 0.0, 0.0, 1.0, 2.0, np.inf], 40)
    keys = rng.choice([0.1, 0.2, 0.3, 0.4, 0.5], (9, 40))     # ties: by position
    pairs = np.argsort(keys, axis=1, kind="stable").ravel()[:340]
    a, b = pairs[0::2], pairs[1::2]
    no_worse, no_better = (W[a] <= W[b]).all(axis=1), (W[a] >= W[b]).all(axis=1)
    won = (no_worse & ~no_better) | ((no_worse | ~no_better) & (crowd[a] >= crowd[b]))
    won = np.where((violation[a] == 0) & (violation[b] == 0), won, violation[a] <= violation[b])
    winners = np.where(won, a, b)
    assert np.array_equal(_selection("tournament", keys, violation, W, crowd, 170),
                          np.concatenate((winners[0::2], winners[1::2])))
    winners = np.where(violation[a] <= violation[b], a, b)
    assert np.array_equal(_selection("tournament", keys, violation, None, None, 170),
                          np.concatenate((winners[0::2], winners[1::2])))
    levels = rng.choice([1.0, 2.0, np.inf], 40)
    rand = rng.choice([0.25, 0.5, np.nan], 40)          # ties left to the index
    want = np.lexsort((rand, -crowd, levels))
    assert np.array_equal(_selection("order", levels, crowd, rand), want)
    assert np.array_equal(_selection("order", levels, crowd, rand, 7), want[:7])
    # niching: 30 rows over 6 directions (one without rows, one with members already)
    index, distance = rng.integers(0, 5, 30), rng.choice([0.1, 0.2, 0.3], 30)
    counts, keys = np.array([0, 2, 0, 1, 0, 0]), rng.random(36)
    free, members, want = set(range(30)), counts.copy(), []
    while len(want) < 25:
        open_ = sorted({index[r] for r in free})
        least = min(members[j] for j in open_)
        for j in sorted((j for j in open_ if members[j] == least), key=lambda j: keys[30 + j])[:25 - len(want)]:
            by = distance if members[j] == 0 else keys
            want.append(min((r for r in free if index[r] == j), key=lambda r: (by[r], r)))
            free.discard(want[-1])
            members[j] += 1
    assert _selection("niching", 25, counts, index, distance, keys).tolist() == want


# Unclipped, rounding puts each of these results one ulp outside the box [-0.2, 0.9]: the clip
# must put it on the bound.  sbx's rand: the pair and the variable crossed, u, no swap.
@pytest.mark.parametrize("step, parents, rand, eta, bound", [
    ("sbx", [-0.2, 0.4], [0, 0, 1 - 2**-53, 1], 15, -0.2),      # the lower child
    ("sbx", [0.7, 0.9], [0, 0, 1 - 2**-53, 1], 15, 0.9),        # the upper child
    ("mutation", [-0.1], [0, 0], 20, -0.2),                      # a step down
    ("mutation", [0.8], [0, 1 - 2**-53], 20, 0.9),               # a step up
])
def test_the_compiled_variation_clips_what_rounding_puts_outside_the_box(step, parents, rand, eta, bound):
    lb, ub = np.array([-0.2]), np.array([0.9])
    P = [np.array([[p]]) for p in parents] + [None]
    C = _variation(step, P[0], P[1], lb, ub, np.array([rand], dtype=float), eta)
    assert bound in C and (C >= lb).all() and (C <= ub).all()


def test_polynomial_mutation_changes_about_one_variable_a_row_inside_the_box():
    rng = np.random.default_rng(5)
    lb, ub = np.array([0.0, -5.0, 2.0, 2.0]), np.array([1.0, 5.0, 3.0, 2.5])
    X = lb + rng.random((2000, 4)) * (ub - lb)
    X[:500] = lb                                       # rows on the bounds move inwards only
    Y = algorithms._shared._polynomial_mutation(X, rng, lb, ub)
    changed = Y != X
    assert 0.22 < changed.mean() < 0.28 and (Y >= lb).all() and (Y <= ub).all()
    assert (Y[:500] >= lb).all() and changed[:500].any()
    R = rng.random(50 * 13 + 99 * 8)
    children, copies = _variation("offspring", X[:50], X[50:100], lb, ub, R, 15.0, 0.9, 20.0, 99)
    crossed = _variation("sbx", X[:50], X[50:100], lb, ub, R[:650].reshape(50, 13), 15.0, 0.9)
    assert_bytes_equal(children, _variation("mutation", crossed[:99], None, lb, ub, R[650:].reshape(99, 8), 20.0))
    assert np.array_equal(copies, (children == X[:99]).all(axis=1)) and copies.any()


@pytest.mark.parametrize("near", [None, 2])
def test_two_opt_uncrosses(near):
    D = tsp.euc_2d(np.array([[0.0, 0.0], [10.0, 0.0], [10.0, 10.0], [0.0, 10.0]]))
    lists = None if near is None else _permutation._neighbours(D, near)
    assert algorithms.tour_length(D, _permutation._two_opt(D, [0, 2, 1, 3], lists)) == 40
    rng = np.random.default_rng(5)
    coords = rng.random((40, 2)) * 1000
    D = tsp.euc_2d(coords)
    tours = np.array([rng.permutation(40) for _ in range(6)])
    better = _permutation._two_opt(D, tours, lists if near is None else _permutation._neighbours(D, 8))
    assert all(sorted(t) == list(range(40)) for t in better)
    assert (algorithms.tour_length(D, better) < algorithms.tour_length(D, tours)).all()


@pytest.mark.parametrize("chrom,bits,lb,ub,expected", [
    ([[0, 1, 0, 0]], 4, [0.0], [10.0], [[70.0 / 15.0]]),     # Gray 0100 = binary 0111 = 7
    ([[1, 0, 0, 0]], 4, [0.0], [10.0], [[10.0]]),            # Gray 1000 = 15: the upper bound
    ([[0, 1, 1, 1, 0, 1]], 3, [0.0, -7.0], [7.0, 0.0], [[2.0, -1.0]]),   # 2, then 6
])
def test_gray_decode(chrom, bits, lb, ub, expected):
    got = _gray._gray_decode(np.array(chrom, dtype=np.int32), bits, np.array(lb), np.array(ub))
    assert np.allclose(got, expected, rtol=0, atol=1e-12)


def test_gray_decode_inverts_velkor():
    lb, ub, bits = np.array([78.0, 33.0, -27.0]), np.array([102.0, 45.0, -26.5]), 10
    codes = np.random.default_rng(3).integers(0, 2 ** bits, size=(20, len(lb)))
    X = lb + codes * (ub - lb) / (2 ** bits - 1)
    n = len(lb)
    FieldD = np.vstack((np.full(n, bits), lb, ub, np.ones(n), np.zeros(n), np.ones(n),
                        np.ones(n), np.ones(n)))            # discrete: rounded, exact codes
    Chrom = evocore.velkor(X, FieldD)
    assert np.allclose(_gray._gray_decode(Chrom, bits, lb, ub), X, rtol=0, atol=1e-9)


def test_double_bridge_keeps_the_cities():
    rng = np.random.default_rng(0)
    tour = rng.permutation(30)
    kicked = _permutation._double_bridge(tour, rng)
    assert sorted(kicked) == list(range(30)) and not np.array_equal(kicked, tour)


@pytest.mark.parametrize("values,bad,order", [
    ([3.0, np.inf, -np.inf, 1.0], [0, 0, 0, 0], [2, 3, 0, 1]),
    ([3.0, np.nan, np.inf, 1.0], [0, 1, 0, 0], [3, 0, 2, 1]),
    ([np.inf, np.inf, 2.0], [0, 0, 0], [2, 0, 1]),
    ([1e308, -1e308, np.inf, 0.0], [0, 0, 0, 0], [1, 3, 0, 2]),
    ([np.nan, np.nan], [1, 1], [0, 1]),
])
def test_values_ranked_for_fitness_keep_their_order_and_are_finite(values, bad, order):
    ranked = algorithms._shared._ranked(np.array(values), np.array(bad, bool))
    assert np.isfinite(ranked).all()
    assert np.argsort(ranked, kind="stable").tolist() == order
    assert len(np.unique(ranked)) == len(np.unique(np.array(values)[~np.array(bad, bool)])) + any(bad)


@pytest.mark.parametrize("costs,count,rows", [
    ([5.0, 3.0, 3.0, 1.0], 3, [3, 1, 0]),              # one row per distinct cost, best first
    ([2.0, 2.0, 2.0, 1.0], 3, [3, 0, 1]),              # too few distinct costs: the rest in row order
    ([np.nan, 2.0, 2.0, np.nan], 3, [1, 2, 0]),        # NaN after every number
])
def test_the_permutation_gas_survivors(costs, count, rows):
    assert _permutation._lowest(np.array(costs), count).tolist() == rows


@pytest.mark.parametrize("lb,ub,n", [(0, np.ones(5), 5), ([0, 0], 1.0, 2), (-1.0, 2, 1),
                                     ([[0, 1]], [1, 2], None), ([0, 0], [1, 1, 1], None)])
def test_bounds_broadcast_from_numbers_only(lb, ub, n):
    if n is None:
        with pytest.raises(ValueError, match="lb and ub"):
            algorithms._shared._box(lb, ub)
    else:
        lo, hi = algorithms._shared._box(lb, ub)
        assert lo.shape == hi.shape == (n,) and (lo < hi).all()


def test_nsga2_survivors_are_whole_fronts_then_the_most_isolated():
    """Fronts {0, 1, 2}, then {3 ... 7} on one line, of which two may stay: its ends, whose
    crowding distance is infinite."""
    opt = NSGA2(0, 1, pop_size=5, seed=1)
    F = np.array([[0.0, 3.0], [1.0, 1.0], [3.0, 0.0],
                  [1.0, 4.0], [2.0, 3.0], [2.5, 2.5], [3.0, 2.0], [4.0, 1.0]])
    levels = evocore.ndsort(F)[0]
    keep = opt._survivors(F, np.zeros(len(F)), levels)
    assert sorted(keep[:3]) == [0, 1, 2] and sorted(keep[3:]) == [3, 7]


def test_nsga3_niching_fills_the_emptiest_directions_first():
    opt = NSGA3(0, 1, n_obj=2, ref_dirs=np.eye(2) + 1e-3, seed=1)
    index = np.array([0, 0, 0, 1, 1], dtype=np.int32)
    distance = np.array([0.3, 0.1, 0.2, 0.5, 0.4])
    # direction 0 holds one member already, direction 1 none: its nearest row comes first
    chosen = opt._niching(3, np.array([1, 0]), index, distance)
    assert chosen[0] == 4 and len(set(chosen.tolist())) == 3
    assert sorted(index[chosen].tolist()) == [0, 1, 1]


@pytest.mark.parametrize("front", [
    lambda X: np.column_stack((X[:, 0], X[:, 0], 1.0 - X[:, 0])),   # two equal objectives
    lambda X: np.column_stack((X[:, 0], np.zeros(len(X)), 1.0 - X[:, 0])),   # one constant
])
def test_nsga3_survives_a_degenerate_front(front):
    """The extreme points of these fronts span no plane: the worst values stand in for the
    intercepts, and the run goes on with finite values on the front."""
    result = nsga3(lambda X: front(X) + (X[:, 1:] ** 2).sum(axis=1)[:, None], 0.0, np.ones(3),
                   n_partitions=4, generations=50, seed=2)
    first = result.F[evocore.ndsort(result.F)[0] == 1]
    assert np.isfinite(result.F).all() and np.abs(first - front(first[:, :1])).max() < 0.05


def test_moead_measures_from_the_feasible_ideal_point_and_spreads_along_the_front():
    """OSY's infeasible candidates lie far below its feasible front; the ideal point must not
    follow them, or every weight vector points at one corner (7 distinct points in 100)."""
    from evocore import problems
    p = problems.osy()
    result = moead(p, p.lb, p.ub, n_weights=100, generations=60, seed=1)
    feasible = (result.CV <= 0).all(axis=1)
    assert (result.history["ideal"][-1] >= [-274.0 - 1e-9, 4.0 - 1e-9]).all()   # the front's least
    assert len(np.unique(result.F[feasible].round(3), axis=0)) >= 50


@pytest.mark.parametrize("seed", [2, 5])
def test_moead_breeds_into_the_gaps_of_its_archive(seed):
    """TNK's front has nearly vertical and horizontal pieces where the sub-problems' solutions
    differ in one objective by a few thousandths and dominate one another: without children bred
    between the archive's neighbours, holes of 0.04-0.09 stayed there (seeds 2 and 5)."""
    from evocore import problems
    p = problems.tnk()
    result = moead(p, p.lb, p.ub, n_weights=100, generations=200, seed=seed)
    assert evocore.polvane(p.front(2000), result.F).min(axis=1).max() < 0.025


def test_default_seed_makes_runs_without_a_seed_reproducible(monkeypatch):
    monkeypatch.setattr(algorithms, "default_seed", 11)
    assert same(run("nsga2", None), run("nsga2", 11)) and same(run("nsga2", None), run("nsga2", None))
