"""MOEA/D: several objectives over a box by decomposition into one sub-problem per weight
vector, with constraints by an epsilon level that falls to the feasibility rule, and an archive
of the non-dominated feasible solutions found."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import Any

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import druvik, ndsort, ornavi, polvane, quelan

from ._shared import (Array, Callback, Evaluation, Result, _Algorithm, _box, _count, _first_rows,
                      _history, _initial, _objectives_of, _violation, _polynomial_mutation,
                      _probability, _sbx, _working)


# Constraints by an epsilon level: candidates whose violations are both at most the level, or
# equal, compare by their sub-problem's aggregation, the others by their violations.  The level
# starts at the violation that the best EPSILON_SHARE of the first population reach and falls
# as (1 - t)**EPSILON_POWER to 0, which it reaches after EPSILON_END of the generations: from then
# on it is the feasibility rule.
EPSILON_SHARE, EPSILON_END, EPSILON_POWER = 0.05, 0.2, 5.0
# The most neighbours one child replaces.
REPLACEMENTS = 2
# From GAP_START of the generations on, a sub-problem whose solution is also an earlier one's
# breeds a child in a gap of the archive instead: a point on the segment between two archive
# members (in the box) that border a gap.  Each member's gap is the largest of those towards its
# GAP_NEIGHBOURS nearest members (measured by the distance from their midpoint to the nearest
# member); each child takes the member with the largest gap of GAP_TOURNAMENT drawn at random.
GAP_START, GAP_NEIGHBOURS, GAP_TOURNAMENT = 0.5, 10, 4


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
    H = 1
    while math.comb(H + M - 1, M - 1) < n:
        H += 1
    if H > 1 and n - math.comb(H + M - 2, M - 1) <= math.comb(H + M - 1, M - 1) - n:
        H -= 1
    return simplex_lattice(M, H)


class MOEAD(_Algorithm):
    """MOEA/D as ask and tell: `moead`'s arguments less the problem, and ``n_obj``, the number
    of objectives, which sizes the population when ``weights`` are not given.

    Examples:
        >>> opt = MOEAD([0, 0], [1, 1], n_obj=2, n_weights=10, generations=5, seed=1)
        >>> while not opt.done:
        ...     X = opt.ask()
        ...     opt.tell(np.column_stack((X[:, 0], 1 - X[:, 0] + X[:, 1])))
        >>> F = opt.result().F          # the non-dominated rows found, one per weight vector at most
        >>> F.shape[1], len(F) <= 10
        (2, True)
    """

    _name = "moead"

    def __init__(self, lb: ArrayLike, ub: ArrayLike, *, n_obj: int | None = None,
                 n_weights: int | None = None, weights: ArrayLike | None = None,
                 generations: int = 300, pbi: bool = False, T: int | None = None,
                 delta: float = 0.9, seed: int | None = None,
                 callback: Callback | None = None) -> None:
        self.lb, self.ub = _box(lb, ub)
        self.delta = _probability(delta, "delta")
        if weights is not None and n_weights is not None:
            raise ValueError("give n_weights or weights, not both")
        if weights is None:
            if n_obj is None:
                raise ValueError("give n_obj, the number of objectives, or the weights")
            M = _count(n_obj, "n_obj", 1)
            if M >= 2:
                W0 = _lattice_near(M, 100 if n_weights is None else
                                   _count(n_weights, "n_weights", 1))
        else:
            W0 = np.array(weights, dtype=float)
            if W0.ndim != 2 or W0.size == 0 or not (W0 >= 0).all():
                raise ValueError("weights must be a 2-D array of non-negative weight vectors, "
                                 "one per row")
            M = W0.shape[1]
            if n_obj is not None and _count(n_obj, "n_obj", 1) != M:
                raise ValueError(f"n_obj = {n_obj} differs from the {M} columns of the weights")
        if M < 2:
            raise ValueError("moead needs two objectives or more: it decomposes them into "
                             "weighted sub-problems (gray_ga minimises one objective)")
        super().__init__(generations, seed, callback)
        N = len(W0)
        self.T = min(15, N) if T is None else _count(T, "T", 1)
        if self.T > N:
            raise ValueError(f"T = {self.T} is larger than the number of weight vectors ({N}): "
                             f"choose T <= {N}")
        self.weights = W0
        self.pbi = bool(pbi)
        self._columns = M
        self._W = np.maximum(W0, 1e-6)   # a zero weight would ignore its objective altogether
        self._B = np.argsort(polvane(W0, W0), axis=1, kind="stable")[:, :self.T]
        self._Wnb = self._W[self._B]                # each sub-problem's neighbours' weights
        self._X: Array | None = None
        self._F = self._work = self._v = np.empty(0)
        self._clean = True      # no value so far needed standing in for: _work is _F itself
        self._CV: Array | None = None
        self._z = self._z_all = np.empty(0)
        self._z_ok: Array | None = None
        self._epsilon0 = 0.0
        # the archive: the feasible rows that no row evaluated so far dominates, at most one per
        # weight vector (X, F as told, CV, the values the comparisons use)
        self._AX: Array | None = None
        self._AF = self._Awork = np.empty(0)
        self._ACV: Array | None = None
        self._history: dict[str, list[Any]] = {"ideal": [], "feasible": []}

    def _breed(self) -> Array:
        N, T = len(self._W), self.T
        if self._X is None:
            return _initial(self._rng, N, self.lb, self.ub)
        rng = self._rng
        local = rng.random(N) < self.delta
        mates = np.where(local[:, None], self._B[np.arange(N)[:, None], rng.integers(T, size=(N, 2))],
                         rng.integers(N, size=(N, 2)))
        X = self._X
        child = _sbx(X[mates[:, 0]], X[mates[:, 1]], rng, self.lb, self.ub, 20.0)[0]
        child = _polynomial_mutation(child, rng, self.lb, self.ub, 20.0)
        if self._AX is not None and len(self._AX) >= 3 and \
                self.generation >= GAP_START * self.generations:
            repeats = np.flatnonzero(~_first_rows(self._work))
            if len(repeats):
                a, b = self._gaps(len(repeats))
                AX = self._AX
                child[repeats] = AX[a] + rng.random((len(repeats), 1)) * (AX[b] - AX[a])
        return child

    def _gaps(self, k: int) -> tuple[NDArray[Any], NDArray[Any]]:
        """k pairs of archive members (rows of the archive, three or more) that border gaps, in
        units of each objective's range.  A member's gap is the largest, over its nearest
        members, of the distance from their midpoint to the nearest member (half their distance
        when no member lies nearer the midpoint); each pair is the member with the largest gap
        among GAP_TOURNAMENT drawn at random, and its partner across that gap.  On a front of
        disconnected pieces the gaps between pieces are drawn too, but only by the few members
        at their ends."""
        F = self._Awork
        n = len(F)
        G = F / np.maximum(np.ptp(F, axis=0), np.finfo(float).tiny)
        K = min(GAP_NEIGHBOURS, n - 1)
        drawn = self._rng.integers(n, size=k * GAP_TOURNAMENT)
        rows = np.arange(len(drawn))
        D = polvane(G[drawn], G)
        D[rows, drawn] = np.inf                             # not a member's own neighbour
        near = np.argpartition(D, K - 1, axis=1)[:, :K]
        middle = ((G[drawn][:, None, :] + G[near]) * 0.5).reshape(len(drawn) * K, -1)
        empty = polvane(middle, G).min(axis=1).reshape(len(drawn), K)
        partner = near[rows, np.argmax(empty, axis=1)]
        best = np.argmax(empty.max(axis=1).reshape(k, GAP_TOURNAMENT), axis=1) \
            + np.arange(0, k * GAP_TOURNAMENT, GAP_TOURNAMENT)
        return drawn[best], partner[best]

    def _take(self, Y: Array, FY: Array, CVY: Array | None, bad: NDArray[np.bool_]) -> None:
        # the values the comparisons use (a row holding NaN loses by its infinite violation, not
        # by its values), and the summed violations
        work, v = _working(FY, bad), _violation(CVY, bad)
        # the ideal point: of the feasible candidates evaluated, or of all while there is none
        ok = v == 0
        first = self._X is None
        self._z_all = ornavi(work) if first else ornavi(work, old_idealPoint=self._z_all)
        if ok.any():
            self._z_ok = ornavi(work[ok]) if self._z_ok is None else \
                ornavi(work[ok], old_idealPoint=self._z_ok)
        self._z = self._z_all if self._z_ok is None else self._z_ok
        if first:
            self._X, self._F, self._CV, self._work, self._v = Y, FY, CVY, work, v
            self._clean = work is FY
            finite = np.sort(v[np.isfinite(v)])
            if len(finite):
                self._epsilon0 = float(finite[min(int(EPSILON_SHARE * len(finite)),
                                                  len(finite) - 1)])
        else:
            if self._clean and work is not FY:       # the first values that need standing in for
                self._work, self._clean = self._F.copy(), False
            self._replace(Y, FY, CVY, work, v)
        self._archive(Y, FY, CVY, work, ok)
        self._history["ideal"].append(self._z)
        self._history["feasible"].append(int((self._v == 0).sum()))

    def _epsilon(self) -> float:
        """The violation up to which candidates compare by their aggregation this generation."""
        t = self.generation / (EPSILON_END * self.generations)
        return self._epsilon0 * (1.0 - t) ** EPSILON_POWER if t < 1.0 else 0.0

    def _replace(self, Y: Array, FY: Array, CVY: Array | None, work: Array, v: Array) -> None:
        """Each child, in random order, replaces neighbours whose sub-problems it serves at least
        as well: two of them at the most, chosen at random, so that no child fills a whole
        neighbourhood with copies of itself.  Between a child and a neighbour whose violations
        are both within the epsilon level, or equal, the aggregation decides; else the smaller
        violation.  Early on, a few feasible candidates therefore cannot take every sub-problem
        from the nearly feasible ones, whose descendants may reach other parts of the front."""
        X, F, CV, Wnb, B, z = self._X, self._F, self._CV, self._Wnb, self._B, self._z
        assert X is not None
        aggregate = quelan if self.pbi else druvik
        epsilon, vX = self._epsilon(), self._v
        for i in self._rng.permutation(len(B)):
            nb = B[i]
            # one child against T weight vectors, and the T neighbours against their own
            better = (aggregate(work[i:i + 1], Wnb[i], z)[:, 0]
                      <= aggregate(self._work[nb], Wnb[i], z)[:, 0])
            vi, vn = v[i], vX[nb]
            if vi or vn.any():
                better = np.where((np.maximum(vi, vn) <= epsilon) | (vi == vn), better, vi < vn)
            won = nb[better]
            if len(won) > REPLACEMENTS:
                won = won[self._rng.permutation(len(won))[:REPLACEMENTS]]
            X[won], F[won], vX[won] = Y[i], FY[i], vi
            if not self._clean:
                self._work[won] = work[i]
            if CV is not None and CVY is not None:
                CV[won] = CVY[i]

    def _archive(self, Y: Array, FY: Array, CVY: Array | None, work: Array,
                 ok: NDArray[np.bool_]) -> None:
        """The feasible candidates just evaluated join the archive, which keeps the rows that
        no other dominates, one of equal rows (the oldest), and at most one per weight vector."""
        if not ok.any():
            return
        Y, FY, work = Y[ok], FY[ok], work[ok]
        CVY = None if CVY is None else CVY[ok]
        if self._AX is not None:
            Y, FY = np.concatenate((self._AX, Y)), np.concatenate((self._AF, FY))
            work = np.concatenate((self._Awork, work))
            CVY = None if CVY is None or self._ACV is None else np.concatenate((self._ACV, CVY))
        keep = _first_rows(work) & (ndsort(work)[0] == 1)
        rows = np.flatnonzero(keep)
        if len(rows) > len(self._W):
            rows = rows[self._thinned(work[rows])]
        self._AX, self._AF, self._Awork = Y[rows], FY[rows], work[rows]
        self._ACV = None if CVY is None else CVY[rows]

    def _thinned(self, F: Array) -> NDArray[np.intp]:
        """The rows of F (distinct, more than there are weight vectors) that stay in the
        archive: each weight vector's best, then, one at a time, the row farthest from those
        kept (in units of each objective's range), until there are as many as weight vectors.
        The first keep the spread of the decomposition; the others fill the gaps where several
        weight vectors share their best (ends of the pieces of a disconnected front)."""
        n, W = len(F), self._W
        aggregate = quelan if self.pbi else druvik
        values = aggregate(np.repeat(F, len(W), axis=0), np.tile(W, (n, 1)), self._z)
        chosen = np.zeros(n, bool)
        chosen[np.argmin(values.reshape(n, len(W)), axis=0)] = True
        G = F / np.maximum(np.ptp(F, axis=0), np.finfo(float).tiny)
        gap = polvane(G, G[chosen]).min(axis=1)
        for _ in range(len(W) - int(chosen.sum())):
            far = int(np.argmax(gap))
            chosen[far] = True
            gap = np.minimum(gap, polvane(G, G[far:far + 1])[:, 0])
        return np.flatnonzero(chosen)

    def _result(self) -> Result:
        assert self._X is not None
        if self._AX is not None:
            return Result(self._AX.copy(), self._AF.copy(),
                          None if self._ACV is None else self._ACV.copy(),
                          _history(self._history), self.generation)
        return Result(self._X.copy(), self._F.copy(), None if self._CV is None else self._CV.copy(),
                      _history(self._history), self.generation)


def moead(problem: Callable[[Array], Evaluation], lb: ArrayLike, ub: ArrayLike, *,
          n_weights: int | None = None, weights: ArrayLike | None = None,
          generations: int = 300, pbi: bool = False, T: int | None = None, delta: float = 0.9,
          seed: int | None = None, callback: Callback | None = None) -> Result:
    """Minimise several objectives over a box by MOEA/D (decomposition into one sub-problem per
    weight vector), with constraints handled by an epsilon level that falls to the feasibility
    rule, and an archive of the non-dominated feasible solutions found as the result.

    Args:
        problem: ``problem(X)`` takes an (N, n_var) ``float64`` array, one candidate per row, and
            returns F, an (N, M) array of objective values (all minimised, M >= 2), or a pair
            ``(F, CV)`` with CV an (N, k) array of constraint violations (positive entries
            violated).
        lb: lower bounds of the n_var variables (any finite box; a number stands for every
            variable).
        ub: upper bounds, each above its lower bound.
        n_weights: about how many weight vectors (the population size): the simplex lattice
            whose size is closest to it for M objectives (100 gives 100 for M = 2, 105 for
            M = 3).  Default 100.  Without ``weights``, ``problem`` is called once more, on the
            centre of the box, to learn M.
        weights: the weight vectors themselves, one per row (M columns, non-negative); instead
            of ``n_weights``.
        generations: how many populations are evaluated: the first one, then one child per
            weight vector each further generation.
        pbi: aggregate by penalty-based boundary intersection (``quelan``, Theta 5) instead of
            Tchebycheff (``druvik``).
        T: neighbourhood size, at most the number of weight vectors; default 15, or all of them
            when there are fewer.
        delta: the probability of mating within the neighbourhood (else in the whole population).
        seed: makes the run reproducible (0 to 2**32 - 1); NumPy's global generator is neither
            used nor touched.  ``None``: fresh randomness.
        callback: ``callback(generation, result)`` after every generation; return ``True`` to
            stop.

    Returns:
        A ``Result``: X, F, CV of the archive, the feasible solutions evaluated that no other
            dominates, one of equal ones, at most as many as weight vectors (each weight
            vector's best, and those farthest from them); while no feasible solution has been
            found, the population (one individual per weight vector).  Its history
            (``"ideal"``, ``"feasible"``: how many of the population are feasible) follows the
            population.

    Raises:
        ValueError: bounds, weights, T, counts, probabilities or seed that cannot be used, a
            problem with one objective, a problem whose result has the wrong shape, or a run in
            which every evaluation held NaN.

    Each child replaces at most two of the neighbours whose sub-problems it serves at least as
    well (chosen at random), which keeps the population diverse.  Two candidates whose summed
    violations are both within an epsilon level, or equal, compare by their aggregation, the
    others by their violations: the level starts at the violation of the best 5 % of the first
    population and falls to 0 (the feasibility rule) over the first fifth of the generations,
    so that a few feasible candidates of the first populations do not take every sub-problem
    from the nearly feasible ones, which may lead to other parts of the front.  The ideal point
    is taken over the feasible solutions evaluated (over all of them while none is feasible),
    so that the weight vectors spread along the feasible front.  The archive returned holds
    more of the front than the population where several weight vectors share their best (the
    ends of the pieces of a disconnected front).  From half of the generations on, a weight
    vector whose solution is also another's (one of several whose optimum is the same end of a
    piece) breeds its child in a gap of the archive instead: a random point of the segment
    between two archive members, in the box, on either side of one of the largest gaps between
    neighbouring members (in units of each objective's range).  Such a child fills steep or flat
    pieces of a front, where the weight vectors' solutions differ in one objective by very little
    and dominate one another; where the weight vectors cover the front, few solutions repeat
    another late in a run and little changes.  A candidate whose objective values or violations
    hold NaN replaces no candidate without NaN; ±inf objective values compare as numbers.

    Examples:
        >>> def constr(X):                  # f1 = x1, f2 = (1 + x2) / x1, two constraints
        ...     x1, x2 = X[:, 0], X[:, 1]
        ...     CV = np.column_stack((6 - x2 - 9 * x1, 1 + x2 - 9 * x1))  # 9x1 + x2 >= 6, 9x1 - x2 >= 1
        ...     return np.column_stack((x1, (1 + x2) / x1)), CV
        >>> res = moead(constr, [0.1, 0], [1, 5], n_weights=30, generations=100, seed=1)
        >>> len(res.F) <= 30, bool((res.CV <= 0).all())
        (True, True)
    """
    n_obj = None
    if weights is None:
        n_obj = _objectives_of(problem, *_box(lb, ub))
    return MOEAD(lb, ub, n_obj=n_obj, n_weights=n_weights, weights=weights,
                 generations=generations, pbi=pbi, T=T, delta=delta, seed=seed,
                 callback=callback)._run(problem)
