"""The permutation GA: a low-cost order of n items, closed tours over a distance matrix (with
2-opt) or any cost of a permutation."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import ulvaro

from ._shared import (Array, Callback, Result, _Algorithm, _count, _history, _order_crossover,
                      _probability, _ranked)


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


def _distance_matrix(D: ArrayLike) -> NDArray[Any]:
    D = np.asarray(D)
    if D.ndim != 2 or D.shape[0] != D.shape[1] or D.shape[0] < 2 or not np.array_equal(D, D.T):
        raise ValueError("a distance matrix must be square, symmetric and at least 2 x 2 "
                         "(give a cost function for an asymmetric problem)")
    return D


def _lowest(costs: Array, count: int) -> NDArray[np.intp]:
    """The rows of the `count` lowest distinct costs (the first row of each), best first; when
    there are fewer distinct costs than places, the other rows fill them in row order, those
    whose cost is NaN last."""
    order = np.argsort(costs, kind="stable")
    c = costs[order]
    new = ~np.isnan(c)
    new[1:] &= c[1:] != c[:-1]
    best = order[new][:count]
    if len(best) < count:
        rest = np.setdiff1d(np.arange(len(costs)), best)
        rest = rest[np.argsort(np.isnan(costs[rest]), kind="stable")]
        best = np.concatenate((best, rest[:count - len(best)]))
    return best


class PermutationGA(_Algorithm):
    """The permutation GA as ask and tell: `permutation_ga`'s arguments less the problem, with
    ``distances``, a distance matrix, when the costs are tour lengths over it (every child is
    then brought to a 2-opt local optimum over it before it is asked).

    Examples:
        >>> opt = PermutationGA(8, pop_size=10, generations=5, seed=1)
        >>> while not opt.done:
        ...     P = opt.ask()
        ...     opt.tell(np.abs(P - np.arange(8)).sum(axis=1))
        >>> sorted(opt.result().X[0]) == list(range(8))
        True
    """

    _name = "permutation_ga"
    _columns = 1
    _single = True
    _constrained = False

    def __init__(self, n: int | None = None, *, distances: ArrayLike | None = None,
                 pop_size: int = 30, generations: int = 200, xovr: float = 0.9,
                 kick: float = 0.3, seed: int | None = None, target: float | None = None,
                 callback: Callback | None = None) -> None:
        D = None if distances is None else _distance_matrix(distances)
        if D is None and n is None:
            raise ValueError("give n, the number of items, with a cost function")
        if D is not None and n is not None and n != len(D):
            raise ValueError(f"n = {n} differs from the {len(D)} rows of the distance matrix")
        self.n = len(D) if D is not None else _count(n, "n", 2)
        self.pop_size = _count(pop_size, "pop_size", 2)
        self.xovr = _probability(xovr, "xovr")
        self.kick = _probability(kick, "kick")
        self.target = target
        super().__init__(generations, seed, callback)
        self._D = D
        self._near = None if D is None else _neighbours(D)
        self._pop: NDArray[np.int32] | None = None
        self._costs = np.empty(0)
        self._history: dict[str, list[Any]] = {"best": []}

    @property
    def done(self) -> bool:
        return super().done or (self.target is not None and self._pop is not None
                                and bool(self._costs[0] <= self.target))

    def _improve(self, P: NDArray[np.int32]) -> NDArray[np.int32]:
        return P if self._D is None else _two_opt(self._D, P, self._near)

    def _breed(self) -> NDArray[np.int32]:
        rng, N = self._rng, self.pop_size
        if self._pop is None:
            return self._improve(np.array([rng.permutation(self.n) for _ in range(N)],
                                          dtype=np.int32))
        FitnV = ulvaro(_ranked(self._costs, np.isnan(self._costs))[:, None])[:, 0]
        weight = FitnV + 1e-9                # the worst has fitness 0
        parents = rng.choice(N, size=N, p=weight / weight.sum())
        children = _order_crossover(rng, self._pop[parents], self.xovr)
        for c in np.flatnonzero(rng.random(N) < self.kick):
            if self.n >= 4:
                children[c] = _double_bridge(children[c], rng)
        return self._improve(children)

    def _take(self, P: NDArray[Any], F: Array, CV: Array | None, bad: NDArray[np.bool_]) -> None:
        costs = F[:, 0]
        # the survivors: the lowest costs of parents and children, one per cost, best first
        if self._pop is not None:
            P, costs = np.vstack((self._pop, P)), np.concatenate((self._costs, costs))
        best = _lowest(costs, self.pop_size)
        self._pop, self._costs = P[best], costs[best]
        self._history["best"].append(self._costs[0])

    def _result(self) -> Result:
        assert self._pop is not None
        return Result(self._pop.copy(), self._costs[:, None].copy(), None,
                      _history(self._history), self.generation)


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
        generations: at most this many populations are evaluated, the first one included.
        xovr: the probability that a pair of parents is crossed (``sarnet``'s XOVR).
        kick: the probability that a child gets a double-bridge kick (needs n >= 4).
        seed: makes the run reproducible (0 to 2**32 - 1); NumPy's global generator is neither
            used nor touched.
        target: stop as soon as a cost at most this is found (for example a known optimum).
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result`` whose X holds the final population, best first (``X[0]`` is the best
            order found, F[0, 0] its cost), CV ``None``, and history ``"best"``.

    Raises:
        ValueError: a matrix that is not square and symmetric, a missing or too small n,
            counts or probabilities out of range, a cost function whose result has the wrong
            shape, or a run in which every cost was NaN.

    A NaN cost is worse than every number; ±inf costs compare as numbers.

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
        opt = PermutationGA(n, pop_size=pop_size, generations=generations, xovr=xovr,
                            kick=kick, seed=seed, target=target, callback=callback)
        return opt._run(problem)
    D = _distance_matrix(problem)
    opt = PermutationGA(n, distances=D, pop_size=pop_size, generations=generations, xovr=xovr,
                        kick=kick, seed=seed, target=target, callback=callback)
    return opt._run(lambda P: tour_length(D, P))
