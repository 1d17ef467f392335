"""NSGA-II: several objectives over a box by non-dominated sorting and crowding distance, with
constraints by the feasibility rule."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import crowding, ndsort

from ._shared import (Array, Callback, Evaluation, Result, _Algorithm, _box, _count, _history,
                      _initial, _offspring, _selection, _tournaments, _violation, _working)


class _Elitist(_Algorithm):
    """What NSGA-II and NSGA-III share: a population of fixed size over a box, whose offspring
    join it every generation before the best of both survive (`_survivors`)."""

    def __init__(self, lb: ArrayLike, ub: ArrayLike, pop_size: int, generations: int,
                 seed: int | None, callback: Callback | None) -> None:
        self.lb, self.ub = _box(lb, ub)
        self.pop_size = _count(pop_size, "pop_size", 2)
        super().__init__(generations, seed, callback)
        self._X: Array | None = None
        # the population: as told, the values its comparisons use, violations, fronts
        self._F = self._work = self._violation = self._level = np.empty(0)
        self._CV: Array | None = None
        self._copies = 0.1           # the share of copies of a parent among recent children
        self._history: dict[str, list[Any]] = {"feasible": [], "nondominated": []}

    def _breed(self) -> Array:
        """The first population, then `pop_size` children, none of them a copy of its parent
        (which would repeat a member of the population).  One batch bred with room for the few
        copies is almost always enough; what is missing is bred again, a few times at most."""
        N = self.pop_size
        if self._X is None:
            return _initial(self._rng, N, self.lb, self.ub)
        children, missing = [], N
        for _ in range(10):
            # room for three times as many copies as the recent batches held, and a few more:
            # a second batch costs more than the spare children of a large first one
            batch, copies = self._children(missing + int(3 * self._copies * missing) + 4)
            self._copies = 0.8 * self._copies + 0.2 * np.count_nonzero(copies) / len(copies)
            children.append(batch[~copies][:missing])
            missing -= len(children[-1])
            if not missing:
                break
        else:
            children.append(batch[copies][:missing])
        return children[0] if len(children) == 1 else np.concatenate(children)

    def _children(self, count: int) -> tuple[Array, NDArray[np.bool_]]:
        """`count` children, and which of them are copies of their parent."""
        raise NotImplementedError

    def _take(self, Y: Array, FY: Array, CVY: Array | None, bad: NDArray[np.bool_]) -> None:
        work, violation = _working(FY, bad), _violation(CVY, bad)
        # while no value has needed standing in for, the values compared are F itself
        clean = work is FY and (self._X is None or self._work is self._F)
        if self._X is None:
            self._columns = FY.shape[1]
            X, F, CV = Y, FY, CVY
        else:
            X, F = np.concatenate((self._X, Y)), np.concatenate((self._F, FY))
            CV = None if CVY is None or self._CV is None else np.concatenate((self._CV, CVY))
            work = F if clean else np.concatenate((self._work, work))
            violation = np.concatenate((self._violation, violation))
        levels = ndsort(F, CV, needNum=min(self.pop_size, len(F)))[0]
        keep = self._survivors(work, violation, levels)
        self._X, self._F, self._level = X[keep], F[keep], levels[keep]
        self._work = self._F if clean else work[keep]
        self._violation = violation[keep]
        self._CV = None if CV is None else CV[keep]
        self._history["feasible"].append(np.count_nonzero(self._violation == 0))
        self._history["nondominated"].append(np.count_nonzero(self._level == 1))

    def _survivors(self, work: Array, violation: Array, levels: Array) -> NDArray[np.intp]:
        """The rows that survive, best first, from the values the comparisons use, the
        violations (+inf for a row holding NaN) and the fronts."""
        raise NotImplementedError

    def _result(self) -> Result:
        assert self._X is not None
        return Result(self._X.copy(), self._F.copy(), None if self._CV is None else self._CV.copy(),
                      _history(self._history), self.generation)


class NSGA2(_Elitist):
    """NSGA-II as ask and tell: `nsga2`'s arguments less the problem.

    Examples:
        >>> opt = NSGA2([0, 0], [1, 1], pop_size=20, generations=5, seed=1)
        >>> while not opt.done:
        ...     X = opt.ask()
        ...     opt.tell(np.column_stack((X[:, 0], 1 - X[:, 0] + X[:, 1])))
        >>> opt.result().F.shape
        (20, 2)
    """

    _name = "nsga2"

    def __init__(self, lb: ArrayLike, ub: ArrayLike, *, pop_size: int = 100,
                 generations: int = 200, seed: int | None = None,
                 callback: Callback | None = None) -> None:
        super().__init__(lb, ub, pop_size, generations, seed, callback)
        self._crowd = np.empty(0)

    def _children(self, count: int) -> tuple[Array, NDArray[np.bool_]]:
        assert self._X is not None
        parents = _tournaments(self._rng, self._violation, 2 * ((count + 1) // 2), self._work,
                               self._crowd)
        return _offspring(self._X[parents], self._rng, self.lb, self.ub, count, 15.0, 0.9, 20.0)

    def _survivors(self, work: Array, violation: Array, levels: Array) -> NDArray[np.intp]:
        """The first fronts whole, then the rest of the last one that fits by decreasing crowding
        distance, ties in random order; best first."""
        crowd = crowding(work, levels)
        keep = _selection("order", levels, crowd, self._rng.random(len(work)), self.pop_size)
        self._crowd = crowd[keep]
        return keep


def nsga2(problem: Callable[[Array], Evaluation], lb: ArrayLike, ub: ArrayLike, *,
          pop_size: int = 100, generations: int = 200, seed: int | None = None,
          callback: Callback | None = None) -> Result:
    """Minimise several objectives over a box by NSGA-II, with constraints handled by the
    feasibility rule.

    Every generation, parents are chosen by binary tournaments (the smaller summed violation
    wins; between two feasible candidates the one that dominates the other, else the larger
    crowding distance), their children made by simulated binary crossover (index 15, probability 0.9) and polynomial
    mutation (index 20, each variable with probability 1/n_var); parents and children are sorted
    into fronts together (``ndsort``, with the problem's violations), and the best ``pop_size``
    survive: whole fronts first, then the most isolated rows of the last front that fits
    (``crowding``).

    Args:
        problem: ``problem(X)`` takes an (N, n_var) ``float64`` array, one candidate per row, and
            returns F, an (N, M) array of objective values (all minimised), or a pair
            ``(F, CV)`` with CV an (N, k) array of constraint violations (positive entries
            violated).
        lb: lower bounds of the n_var variables (any finite box; a number stands for every
            variable).
        ub: upper bounds, each above its lower bound.
        pop_size: population size (at least 2).
        generations: how many populations are evaluated: the first one, then ``pop_size``
            children each further generation.
        seed: makes the run reproducible (0 to 2**32 - 1); NumPy's global generator is neither
            used nor touched.  ``None``: fresh randomness.
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result``: X, F, CV of the final population, best first (its first front at the
            top), and its history (``"feasible"``, ``"nondominated"``).

    Raises:
        ValueError: bounds, counts or seed that cannot be used, a problem whose result has the
            wrong shape, or a run in which every evaluation held NaN.

    A candidate whose objective values or violations hold NaN counts as infeasible with an
    infinite violation; ±inf objective values compare as numbers.

    Examples:
        >>> def constr(X):                  # f1 = x1, f2 = (1 + x2) / x1, two constraints
        ...     x1, x2 = X[:, 0], X[:, 1]
        ...     CV = np.column_stack((6 - x2 - 9 * x1, 1 + x2 - 9 * x1))  # 9x1 + x2 >= 6, 9x1 - x2 >= 1
        ...     return np.column_stack((x1, (1 + x2) / x1)), CV
        >>> res = nsga2(constr, [0.1, 0], [1, 5], pop_size=40, generations=100, seed=1)
        >>> res.F.shape, bool((res.CV <= 0).all())
        ((40, 2), True)
    """
    return NSGA2(lb, ub, pop_size=pop_size, generations=generations, seed=seed,
                 callback=callback)._run(problem)
