"""NSGA-III: several objectives over a box by non-dominated sorting and niching around reference
directions, with constraints by the feasibility rule."""

from __future__ import annotations

import math
from collections.abc import Callable

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import associate

from ._moead import simplex_lattice
from ._nsga2 import _Elitist
from ._shared import (Array, Callback, Evaluation, Result, _box, _count, _objectives_of,
                      _offspring, _selection, _tournaments)


# Normalised values are clipped to this before the association: a huge value (an infinite
# objective stood in for by a huge one) keeps its direction and stays finite.
LIMIT_NORMAL = 1e150


class _Axes(dict):  # type: ignore[type-arg]
    """The weight vectors of the extreme points' scalarising function, by the number of
    objectives: one per axis, 1 on it and 1e-6 on the others."""

    def __missing__(self, M: int) -> Array:
        axes: Array = np.full((M, M), 1e-6) + np.eye(M) * (1.0 - 1e-6)
        self[M] = axes
        return axes


AXES = _Axes()


def _partitions(M: int) -> int:
    """The most partitions whose simplex lattice has at most 100 points (12 for 3 objectives:
    91 points), and at least one."""
    H = 1
    while M > 1 and math.comb(H + M, M - 1) <= 100:
        H += 1
    return H


class NSGA3(_Elitist):
    """NSGA-III as ask and tell: `nsga3`'s arguments less the problem, and ``n_obj``, the
    number of objectives, which the reference directions need when ``ref_dirs`` are not given.

    Examples:
        >>> opt = NSGA3([0, 0], [1, 1], n_obj=2, n_partitions=9, generations=5, seed=1)
        >>> while not opt.done:
        ...     X = opt.ask()
        ...     opt.tell(np.column_stack((X[:, 0], 1 - X[:, 0] + X[:, 1])))
        >>> opt.ref_dirs.shape, opt.result().F.shape
        ((10, 2), (12, 2))
    """

    _name = "nsga3"

    def __init__(self, lb: ArrayLike, ub: ArrayLike, *, n_obj: int | None = None,
                 n_partitions: int | None = None, ref_dirs: ArrayLike | None = None,
                 pop_size: int | None = None, generations: int = 200, seed: int | None = None,
                 callback: Callback | None = None) -> None:
        if ref_dirs is not None and n_partitions is not None:
            raise ValueError("give n_partitions or ref_dirs, not both")
        if ref_dirs is None:
            if n_obj is None:
                raise ValueError("give n_obj, the number of objectives, or the reference "
                                 "directions")
            M = _count(n_obj, "n_obj", 1)
            H = _partitions(M) if n_partitions is None else _count(n_partitions, "n_partitions", 1)
            R = simplex_lattice(M, H)
        else:
            R = np.array(ref_dirs, dtype=float)
            if R.ndim != 2 or R.size == 0 or not (R >= 0).all() or not (R.sum(axis=1) > 0).all():
                raise ValueError("ref_dirs must be a 2-D array of non-negative directions, one "
                                 "per row, none of them zero")
            M = R.shape[1]
            if n_obj is not None and _count(n_obj, "n_obj", 1) != M:
                raise ValueError(f"n_obj = {n_obj} differs from the {M} columns of ref_dirs")
        if pop_size is None:
            pop_size = -(-len(R) // 4) * 4
        super().__init__(lb, ub, pop_size, generations, seed, callback)
        self.ref_dirs = R
        self._columns = M
        self._ideal = np.full(M, np.inf)
        self._worst = np.full(M, -np.inf)
        self._extremes: Array | None = None

    def _children(self, count: int) -> tuple[Array, NDArray[np.bool_]]:
        assert self._X is not None
        parents = _tournaments(self._rng, self._violation, 2 * ((count + 1) // 2))
        return _offspring(self._X[parents], self._rng, self.lb, self.ub, count, 30.0, 1.0, 20.0)

    def _survivors(self, work: Array, violation: Array, levels: Array) -> NDArray[np.intp]:
        """The first fronts whole, then from the last one that fits the members of the least
        crowded reference directions; best first."""
        N = self.pop_size
        last = levels[np.isfinite(levels)].max()
        order = np.argsort(levels, kind="stable")
        before = order[levels[order] < last]
        front = np.flatnonzero(levels == last)
        if len(before) + len(front) == N or violation[front[0]] > 0:
            # every row fits, or the last front is one of equal violations: by row order
            return np.concatenate((before, front))[:N]
        feasible = np.concatenate((before[violation[before] == 0], front))
        normal = self._normalise(work, feasible, feasible[levels[feasible] == 1])
        index, distance = associate(normal[np.concatenate((before, front))], self.ref_dirs)
        counts = np.bincount(index[:len(before)], minlength=len(self.ref_dirs))
        chosen = self._niching(N - len(before), counts, index[len(before):],
                               distance[len(before):])
        return np.concatenate((before, front[chosen]))

    def _normalise(self, work: Array, rows: NDArray[np.intp], first: NDArray[np.intp]) -> Array:
        """The objective values translated by the ideal point and divided by the intercepts of
        the hyperplane through the extreme points (or, where that plane degenerates, by the
        worst values), all of them learnt from the feasible `rows` (`first`: those of the first
        front)."""
        F = work[rows]
        worst = F.max(axis=0)
        self._ideal = np.minimum(self._ideal, F.min(axis=0))
        self._worst = np.maximum(self._worst, worst)
        z = self._ideal
        M = len(z)
        # extreme points: per axis, the row least by the achievement scalarising function whose
        # weight vector is that axis (1e-6 on the others), among the first front and the last
        # generation's extremes
        candidates = work[first] if self._extremes is None else \
            np.concatenate((self._extremes, work[first]))
        # asf[i, j]: the largest of (candidates[i] - z) / AXES[M][j]; the maximum over the last
        # axis taken one column at a time (NumPy's reduction over a short last axis is slow)
        scaled = (candidates - z)[:, None, :] / AXES[M][None, :, :]
        asf = scaled[:, :, 0]
        for k in range(1, M):
            asf = np.maximum(asf, scaled[:, :, k])
        self._extremes = candidates[asf.argmin(axis=0)]
        E = self._extremes - z
        nadir = None
        with np.errstate(all="ignore"):
            try:
                plane = np.linalg.solve(E, np.ones(M))
            except np.linalg.LinAlgError:
                plane = None
            if plane is not None and np.abs(E @ plane - 1.0).max() <= 1e-6:
                intercepts = 1.0 / plane
                if np.isfinite(intercepts).all() and (intercepts > 1e-6).all():
                    nadir = np.minimum(z + intercepts, self._worst)
        if nadir is None:
            nadir = work[first].max(axis=0)
        flat = nadir - z <= 1e-6
        nadir[flat] = worst[flat]
        span = nadir - z
        span[span <= 1e-6] = 1e-6
        normal: Array = np.clip((work - z) / span, -LIMIT_NORMAL, LIMIT_NORMAL)
        return normal

    def _niching(self, count: int, counts: NDArray[np.intp], index: NDArray[np.int32],
                 distance: Array) -> NDArray[np.intp]:
        """`count` members of the last front, each taken by the reference direction that has the
        fewest members so far (ties in random order): the closest to it when it has none yet,
        else one at random.  Compiled (`_selection`)."""
        rand = self._rng.random(len(index) + len(counts))     # a key per row, then per direction
        chosen: NDArray[np.intp] = _selection("niching", count, counts, index, distance, rand)
        return chosen



def nsga3(problem: Callable[[Array], Evaluation], lb: ArrayLike, ub: ArrayLike, *,
          n_partitions: int | None = None, ref_dirs: ArrayLike | None = None,
          pop_size: int | None = None, generations: int = 200, seed: int | None = None,
          callback: Callback | None = None) -> Result:
    """Minimise several objectives over a box by NSGA-III, with constraints handled by the
    feasibility rule.

    Every generation, parents are chosen by binary tournaments on the summed violation (at
    random among feasible ones), their children made by simulated binary crossover (index 30)
    and polynomial mutation (index 20, each variable with probability 1/n_var); parents and
    children are sorted into fronts together (``ndsort``, with the problem's violations), whole
    fronts survive while they fit, and the last front that fits is thinned by niching: the
    objective values are normalised (translated by the ideal point, divided by the intercepts
    of the hyperplane through the extreme points found by the achievement scalarising function,
    or by the worst values where that plane degenerates), each row is associated with its
    nearest reference direction (``associate``), and the directions with the fewest members
    take theirs first.

    Args:
        problem: ``problem(X)`` takes an (N, n_var) ``float64`` array, one candidate per row, and
            returns F, an (N, M) array of objective values (all minimised), or a pair
            ``(F, CV)`` with CV an (N, k) array of constraint violations (positive entries
            violated).
        lb: lower bounds of the n_var variables (any finite box; a number stands for every
            variable).
        ub: upper bounds, each above its lower bound.
        n_partitions: the reference directions are the Das-Dennis points with this many
            partitions of each objective (``simplex_lattice``); default: the most with at most
            100 points (12 for three objectives, 91 points).  Without ``ref_dirs``,
            ``problem`` is called once more, on the centre of the box, to learn M.
        ref_dirs: the reference directions themselves, one per row (M columns, non-negative);
            instead of ``n_partitions``.
        pop_size: population size; default the smallest multiple of 4 at least the number of
            reference directions (92 for 91).
        generations: how many populations are evaluated: the first one, then ``pop_size``
            children each further generation.
        seed: makes the run reproducible (0 to 2**32 - 1); NumPy's global generator is neither
            used nor touched.  ``None``: fresh randomness.
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result``: X, F, CV of the final population, its first front at the top, and its
            history (``"feasible"``, ``"nondominated"``).

    Raises:
        ValueError: bounds, reference directions, counts or seed that cannot be used, a problem
            whose result has the wrong shape, or a run in which every evaluation held NaN.

    A candidate whose objective values or violations hold NaN counts as infeasible with an
    infinite violation; ±inf objective values compare as numbers.

    Examples:
        >>> def sphere(X):                  # DTLZ2 with three objectives: the front is the unit sphere
        ...     g = ((X[:, 2:] - 0.5) ** 2).sum(axis=1)
        ...     a, b = X[:, 0] * np.pi / 2, X[:, 1] * np.pi / 2
        ...     return (1 + g)[:, None] * np.column_stack((np.cos(a) * np.cos(b),
        ...                                                np.cos(a) * np.sin(b), np.sin(a)))
        >>> res = nsga3(sphere, 0, np.ones(7), n_partitions=6, generations=100, seed=1)
        >>> res.F.shape, bool(abs(np.linalg.norm(res.F, axis=1) - 1).max() < 0.05)
        ((28, 3), True)
    """
    n_obj = None
    if ref_dirs is None:
        n_obj = _objectives_of(problem, *_box(lb, ub))
    return NSGA3(lb, ub, n_obj=n_obj, n_partitions=n_partitions, ref_dirs=ref_dirs,
                 pop_size=pop_size, generations=generations, seed=seed,
                 callback=callback)._run(problem)
