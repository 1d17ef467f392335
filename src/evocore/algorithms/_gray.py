"""The Gray-coded GA: one objective over a box, with constraints by the feasibility rule."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import ulvaro, velkor

from ._shared import (Array, Callback, Evaluation, Result, _Algorithm, _box, _count, _history,
                      _initial, _probability, _ranked, _violation)


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


class GrayGA(_Algorithm):
    """The Gray-coded GA as ask and tell: `gray_ga`'s arguments less the problem.

    Examples:
        >>> opt = GrayGA([-1, -1], [1, 1], pop_size=20, generations=30, seed=1)
        >>> while not opt.done:
        ...     X = opt.ask()
        ...     opt.tell((X ** 2).sum(axis=1))
        >>> bool(opt.result().F[0, 0] < 0.05)
        True
    """

    _name = "gray_ga"
    _columns = 1
    _single = True

    def __init__(self, lb: ArrayLike, ub: ArrayLike, *, bits: int = 20, pop_size: int = 100,
                 generations: int = 1000, pc: float = 0.9, seed: int | None = None,
                 callback: Callback | None = None) -> None:
        self.lb, self.ub = _box(lb, ub)
        self.bits = _count(bits, "bits", 1)
        if self.bits > 31:
            raise ValueError(f"bits must be at most 31, not {bits}")
        self.pop_size = _count(pop_size, "pop_size", 2)
        self.pc = _probability(pc, "pc")
        super().__init__(generations, seed, callback)
        self._Chrom: NDArray[np.int32] | None = None
        self._FitnV = np.empty(0)
        self._X = self._f = np.empty(0)
        self._CV: Array | None = None
        self._history: dict[str, list[Any]] = {"best": [], "violation": [], "feasible": []}

    def _breed(self) -> Array:
        rng, N, lo, hi = self._rng, self.pop_size, self.lb, self.ub
        if self._Chrom is None:
            n = len(lo)
            FieldD = np.vstack((np.full(n, self.bits), lo, hi, np.ones(n),   # lens, lb, ub, Gray,
                                np.zeros(n), np.ones(n), np.ones(n),        # linear, lb and ub
                                np.zeros(n)))                               # in range, real
            self._Chrom = velkor(_initial(rng, N, lo, hi), FieldD)
        else:
            # binary tournaments on fitness, crossover, mutation; the elite survives unchanged
            Chrom, FitnV = self._Chrom, self._FitnV
            a, b = rng.integers(N, size=(2, 2, N))
            mothers = np.where(FitnV[a[0]] >= FitnV[b[0]], a[0], b[0])
            fathers = np.where(FitnV[a[1]] >= FitnV[b[1]], a[1], b[1])
            children = Chrom[mothers].copy()
            cross = rng.random(N) < self.pc
            children[cross] = _two_point_crossover(Chrom[mothers[cross]], Chrom[fathers[cross]],
                                                   rng)
            flip = rng.random(children.shape) < 1.0 / children.shape[1]
            children ^= flip.astype(children.dtype)
            children[0] = Chrom[int(np.argmax(FitnV))]
            self._Chrom = children
        return _gray_decode(self._Chrom, self.bits, lo, hi)

    def _take(self, X: Array, f: Array, CV: Array | None, bad: NDArray[np.bool_]) -> None:
        value = _ranked(f[:, 0], bad)[:, None]
        if CV is None and not bad.any():
            violation = np.zeros(len(f))
            FitnV = ulvaro(value)[:, 0]
        else:
            violation = _violation(CV, bad)
            FitnV = ulvaro(value, _ranked(violation, np.zeros(len(f), bool))[:, None])[:, 0]
        elite = int(np.argmax(FitnV))
        self._X, self._f, self._CV, self._FitnV = X, f, CV, FitnV
        self._history["best"].append(f[elite, 0])
        self._history["violation"].append(violation[elite])
        self._history["feasible"].append(int((violation == 0).sum()))

    def _result(self) -> Result:
        order = np.argsort(-self._FitnV, kind="stable")
        return Result(self._X[order], self._f[order], None if self._CV is None else self._CV[order],
                      _history(self._history), self.generation)


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
        lb: lower bounds of the n_var variables (finite; a number stands for every variable).
        ub: upper bounds, each above its lower bound; each variable takes 2**bits evenly
            spaced values from lb to ub, both included.
        bits: digits per variable, 1 to 31.
        pop_size: population size (at least 2).
        generations: how many populations are evaluated (the first is the initial one).
        pc: the probability that a child comes from two-point crossover.
        seed: makes the run reproducible (0 to 2**32 - 1); NumPy's global generator is neither
            used nor touched.
        callback: ``callback(generation, result)`` after every evaluated population; return
            ``True`` to stop.

    Returns:
        A ``Result`` whose X, F, CV hold the last population, best first (``X[0]`` the best
            solution, ``F[0, 0]`` its value), and history ``"best"``, ``"violation"``, ``"feasible"``.

    Raises:
        ValueError: bounds, counts, probabilities or seed that cannot be used, a problem whose
            result has the wrong shape, or a run in which every evaluation held NaN.

    A candidate whose value or violations hold NaN counts as infeasible with an infinite
    violation; ±inf values compare as numbers.

    Examples:
        >>> def problem(X):
        ...     return (X ** 2).sum(axis=1), X[:, 0] + X[:, 1] - 1   # x1 + x2 <= 1
        >>> res = gray_ga(problem, [-5, -5], [5, 5], generations=100, seed=1)
        >>> bool(abs(res.F[0, 0]) < 1e-3)
        True
    """
    return GrayGA(lb, ub, bits=bits, pop_size=pop_size, generations=generations, pc=pc,
                  seed=seed, callback=callback)._run(problem)
