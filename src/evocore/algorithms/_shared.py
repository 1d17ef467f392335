"""What the algorithms share: the Result, the checks of their arguments and of what a problem
returns, the run's own random generator and the seeds it hands the random operators, the
variation of real variables (simulated binary crossover, polynomial mutation), and the ask-and-tell
protocol of their classes."""

from __future__ import annotations

import sys
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

from evocore import fendrik, polvane
from evocore.core._selection import _selection  # type: ignore[import-not-found]
from evocore.core._variation import _variation  # type: ignore[import-not-found]
from evocore.core.sarnet import _seeded as _sarnet_seeded  # type: ignore[attr-defined]
from evocore.core.tamsen import _seeded as _tamsen_seeded  # type: ignore[attr-defined]

Array = NDArray[np.float64]
#: What a problem function returns: objective values, or objective values and violations.
Evaluation = Union[ArrayLike, tuple[ArrayLike, ArrayLike]]
#: Called after every generation with its number (from 1) and the result so far; a true return
#: value ends the run there.
Callback = Callable[[int, "Result"], Any]

# The largest magnitude the comparisons work with: ±inf objective values become ±LIMIT there,
# so that they compare as numbers and twice their difference is still finite.
LIMIT = float(np.finfo(np.float64).max) / 4


@dataclass
class Result:
    """What an algorithm returns (and hands to its callback after every generation).

    Attributes:
        X: the final population, one row per individual.  ``moead``: its archive, the feasible
            solutions found that no other dominates (at most one per weight vector), or, while
            none is feasible, the population (one row per weight vector).  ``nsga2`` and
            ``nsga3``: the survivors, best first (the first front, then the next ...).
            ``permutation_ga`` and ``gray_ga``: sorted best first, so ``X[0]`` is the best
            solution found.
        F: the objective values of ``X``, one row per individual (one column for the GAs), as
            the problem returned them.
        CV: the constraint violations of ``X`` (positive entries violated), or ``None`` when the
            problem returns no constraints.
        history: one array per measure, one entry per generation:
            ``moead``: ``"ideal"`` (the ideal point, one row per generation) and ``"feasible"``
            (how many individuals satisfy every constraint);
            ``nsga2`` and ``nsga3``: ``"feasible"`` and ``"nondominated"`` (the size of the
            first front);
            ``permutation_ga``: ``"best"`` (the lowest cost);
            ``gray_ga``: ``"best"`` (the best individual's objective value), ``"violation"``
            (its summed violation) and ``"feasible"``.
        generations: the number of generations run, the first population's included (fewer
            than asked when a callback or the ``target`` of ``permutation_ga`` ended the run).
    """

    X: NDArray[Any]
    F: Array
    CV: Array | None
    history: dict[str, Array] = field(default_factory=dict)
    generations: int = 0


# ---- the checks -----------------------------------------------------------------------------

def _count(value: Any, name: str, least: int) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < least:
        raise ValueError(f"{name} must be an integer of at least {least}, not {value!r}")
    return int(value)


def _probability(value: Any, name: str) -> float:
    if (isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating))
            or not 0.0 <= value <= 1.0):
        raise ValueError(f"{name} must be a probability from 0 to 1, not {value!r}")
    return float(value)


def _box(lb: ArrayLike, ub: ArrayLike) -> tuple[Array, Array]:
    """The bounds as two 1-D float64 arrays of one length; a scalar bound is broadcast against
    the other."""
    lo = np.array(lb, dtype=float, ndmin=1)
    hi = np.array(ub, dtype=float, ndmin=1)
    if lo.ndim != 1 or hi.ndim != 1 or (lo.shape != hi.shape and 1 not in (len(lo), len(hi))) \
            or 0 in (len(lo), len(hi)):
        raise ValueError(f"lb and ub must be numbers or 1-D and of one length (shapes {lo.shape} "
                         f"and {hi.shape})")
    lo, hi = (np.ascontiguousarray(a) for a in np.broadcast_arrays(lo, hi))
    if not (np.isfinite(lo).all() and np.isfinite(hi).all() and (lo < hi).all()):
        raise ValueError("every lower bound must be finite and below its finite upper bound")
    return lo, hi


def _generator(seed: Any) -> np.random.Generator:
    """The run's own generator.  Without a seed: `default_seed` of evocore.algorithms when it is
    set, else fresh entropy from the operating system."""
    if seed is None:
        seed = getattr(sys.modules.get("evocore.algorithms"), "default_seed", None)
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, (int, np.integer))
                             or not 0 <= seed < 2 ** 32):
        raise ValueError(f"seed must be None or an integer from 0 to 2**32 - 1, not {seed!r}")
    return np.random.default_rng(None if seed is None else int(seed))


