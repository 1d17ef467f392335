"""Ready-made algorithms on the evocore operators, for a problem of your own.

    moead            multi-objective (MOEA/D) over a box, with constraints
    permutation_ga   a permutation GA: tours over a distance matrix (2-opt), or any cost of an order
    gray_ga          a single-objective GA on Gray-coded real variables over a box, with constraints

Each takes the problem as a function of a whole population (one row per individual), a seed that
makes the run reproducible without touching the caller's ``np.random`` state, and a callback for
progress; each returns a ``Result``.  ``igd``, ``simplex_lattice`` and ``tour_length`` are
the helpers they use that a caller may want too.

Constraints are given as a violation matrix CV, one row per individual and one column per
constraint, positive where a constraint is violated (write ``g(x) <= 0`` as ``CV = g(X)``, and
``h(x) >= 0`` as ``CV = -h(X)``).  Individuals are compared by the feasibility rule of the
operators: a feasible one is better than an infeasible one, two infeasible ones compare by the
sum of their positive violations.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass, field
from typing import Any, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import druvik, fendrik, ornavi, polvane, quelan, sarnet, tamsen, ulvaro, velkor

__all__ = ["Result", "moead", "permutation_ga", "gray_ga", "igd", "simplex_lattice",
           "tour_length"]

Array = NDArray[np.float64]
#: What a problem function returns: objective values, or objective values and violations.
Evaluation = Union[ArrayLike, tuple[ArrayLike, ArrayLike]]
#: Called after every generation with its number (from 1) and the result so far; a true return
#: value ends the run there.
Callback = Callable[[int, "Result"], Any]


@dataclass
class Result:
    """What an algorithm returns (and hands to its callback after every generation).

    Attributes:
        X: the final population, one row per individual.  ``moead``: one row per weight vector,
            the approximation of the Pareto front.  ``permutation_ga`` and ``gray_ga``: sorted
            best first, so ``X[0]`` is the best solution found.
        F: the objective values of ``X``, one row per individual (one column for the GAs).
        CV: the constraint violations of ``X`` (positive entries violated), or ``None`` when the
            problem returns no constraints.
        history: one array per measure, one entry per generation:
            ``moead``: ``"ideal"`` (the ideal point, one row per generation) and ``"feasible"``
            (how many individuals satisfy every constraint);
            ``permutation_ga``: ``"best"`` (the lowest cost);
            ``gray_ga``: ``"best"`` (the best individual's objective value), ``"violation"``
            (its summed violation) and ``"feasible"``.
        generations: the number of generations run (fewer than asked when a callback or the
            ``target`` of ``permutation_ga`` ended the run).
    """

    X: NDArray[Any]
    F: Array
    CV: Array | None
    history: dict[str, Array] = field(default_factory=dict)
    generations: int = 0


# ---- shared checks --------------------------------------------------------------------------

def _count(value: int, name: str, least: int) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < least:
        raise ValueError(f"{name} must be an integer of at least {least}, not {value!r}")
    return int(value)


def _box(lb: ArrayLike, ub: ArrayLike) -> tuple[Array, Array]:
    lo = np.array(lb, dtype=float, ndmin=1)
    hi = np.array(ub, dtype=float, ndmin=1)
    if lo.ndim != 1 or lo.shape != hi.shape or len(lo) == 0:
        raise ValueError(f"lb and ub must be 1-D and of one length (shapes {lo.shape} and {hi.shape})")
    if not (np.isfinite(lo).all() and np.isfinite(hi).all() and (lo < hi).all()):
        raise ValueError("every lower bound must be finite and below its finite upper bound")
    return lo, hi


def _evaluate(problem: Callable[[Any], Evaluation], X: NDArray[Any],
              columns: int | None = None) -> tuple[Array, Array | None]:
    """problem(X) as (F with one row per row of X, CV or None), checked."""
    out = problem(X)
    F, CV = out if isinstance(out, tuple) else (out, None)
    F = np.asarray(F, dtype=float)
    if columns == 1 and F.ndim == 1:
        F = F[:, None]
    if F.ndim != 2 or len(F) != len(X) or (columns is not None and F.shape[1] != columns):
        want = f"({len(X)}, {columns if columns is not None else 'objectives'})"
        raise ValueError(f"the problem returned objective values of shape {F.shape} for "
                         f"{len(X)} individuals; expected {want}")
    if CV is not None:
        CV = np.asarray(CV, dtype=float)
        if CV.ndim == 1:
            CV = CV[:, None]
        if CV.ndim != 2 or len(CV) != len(X):
            raise ValueError(f"the problem returned constraint violations of shape {CV.shape} "
                             f"for {len(X)} individuals; expected ({len(X)}, constraints)")
    return F, CV


class _Draws:
    """NumPy's global generator as the algorithm's own, for the operators that take their seed
    from it (tamsen, sarnet): seeded once, swapped in around each such call, and the caller's
    state put back afterwards, so that neither disturbs the other."""

    def __init__(self, seed: int) -> None:
        saved = np.random.get_state()
        np.random.seed(seed)
        self._state = np.random.get_state()
        np.random.set_state(saved)

    @contextmanager
    def __call__(self) -> Iterator[None]:
        saved = np.random.get_state()
        np.random.set_state(self._state)
        try:
            yield
        finally:
            self._state = np.random.get_state()
            np.random.set_state(saved)


def _generators(seed: int | None) -> tuple[np.random.Generator, _Draws]:
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, (int, np.integer))
                             or not 0 <= seed < 2 ** 32):
        raise ValueError(f"seed must be None or an integer from 0 to 2**32 - 1, not {seed!r}")
    rng = np.random.default_rng(seed)
    return rng, _Draws(int(rng.integers(2 ** 32)) if seed is None else int(seed))


def _history(rows: dict[str, list[Any]]) -> dict[str, Array]:
    return {key: np.array(values, dtype=float) for key, values in rows.items()}


# ---- MOEA/D ---------------------------------------------------------------------------------

def simplex_lattice(M: int, H: int) -> Array:
    """All weight vectors of M components k/H (k = 0 ... H) that add up to 1: C(H + M - 1, M - 1)
    rows, for example 100 for M = 2, H = 99 and 91 for M = 3, H = 12."""
    return _compositions(_count(M, "M", 1), _count(H, "H", 1)) / H


def _compositions(M: int, H: int) -> NDArray[Any]:
    if M == 1:
        return np.array([[H]])
    return np.vstack([np.column_stack((np.full(len(rest), k), rest))
                      for k in range(H + 1) for rest in [_compositions(M - 1, H - k)]])


def _lattice_near(M: int, n: int) -> Array:
    """The simplex lattice of M components whose size is closest to n (the smaller on a tie)."""
    if M == 1:
        return np.ones((1, 1))
    H = 1
    while math.comb(H + M - 1, M - 1) < n:
        H += 1
    if H > 1 and n - math.comb(H + M - 2, M - 1) <= math.comb(H + M - 1, M - 1) - n:
        H -= 1
    return simplex_lattice(M, H)


def igd(F: ArrayLike, front: ArrayLike) -> float:
    """Inverted generational distance: the mean, over the points of the true front (rows of
    `front`), of the Euclidean distance to the nearest row of F.  Lower is better; 0 when F
    contains every point of the front."""
    D = polvane(np.ascontiguousarray(front, dtype=float), np.ascontiguousarray(F, dtype=float))
    return float(D.min(axis=1).mean())


def _sbx(P1: Array, P2: Array, rng: np.random.Generator, lb: Array, ub: Array,
         eta: float = 20.0) -> Array:
    """Simulated binary crossover, bounded form, one child per pair: each variable is crossed
    with probability 1/2 and the child takes either of the two crossed values at random; the
    variables not crossed come from one parent, chosen per child."""
    n, d = P1.shape
    y1, y2 = np.minimum(P1, P2), np.maximum(P1, P2)
    gap = np.maximum(y2 - y1, 1e-14)
    u = rng.random((n, d))
    spread = []
    for beta in (1.0 + 2.0 * (y1 - lb) / gap, 1.0 + 2.0 * (ub - y2) / gap):
        alpha = 2.0 - beta ** -(eta + 1.0)
        spread.append(np.where(u <= 1.0 / alpha, (u * alpha) ** (1.0 / (eta + 1.0)),
                               (1.0 / (2.0 - u * alpha)) ** (1.0 / (eta + 1.0))))
    c1 = 0.5 * (y1 + y2 - spread[0] * (y2 - y1))
    c2 = 0.5 * (y1 + y2 + spread[1] * (y2 - y1))
    crossed = np.where(rng.random((n, d)) < 0.5, c1, c2)
    cross = (rng.random((n, d)) < 0.5) & (np.abs(P1 - P2) > 1e-14)
    parent = np.where(rng.random((n, 1)) < 0.5, P1, P2)
    return np.clip(np.where(cross, crossed, parent), lb, ub)


def _polynomial_mutation(X: Array, rng: np.random.Generator, lb: Array, ub: Array,
                         eta: float = 20.0) -> Array:
    """Polynomial mutation, each variable with probability 1/(number of variables)."""
    n, d = X.shape
    mutate = rng.random((n, d)) < 1.0 / d
    u = rng.random((n, d))
    span = ub - lb
    d1, d2 = (X - lb) / span, (ub - X) / span
    power = 1.0 / (eta + 1.0)
    low = 2.0 * u + (1.0 - 2.0 * u) * (1.0 - d1) ** (eta + 1.0)
    high = 2.0 * (1.0 - u) + 2.0 * (u - 0.5) * (1.0 - d2) ** (eta + 1.0)
    delta = np.where(u < 0.5, low ** power - 1.0, 1.0 - high ** power)
    return np.clip(np.where(mutate, X + delta * span, X), lb, ub)


def moead(problem: Callable[[Array], Evaluation], lb: ArrayLike, ub: ArrayLike, *,
          n_weights: int | None = None, weights: ArrayLike | None = None,
          generations: int = 300, pbi: bool = False, T: int | None = None, delta: float = 0.9,
          seed: int | None = None, callback: Callback | None = None) -> Result:
    """Minimise several objectives over a box by MOEA/D (decomposition into one sub-problem per
    weight vector), with constraints handled by the feasibility rule.

    Args:
        problem: ``problem(X)`` takes an (N, n_var) ``float64`` array, one candidate per row, and
            returns F, an (N, M) array of objective values (all minimised), or a pair ``(F, CV)``
            with CV an (N, k) array of constraint violations (positive entries violated).
        lb: 1-D lower bounds of the n_var variables (any finite box).
        ub: 1-D upper bounds, each above its lower bound.
        n_weights: about how many weight vectors (the population size): the simplex lattice
            whose size is closest to it for M objectives (100 gives 100 for M = 2, 105 for
            M = 3).  Default 100.  Without ``weights``, ``problem`` is called once more, on the
            centre of the box, to learn M.
        weights: the weight vectors themselves, one per row (M columns, non-negative); instead
            of ``n_weights``.
        generations: how many generations (each evaluates one child per weight vector).
        pbi: aggregate by penalty-based boundary intersection (``quelan``, Theta 5) instead of
            Tchebycheff (``druvik``).
        T: neighbourhood size, at most the number of weight vectors; default 15, or all of them
            when there are fewer.
        delta: the probability of mating within the neighbourhood (else in the whole population).
        seed: makes the run reproducible (0 to 2**32 - 1); the caller's ``np.random`` state is
            left as it was.  ``None``: fresh randomness.
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result``: X, F, CV of the final population (one individual per weight vector)
            and its history (``"ideal"``, ``"feasible"``).

    Raises:
        ValueError: bounds, weights, T, counts or seed that cannot be used, or a problem whose
            result has the wrong shape.

    The ideal point is taken over every solution evaluated, feasible or not, so that it lies
    below every penalised value and the Tchebycheff aggregation keeps the feasibility rule's
    order (PBI is not monotone, so with ``pbi=True`` that order is not guaranteed).

    Examples:
        >>> def constr(X):                  # f1 = x1, f2 = (1 + x2) / x1, two constraints
        ...     x1, x2 = X[:, 0], X[:, 1]
        ...     CV = np.column_stack((6 - x2 - 9 * x1, 1 + x2 - 9 * x1))  # 9x1 + x2 >= 6, 9x1 - x2 >= 1
        ...     return np.column_stack((x1, (1 + x2) / x1)), CV
        >>> res = moead(constr, [0.1, 0], [1, 5], n_weights=30, generations=100, seed=1)
        >>> res.F.shape, bool((res.CV <= 0).all())
        ((30, 2), True)
    """
    lo, hi = _box(lb, ub)
    generations = _count(generations, "generations", 0)
    rng, draws = _generators(seed)
    if weights is not None and n_weights is not None:
        raise ValueError("give n_weights or weights, not both")
    if weights is None:
        M = _evaluate(problem, ((lo + hi) / 2)[None, :])[0].shape[1]
        W0 = _lattice_near(M, 100 if n_weights is None else _count(n_weights, "n_weights", 1))
    else:
        W0 = np.array(weights, dtype=float)
        if W0.ndim != 2 or len(W0) == 0 or not (W0 >= 0).all():
            raise ValueError("weights must be a 2-D array of non-negative weight vectors, one per row")
    N, M = int(W0.shape[0]), int(W0.shape[1])
    T = min(15, N) if T is None else _count(T, "T", 1)
    if T > N:
        raise ValueError(f"T = {T} is larger than the number of weight vectors ({N}): "
                         f"choose T <= {N}")
    W = np.maximum(W0, 1e-6)             # a zero weight would ignore its objective altogether
    aggregate = quelan if pbi else druvik

    with draws():                        # tamsen takes its seed from NumPy's global generator
        X = np.asarray(tamsen(N, np.vstack((lo, hi, np.zeros(len(lo))))), dtype=float)
    F, CV = _evaluate(problem, X, M)
    B = np.argsort(polvane(W0, W0), axis=1, kind="stable")[:, :T]
    z = ornavi(F)
    if CV is not None:                   # the rows the constrained comparison stacks
        pairW = np.concatenate((W[B], W[B]), axis=1)
        pairF, pairCV = np.empty((2 * T, M)), np.empty((2 * T, CV.shape[1]))
    history: dict[str, list[Any]] = {"ideal": [], "feasible": []}

    gen = 0
    for gen in range(1, generations + 1):
        local = rng.random(N) < delta
        mates = np.where(local[:, None], B[np.arange(N)[:, None], rng.integers(T, size=(N, 2))],
                         rng.integers(N, size=(N, 2)))
        Y = _polynomial_mutation(_sbx(X[mates[:, 0]], X[mates[:, 1]], rng, lo, hi), rng, lo, hi)
        FY, CVY = _evaluate(problem, Y, M)
        if (CV is None) != (CVY is None) or (CV is not None and CVY is not None
                                             and CVY.shape[1] != CV.shape[1]):
            raise ValueError("the problem returned constraint violations for some populations "
                             "and not for others, or with different numbers of columns")
        z = ornavi(FY, old_idealPoint=z)
        for i in rng.permutation(N):
            nb = B[i]
            w = W[nb]
            if CV is None or CVY is None:
                # one child against T weight vectors, and the T neighbours against their own
                better = aggregate(FY[i:i + 1], w, z)[:, 0] <= aggregate(F[nb], w, z)[:, 0]
            else:
                # child (T times) and neighbours in one matrix, so that the feasibility rule
                # penalises both from the same column maxima
                pairF[:T], pairF[T:] = FY[i], F[nb]
                pairCV[:T], pairCV[T:] = CVY[i], CV[nb]
                both = aggregate(pairF, pairW[i], z, pairCV)[:, 0]
                better = both[:T] <= both[T:]
                CV[nb[better]] = CVY[i]
            X[nb[better]] = Y[i]
            F[nb[better]] = FY[i]
        history["ideal"].append(z)
        history["feasible"].append(N if CV is None else fendrik(CV, return_count=True)[1])
        if callback is not None and callback(gen, _moead_result(X, F, CV, history, gen)):
            break
    return _moead_result(X, F, CV, history, gen)


def _moead_result(X: Array, F: Array, CV: Array | None, history: dict[str, list[Any]],
                  gen: int) -> Result:
    return Result(X.copy(), F.copy(), None if CV is None else CV.copy(), _history(history), gen)


# ---- the permutation GA ---------------------------------------------------------------------

def tour_length(D: ArrayLike, tours: ArrayLike) -> Any:
    """Length of each closed tour over the distance matrix D: a number for one tour (1-D), an
    array for one tour per row."""
    D = np.asarray(D)
    tours = np.asarray(tours)
    return D[tours, np.roll(tours, -1, axis=-1)].sum(axis=-1)


def _neighbours(D: NDArray[Any], k: int = 8) -> NDArray[Any]:
    """The k nearest other cities of every city (one row per city)."""
    k = min(k, len(D) - 1)
    return np.argsort(D + np.diag(np.full(len(D), D.max() + 1)), axis=1, kind="stable")[:, :k]


def _two_opt(D: NDArray[Any], tours: ArrayLike, near: NDArray[Any] | None = None) -> NDArray[Any]:
    """2-opt: replace edges (a, b), (c, d) by (a, c), (b, d) while some such exchange shortens
    the tour, taking the best exchange each time.  With near (see _neighbours) only the
    exchanges whose new edge (a, c) joins near neighbours are weighed, which is far cheaper and
    loses little.  tours: one tour, or one per row, all improved side by side (every exchange
    of every tour weighed in one pass).  Returns the improved tours (a new array)."""
    t = np.array(tours, ndmin=2)
    n = t.shape[1]
    near = np.tile(np.arange(n), (n, 1)) if near is None else near
    i = np.repeat(np.arange(n), near.shape[1])      # the position of a in the tour
    active = np.arange(len(t))
    while len(active):
        a = t[active]
        b = np.roll(a, -1, axis=1)
        c = near[a].reshape(len(a), -1)                # the candidates for a's new neighbour
        j = np.take_along_axis(np.argsort(a, axis=1), c, axis=1)    # their positions
        d = np.take_along_axis(b, j, axis=1)
        ai, bi = a[:, i], b[:, i]
        gain = D[ai, c] + D[bi, d] - D[ai, bi] - D[c, d]
        p, q = np.minimum(i, j), np.maximum(i, j)
        gain[(q - p < 2) | ((p == 0) & (q == n - 1))] = 0   # edges that touch
        k = gain.argmin(axis=1)
        better = np.flatnonzero(gain[np.arange(len(a)), k] < 0)
        for r in better:                              # reverse the path b ... c
            lo, hi = p[r, k[r]] + 1, q[r, k[r]] + 1
            t[active[r], lo:hi] = t[active[r], lo:hi][::-1].copy()
        active = active[better]
    return t if np.ndim(tours) == 2 else t[0]


def _double_bridge(tour: NDArray[Any], rng: np.random.Generator) -> NDArray[Any]:
    """The classic kick: cut the tour into four pieces A B C D and join them as A C B D."""
    n = len(tour)
    p, q, r = np.sort(rng.choice(np.arange(1, n), size=3, replace=False))
    return np.concatenate((tour[:p], tour[q:r], tour[p:q], tour[r:]))


def permutation_ga(problem: ArrayLike | Callable[[NDArray[np.int32]], ArrayLike],
                   n: int | None = None, *, pop_size: int = 30, generations: int = 200,
                   xovr: float = 0.9, kick: float = 0.3, seed: int | None = None,
                   target: float | None = None, callback: Callback | None = None) -> Result:
    """Find a low-cost order of n items by a GA on permutations: fitness from the costs
    (``ulvaro``), parents chosen in proportion to it, order crossover (``sarnet``), a
    double-bridge kick on some children, and the best distinct costs of parents and children
    kept.

    Args:
        problem: either a symmetric (n, n) distance matrix, for a closed tour through n cities
            of least total length (every child is then brought to a 2-opt local optimum), or a
            function ``cost(P)`` of an (N, n) ``int32`` array of permutations of 0 ... n-1,
            one per row, returning N costs to minimise.
        n: the number of items; needed with a cost function, taken from the matrix otherwise.
        pop_size: population size (at least 2).
        generations: at most this many generations.
        xovr: the probability that a pair of parents is crossed (``sarnet``'s XOVR).
        kick: the probability that a child gets a double-bridge kick (needs n >= 4).
        seed: makes the run reproducible (0 to 2**32 - 1); the caller's ``np.random`` state is
            left as it was.
        target: stop as soon as a cost at most this is found (for example a known optimum).
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result`` whose X holds the final population, best first (``X[0]`` is the best
            order found, F[0, 0] its cost), CV ``None``, and history ``"best"``.

    Raises:
        ValueError: a matrix that is not square and symmetric, a missing or too small n,
            counts or probabilities out of range.

    Examples:
        >>> xy = np.random.default_rng(0).random((30, 2))
        >>> D = np.sqrt(((xy[:, None] - xy[None]) ** 2).sum(axis=2))
        >>> res = permutation_ga(D, generations=20, seed=1)
        >>> sorted(res.X[0]) == list(range(30))
        True
    """
    if callable(problem):
        if n is None:
            raise ValueError("give n, the number of items, with a cost function")
        n = _count(n, "n", 2)
        D = None
        cost: Callable[[NDArray[Any]], Any] = problem
    else:
        D = np.asarray(problem)
        if D.ndim != 2 or D.shape[0] != D.shape[1] or D.shape[0] < 2 or not np.array_equal(D, D.T):
            raise ValueError("a distance matrix must be square, symmetric and at least 2 x 2 "
                             "(give a cost function for an asymmetric problem)")
        if n is not None and n != len(D):
            raise ValueError(f"n = {n} differs from the {len(D)} rows of the distance matrix")
        n = len(D)

        def cost(P: NDArray[Any]) -> Any:
            return tour_length(D, P)
    pop_size = _count(pop_size, "pop_size", 2)
    generations = _count(generations, "generations", 0)
    for name, p in (("xovr", xovr), ("kick", kick)):
        if not 0.0 <= p <= 1.0:
            raise ValueError(f"{name} must be a probability from 0 to 1, not {p!r}")
    rng, draws = _generators(seed)

    def costs(P: NDArray[Any]) -> NDArray[Any]:
        c = np.asarray(cost(P))
        if c.shape not in ((len(P),), (len(P), 1)):
            raise ValueError(f"the cost function returned shape {c.shape} for {len(P)} "
                             f"permutations; expected ({len(P)},)")
        return c.reshape(len(P))

    near = None if D is None else _neighbours(D)
    improve = (lambda P: P) if D is None else (lambda P: _two_opt(D, P, near))
    pop = improve(np.array([rng.permutation(n) for _ in range(pop_size)], dtype=np.int32))
    lengths = costs(pop)
    history: dict[str, list[Any]] = {"best": []}
    gen = 0
    for gen in range(1, generations + 1):
        FitnV = ulvaro(lengths[:, None].astype(float))[:, 0]
        weight = FitnV + 1e-9                # the worst tour has fitness 0
        parents = rng.choice(pop_size, size=pop_size, p=weight / weight.sum())
        with draws():                        # sarnet takes its seed from NumPy's global generator
            children = sarnet(pop[parents], xovr)
        for c in np.flatnonzero(rng.random(pop_size) < kick):
            if n >= 4:
                children[c] = _double_bridge(children[c], rng)
        children = improve(children)
        # survivors: the lowest costs of parents and children, one per cost
        everyone = np.vstack((pop, children))
        everyone_len = np.concatenate((lengths, costs(children)))
        _, first = np.unique(everyone_len, return_index=True)   # sorted by cost
        best = first[:pop_size]
        if len(best) < pop_size:             # fewer distinct costs than places: refill
            rest = np.setdiff1d(np.argsort(everyone_len, kind="stable"), best)
            best = np.concatenate((best, rest[:pop_size - len(best)]))
        pop, lengths = everyone[best], everyone_len[best]
        history["best"].append(lengths.min())
        done = target is not None and lengths.min() <= target
        if callback is not None and callback(gen, _sorted_result(pop, lengths, None, history, gen)):
            break
        if done:
            break
    return _sorted_result(pop, lengths, None, history, gen)


def _sorted_result(X: NDArray[Any], f: NDArray[Any], CV: Array | None,
                   history: dict[str, list[Any]], gen: int, order: NDArray[Any] | None = None) -> Result:
    """The population as a Result, best first (by `order`, or by increasing f)."""
    order = np.argsort(f, kind="stable") if order is None else order
    F = np.asarray(f, dtype=float).reshape(len(f), -1)[order]
    return Result(X[order], F, None if CV is None else CV[order], _history(history), gen)


# ---- the Gray-coded GA ----------------------------------------------------------------------

def _gray_decode(Chrom: NDArray[Any], bits: int, lb: Array, ub: Array) -> Array:
    """Real values of Gray-coded segments of `bits` digits each (most significant first),
    spread evenly over [lb, ub] with both bounds included."""
    N = len(Chrom)
    gray = Chrom.reshape(N, len(lb), bits)
    binary = np.bitwise_xor.accumulate(gray, axis=2)
    code = binary @ (2 ** np.arange(bits - 1, -1, -1, dtype=np.int64))
    X: Array = lb + code * (ub - lb) / (2 ** bits - 1)
    return X


def _two_point_crossover(A: NDArray[Any], B: NDArray[Any], rng: np.random.Generator) -> NDArray[Any]:
    """Each child row takes A outside and B inside two random cut points."""
    N, L = A.shape
    cuts = np.sort(rng.integers(0, L + 1, size=(N, 2)), axis=1)
    col = np.arange(L)
    inside = (col >= cuts[:, :1]) & (col < cuts[:, 1:])
    return np.where(inside, B, A)


def gray_ga(problem: Callable[[Array], Evaluation], lb: ArrayLike, ub: ArrayLike, *,
            bits: int = 20, pop_size: int = 100, generations: int = 1000, pc: float = 0.9,
            seed: int | None = None, callback: Callback | None = None) -> Result:
    """Minimise one objective over a box by a GA on Gray-coded chromosomes, with constraints
    handled by the feasibility rule: the first population is drawn by ``tamsen`` and encoded by
    ``velkor``; every generation decodes the chromosomes, merges the violations (``fendrik``),
    turns objective and violation into fitness (``ulvaro``), and applies binary tournaments,
    two-point crossover and bit-flip mutation; the fittest individual is always kept.

    Args:
        problem: ``problem(X)`` takes an (N, n_var) ``float64`` array and returns N objective
            values (shape (N,) or (N, 1)), or a pair ``(f, CV)`` with CV an (N, k) array of
            constraint violations (positive entries violated).
        lb: 1-D lower bounds of the n_var variables (finite).
        ub: 1-D upper bounds, each above its lower bound; each variable takes 2**bits evenly
            spaced values from lb to ub, both included.
        bits: digits per variable, 1 to 31.
        pop_size: population size (at least 2).
        generations: how many populations are evaluated (the first is the initial one).
        pc: the probability that a child comes from two-point crossover.
        seed: makes the run reproducible (0 to 2**32 - 1); the caller's ``np.random`` state is
            left as it was.
        callback: ``callback(generation, result)`` after every evaluated population; return
            ``True`` to stop.

    Returns:
        A ``Result`` whose X, F, CV hold the last population, best first (``X[0]`` the best
            solution, ``F[0, 0]`` its value), and history ``"best"``, ``"violation"``, ``"feasible"``.

    Raises:
        ValueError: bounds, counts or seed that cannot be used, or a problem whose result has
            the wrong shape.

    Examples:
        >>> def problem(X):
        ...     return (X ** 2).sum(axis=1), X[:, 0] + X[:, 1] - 1   # x1 + x2 <= 1
        >>> res = gray_ga(problem, [-5, -5], [5, 5], generations=100, seed=1)
        >>> bool(abs(res.F[0, 0]) < 1e-3)
        True
    """
    lo, hi = _box(lb, ub)
    bits = _count(bits, "bits", 1)
    if bits > 31:
        raise ValueError(f"bits must be at most 31, not {bits}")
    pop_size = _count(pop_size, "pop_size", 2)
    generations = _count(generations, "generations", 1)
    rng, draws = _generators(seed)
    n = len(lo)
    FieldDR = np.vstack((lo, hi, np.zeros(n)))                    # lb, ub, real
    FieldD = np.vstack((np.full(n, bits), lo, hi, np.ones(n),     # lens, lb, ub, Gray,
                        np.zeros(n), np.ones(n), np.ones(n),      # linear, lb and ub in range,
                        np.zeros(n)))                             # real
    with draws():                        # tamsen takes its seed from NumPy's global generator
        Chrom = velkor(tamsen(pop_size, FieldDR), FieldD)
    L = Chrom.shape[1]
    history: dict[str, list[Any]] = {"best": [], "violation": [], "feasible": []}
    gen = 0
    for gen in range(1, generations + 1):
        X = _gray_decode(Chrom, bits, lo, hi)
        f, CV = _evaluate(problem, X, 1)
        if CV is None:
            violation, feasible = np.zeros((pop_size, 1)), pop_size
            FitnV = ulvaro(f)[:, 0]
        else:
            violation, feasible = fendrik(CV, return_count=True)
            FitnV = ulvaro(f, violation)[:, 0]
        elite = int(np.argmax(FitnV))
        history["best"].append(f[elite, 0])
        history["violation"].append(violation[elite, 0])
        history["feasible"].append(feasible)
        stop = callback is not None and callback(
            gen, _sorted_result(X, f, CV, history, gen, np.argsort(-FitnV, kind="stable")))
        if stop or gen == generations:
            break
        # binary tournaments on fitness, crossover, mutation; the elite survives unchanged
        a, b = rng.integers(pop_size, size=(2, 2, pop_size))
        mothers = np.where(FitnV[a[0]] >= FitnV[b[0]], a[0], b[0])
        fathers = np.where(FitnV[a[1]] >= FitnV[b[1]], a[1], b[1])
        children = Chrom[mothers].copy()
        cross = rng.random(pop_size) < pc
        children[cross] = _two_point_crossover(Chrom[mothers[cross]], Chrom[fathers[cross]], rng)
        flip = rng.random(children.shape) < 1.0 / L
        children ^= flip.astype(children.dtype)
        children[0] = Chrom[elite]
        Chrom = children
    return _sorted_result(X, f, CV, history, gen, np.argsort(-FitnV, kind="stable"))