def _draw(rng: np.random.Generator) -> int:
    """The seed of one call of a random operator (tamsen, sarnet), from the run's generator:
    what their public forms draw from NumPy's global one."""
    return int(rng.integers(2, 2147483647))


def _initial(rng: np.random.Generator, rows: int, lo: Array, hi: Array) -> Array:
    """A uniform random population in the box, by tamsen."""
    FieldDR = np.vstack((lo, hi, np.zeros(len(lo))))
    return np.asarray(_tamsen_seeded(_draw(rng), rows, FieldDR), dtype=float)


def _order_crossover(rng: np.random.Generator, Chrom: NDArray[Any], xovr: float) -> NDArray[Any]:
    """sarnet's order crossover of the rows of Chrom, seeded from the run's generator."""
    children: NDArray[Any] = _sarnet_seeded(_draw(rng), Chrom, xovr)
    return children


def _history(rows: dict[str, list[Any]]) -> dict[str, Array]:
    return {key: np.array(values, dtype=float) for key, values in rows.items()}


def igd(F: ArrayLike, front: ArrayLike) -> float:
    """Inverted generational distance: the mean, over the points of the true front (rows of
    `front`), of the Euclidean distance to the nearest row of F.  Lower is better; 0 when F
    contains every point of the front."""
    D = polvane(np.ascontiguousarray(front, dtype=float), np.ascontiguousarray(F, dtype=float))
    return float(D.min(axis=1).mean())


# ---- what a problem returns -----------------------------------------------------------------

def _split(out: Any) -> tuple[Any, Any]:
    """A problem's result as (F, CV or None)."""
    if isinstance(out, tuple):
        if len(out) != 2:
            raise ValueError(f"the problem returned a tuple of {len(out)} items; expected F, or "
                             f"the pair (F, CV)")
        return out[0], out[1]
    return out, None


def _unusable(F: Array, CV: Array | None) -> NDArray[np.bool_]:
    """The rows holding NaN in their objective values or violations: infeasible with an
    infinite violation, worse than every row without NaN."""
    # the minimum is NaN exactly when a value is: one pass over the values when none is
    if not (F.size and np.isnan(F.min())) and not (CV is not None and CV.size and np.isnan(CV.min())):
        return np.zeros(len(F), bool)
    bad = np.isnan(F).any(axis=1, out=np.empty(len(F), bool))
    if CV is not None:
        bad |= np.isnan(CV).any(axis=1)
    return bad


def _first_rows(A: Array) -> NDArray[np.bool_]:
    """Which rows of A are the first of their values (compared as numbers, -0.0 equal to 0.0):
    what np.unique(A, axis=0, return_index=True) finds, without its comparison of structured
    rows, which NumPy 2.5 turns into a TypeError when Ctrl-C interrupts it."""
    first = np.zeros(len(A), bool)
    if len(A):
        order = np.lexsort(A.T[::-1])           # stable: equal rows in their order
        S = A[order]
        new = np.ones(len(A), bool)
        np.any(S[1:] != S[:-1], axis=1, out=new[1:])
        first[order[new]] = True
    return first


def _violation(CV: Array | None, bad: NDArray[np.bool_]) -> Array:
    """Each row's summed positive violation (fendrik), +inf for the rows holding NaN."""
    v = np.zeros(len(bad)) if CV is None else fendrik(CV)[:, 0]
    v[bad] = np.inf
    return v


def _working(F: Array, bad: NDArray[np.bool_]) -> Array:
    """The objective values the comparisons use: ±inf as ±LIMIT, and LIMIT in every objective of
    a row holding NaN (which the callers also mark as losing).  F itself when it needs neither."""
    if not bad.any() and np.abs(F).max(initial=0.0) <= LIMIT:
        return F
    W = np.clip(F, -LIMIT, LIMIT)
    W[bad] = LIMIT
    return W


# ---- variation of real variables ------------------------------------------------------------

def _power(x: Any, k: int) -> Any:
    """x ** k for a whole k >= 1 by repeated squaring, as the compiled variation takes the powers
    of its whole exponents (for its NumPy forms, which give the same bits)."""
    result = None
    while True:
        if k & 1:
            result = x if result is None else result * x
        k >>= 1
        if not k:
            return result
        x = x * x


def _sbx(P1: Array, P2: Array, rng: np.random.Generator, lb: Array, ub: Array,
         eta: float, prob: float = 1.0) -> tuple[Array, Array]:
    """Simulated binary crossover, bounded form: pair i of rows P1[i], P2[i] is crossed with
    probability `prob`, and within a crossed pair each variable with probability 1/2 where the
    parents differ; the two children take the two new values in random order.  A variable not
    crossed keeps its parent's value (child 1 from P1, child 2 from P2).  Compiled: 3d + 1
    uniform numbers a pair from the run's generator."""
    n, d = P1.shape
    C = _variation("sbx", P1, P2, lb, ub, rng.random((n, 3 * d + 1)), eta, prob)
    return C[:n], C[n:]


def _polynomial_mutation(X: Array, rng: np.random.Generator, lb: Array, ub: Array,
                         eta: float = 20.0) -> Array:
    """Polynomial mutation, each variable with probability 1/(number of variables), into a new
    array.  Compiled: two uniform numbers a variable from the run's generator."""
    mutated: Array = _variation("mutation", X, None, lb, ub, rng.random((len(X), 2 * X.shape[1])),
                                eta)
    return mutated


def _offspring(P: Array, rng: np.random.Generator, lb: Array, ub: Array, rows: int,
               eta_c: float, prob_c: float, eta_m: float) -> tuple[Array, NDArray[np.bool_]]:
    """`rows` children of the pairs (P[i], P[n + i]) of the 2n parents P: both children of each
    pair by simulated binary crossover (the first children of all pairs, then the second ones),
    then polynomial mutation; and which of them are copies of their parent (neither crossed nor
    changed by the mutation).  Compiled in one call (`_variation`), from uniform numbers drawn at
    once, those of the crossover first."""
    n, d = len(P) // 2, P.shape[1]
    rand = rng.random(n * (3 * d + 1) + rows * 2 * d)
    children, copies = _variation("offspring", P[:n], P[n:], lb, ub, rand, eta_c, prob_c, eta_m,
                                  rows)
    return children, copies != 0


def _tournaments(rng: np.random.Generator, violation: Array, winners: int,
                 W: Array | None = None, crowd: Array | None = None) -> NDArray[np.int32]:
    """`winners` (even) binary tournaments among the population: the competitors come from random
    permutations of it (each individual meets as many others as the count allows).  The smaller
    violation wins; with `W` (the values the comparisons use) and `crowd`, between two feasible
    candidates the one that dominates the other, else the larger crowding distance; else the
    first of the two.  The winners of the even tournaments come first, then those of the odd
    ones: the first half mates with the second.  Compiled (`_selection`)."""
    population = len(violation)
    rounds = -(-2 * winners // population)
    parents: NDArray[np.int32] = _selection("tournament", rng.random((rounds, population)),
                                            violation, W, crowd, winners)
    return parents


# ---- ask and tell ---------------------------------------------------------------------------

class _Algorithm:
    """The ask-and-tell protocol of every algorithm's class.  A subclass makes the populations
    (`_breed`: the first one, then each generation's new candidates) and takes their evaluation
    (`_take`); this class keeps the generator, the count of generations, the callback, and the
    population asked and not yet told."""

    _columns: int | None = None      # objective columns expected (None: not known yet)
    _single = False                  # one objective: F may come as a 1-D array
    _constrained = True              # CV may be given
    _name = "algorithm"

    def __init__(self, generations: int, seed: int | None, callback: Callback | None) -> None:
        self.generations = _count(generations, "generations", 1)
        self.callback = callback
        #: Generations completed (populations told), the first one included.
        self.generation = 0
        self._rng = _generator(seed)
        self._stopped = False
        self._asked: NDArray[Any] | None = None
        self._constraints: int | None = None     # CV columns, 0 without CV; None before a tell
        self._found = False                      # a row without NaN has been told

    # the public protocol

    def ask(self) -> NDArray[Any]:
        """The next population to evaluate, one candidate per row (a new array each call; asked
        again before a `tell`, the same rows)."""
        if self._asked is None:
            self._asked = self._breed()
        return self._asked.copy()

    def tell(self, F: ArrayLike, CV: ArrayLike | None = None) -> None:
        """The evaluation of the population of the last `ask`: F, one row per candidate, and CV
        (positive entries violated) when the problem has constraints.  Completes a generation,
        and calls the callback."""
        if self._asked is None:
            raise RuntimeError(f"{type(self).__name__}.tell: nothing was asked; call ask() first")
        self._receive(*self._checked(F, CV, f"{type(self).__name__}.tell was given"))

    @property
    def done(self) -> bool:
        """Whether the run is over: its generations are done, or the callback (or a target)
        ended it.  ``ask`` and ``tell`` go on working after that, for a longer run."""
        return self._stopped or self.generation >= self.generations

    def result(self) -> Result:
        """The population so far as a `Result`."""
        if self.generation == 0:
            raise RuntimeError(f"{type(self).__name__}.result: no population has been told yet")
        if not self._found:
            raise ValueError(f"{self._name}: every candidate evaluated in {self.generation} "
                             f"generation{'s' if self.generation > 1 else ''} had NaN among its "
                             f"objective values or constraint violations; there is no result")
        return self._result()

    def __getstate__(self) -> dict[str, Any]:
        state = self.__dict__.copy()
        state["callback"] = None            # a callback is not part of the run's state
        return state

    # for the functions

    def _run(self, problem: Callable[[Any], Evaluation]) -> Result:
        """The whole run on a problem function: ask, evaluate, tell, until done."""
        while not self.done:
            X = self.ask()
            self._receive(*self._checked(*_split(problem(X)), "the problem returned"))
        return self.result()

    # the steps

    def _checked(self, F: Any, CV: Any, source: str) -> tuple[Array, Array | None]:
        """F and CV as float64 arrays of the shapes the population asks for."""
        assert self._asked is not None
        rows = len(self._asked)
        F = np.array(F, dtype=float)
        if self._single and F.ndim == 1:
            F = F[:, None]
        want = self._columns
        if F.ndim != 2 or len(F) != rows or (want is not None and F.shape[1] != want) \
                or F.shape[1] == 0:
            expected = f"({rows}, {want if want is not None else 'objectives'})"
            raise ValueError(f"{source} objective values of shape {F.shape} for {rows} "
                             f"candidates (the rows of X); expected {expected}")
        if CV is not None and not self._constrained:
            raise ValueError(f"{source} constraint violations, but {self._name} has no "
                             f"constraints: give the costs alone")
        if CV is not None:
            CV = np.array(CV, dtype=float)
            if CV.ndim == 1:
                CV = CV[:, None]
            if CV.ndim != 2 or len(CV) != rows:
                raise ValueError(f"{source} constraint violations of shape {CV.shape} for {rows} "
                                 f"candidates; expected ({rows}, constraints)")
        columns = 0 if CV is None else CV.shape[1]
        if self._constraints is not None and columns != self._constraints:
            raise ValueError(f"{source} {columns} constraint column{'s' * (columns != 1)}, and "
                             f"{self._constraints} for an earlier population: every population "
                             f"needs the same constraints")
        return F, CV

    def _receive(self, F: Array, CV: Array | None) -> None:
        assert self._asked is not None
        self._constraints = 0 if CV is None else CV.shape[1]
        bad = _unusable(F, CV)
        self._found = self._found or not bad.all()
        self._take(self._asked, F, CV, bad)
        self._asked = None
        self.generation += 1
        if self.callback is not None and self.callback(self.generation, self._result()):
            self._stopped = True

    def _breed(self) -> NDArray[Any]:
        raise NotImplementedError

    def _take(self, X: NDArray[Any], F: Array, CV: Array | None, bad: NDArray[np.bool_]) -> None:
        raise NotImplementedError

    def _result(self) -> Result:
        raise NotImplementedError


def _objectives_of(problem: Callable[[Any], Evaluation], lo: Array, hi: Array) -> int:
    """How many objectives the problem has, from its value at the centre of the box.  Only a
    guess where that value has a shape the population's evaluation would not have: the first
    population's evaluation is then the one that reports it."""
    F = np.asarray(_split(problem(((lo + hi) / 2)[None, :]))[0], dtype=float)
    return int(F.shape[1]) if F.ndim == 2 and len(F) == 1 else max(int(F.size), 1)


def _ranked(v: Array, bad: NDArray[np.bool_]) -> Array:
    """One column of values as finite numbers in the same order, for ulvaro's fitness (which
    depends only on their order and ratios): -inf below and +inf above every finite value, the
    rows in `bad` (NaN) above everything, and values so large that their range would overflow
    scaled down by a power of two (exactly)."""
    w = np.array(v, dtype=float)
    finite = ~bad & np.isfinite(w)
    big = np.abs(w[finite]).max(initial=0.0)
    if big > LIMIT / 4:
        w[finite] *= 2.0 ** -(int(np.log2(big / (LIMIT / 8))) + 1)
    if finite.all():
        return w
    lo, hi = (w[finite].min(), w[finite].max()) if finite.any() else (0.0, 0.0)
    step = max(hi - lo, abs(hi), abs(lo), 1.0)
    w[~finite & (w < 0)] = lo - step
    w[~finite & (w > 0)] = hi + step
    w[bad] = hi + 2.0 * step
    return w
