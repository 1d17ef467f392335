"""Standard multi-objective test problems, as functions of a whole population.

    zdt1, zdt2, zdt4, zdt6          two objectives, no constraints
    dtlz1, dtlz2, dtlz3, dtlz4      any number of objectives, no constraints
    srn, tnk, osy, bnh, ctp1        two objectives with constraints

Each function returns a `Problem`: call it on an (N, n_var) array, one candidate per row, for its
objective values F (N, n_obj), or the pair (F, CV) with CV (N, n_constr) positive where a
constraint is violated; ``lb`` and ``ub`` are its box and ``front(points)`` samples its Pareto
front, so that a run is one line and its quality the next::

    p = zdt1()
    result = nsga2(p, p.lb, p.ub, seed=1)
    igd(result.F, p.front())
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = ["Problem", "zdt1", "zdt2", "zdt4", "zdt6", "dtlz1", "dtlz2", "dtlz3", "dtlz4", "srn",
           "tnk", "osy", "bnh", "ctp1"]

Array = NDArray[np.float64]


@dataclass(frozen=True, eq=False)
class Problem:
    """A test problem: its function, its box and its Pareto front.

    Attributes:
        name: the problem's usual name, for example ``"ZDT1"``.
        lb: the lower bounds of the variables (1-D).
        ub: the upper bounds of the variables (1-D).
        n_obj: the number of objectives (all minimised).
        n_constr: the number of constraints (0 without).
    """

    name: str
    lb: Array
    ub: Array
    n_obj: int
    n_constr: int
    function: Callable[[Array], Any]
    sampler: Callable[[int], Array]

    @property
    def n_var(self) -> int:
        """The number of variables."""
        return len(self.lb)

    def __call__(self, X: ArrayLike) -> Union[Array, tuple[Array, Array]]:
        """F of the rows of X, or (F, CV) for a problem with constraints."""
        X = np.asarray(X, dtype=float)
        if X.ndim != 2 or X.shape[1] != self.n_var:
            raise ValueError(f"{self.name} takes an (N, {self.n_var}) array of candidates, not "
                             f"shape {X.shape}")
        result: Union[Array, tuple[Array, Array]] = self.function(X)
        return result

    def front(self, points: int = 10_000) -> Array:
        """About `points` points of the Pareto front, one per row: evenly spread along the curve
        of a two-objective front, the simplex lattice of the nearest size for DTLZ."""
        if isinstance(points, bool) or not isinstance(points, (int, np.integer)) or points < 2:
            raise ValueError(f"points must be an integer of at least 2, not {points!r}")
        return self.sampler(int(points))

    def __repr__(self) -> str:
        return (f"<{self.name}: {self.n_var} variables, {self.n_obj} objectives, "
                f"{self.n_constr} constraints>")


def _variables(n_var: int, least: int) -> int:
    if isinstance(n_var, bool) or not isinstance(n_var, (int, np.integer)) or n_var < least:
        raise ValueError(f"n_var must be an integer of at least {least}, not {n_var!r}")
    return int(n_var)


def _curve(f1: Array, f2: Array) -> Array:
    F = np.empty((len(f1), 2))
    F[:, 0], F[:, 1] = f1, f2
    return F


# ---- ZDT ------------------------------------------------------------------------------------

def _zdt(name: str, n_var: int, f1: Callable[[Array], Array], g: Callable[[Array], Array],
         h: Callable[[Array, Array], Array], lb: Array, ub: Array,
         sampler: Callable[[int], Array]) -> Problem:
    def function(X: Array) -> Array:
        a = f1(X[:, 0])
        b = g(X[:, 1:])
        return _curve(a, b * h(a, b))
    return Problem(name, lb, ub, 2, 0, function, sampler)


def _zdt_g(rest: Array) -> Array:
    g: Array = 1.0 + 9.0 * rest.sum(axis=1) / rest.shape[1]
    return g


def _convex(f: Array, g: Array) -> Array:
    return 1.0 - np.sqrt(f / g)


def _concave(f: Array, g: Array) -> Array:
    return 1.0 - (f / g) ** 2


def _unit(X: Array) -> Array:
    return X


def zdt1(n_var: int = 30) -> Problem:
    """ZDT1: f1 = x1, f2 = g (1 - sqrt(f1 / g)), g = 1 + 9 mean(x2 ... xn), variables in [0, 1];
    the convex front f2 = 1 - sqrt(f1) at g = 1."""
    n = _variables(n_var, 2)
    return _zdt("ZDT1", n, _unit, _zdt_g, _convex, np.zeros(n), np.ones(n),
                lambda k: _curve(np.linspace(0.0, 1.0, k), 1.0 - np.sqrt(np.linspace(0.0, 1.0, k))))


def zdt2(n_var: int = 30) -> Problem:
    """ZDT2: ZDT1 with f2 = g (1 - (f1 / g)**2); the concave front f2 = 1 - f1**2."""
    n = _variables(n_var, 2)
    return _zdt("ZDT2", n, _unit, _zdt_g, _concave, np.zeros(n), np.ones(n),
                lambda k: _curve(np.linspace(0.0, 1.0, k), 1.0 - np.linspace(0.0, 1.0, k) ** 2))


def _rastrigin_g(rest: Array) -> Array:
    g: Array = 1.0 + 10.0 * rest.shape[1] + (rest ** 2 - 10.0 * np.cos(4.0 * np.pi * rest)) \
        .sum(axis=1)
    return g


def zdt4(n_var: int = 10) -> Problem:
    """ZDT4: ZDT1's f2 over a multimodal g = 1 + 10 (n - 1) + sum(xi**2 - 10 cos(4 pi xi)), x1 in
    [0, 1] and x2 ... xn in [-5, 5] (21**(n - 1) local fronts); ZDT1's front at x2 ... xn = 0."""
    n = _variables(n_var, 2)
    return _zdt("ZDT4", n, _unit, _rastrigin_g, _convex, np.r_[0.0, np.full(n - 1, -5.0)],
                np.r_[1.0, np.full(n - 1, 5.0)],
                lambda k: _curve(np.linspace(0.0, 1.0, k), 1.0 - np.sqrt(np.linspace(0.0, 1.0, k))))


ZDT6_LEAST = 0.2807753191139336       # the least f1 of ZDT6: 1 - exp(-4 x) sin(6 pi x)**6 at x = 0.0824


def _zdt6_f1(x: Array) -> Array:
    f: Array = 1.0 - np.exp(-4.0 * x) * np.sin(6.0 * np.pi * x) ** 6
    return f


def _zdt6_g(rest: Array) -> Array:
    g: Array = 1.0 + 9.0 * (rest.sum(axis=1) / rest.shape[1]) ** 0.25
    return g


def zdt6(n_var: int = 10) -> Problem:
    """ZDT6: f1 = 1 - exp(-4 x1) sin(6 pi x1)**6 (solutions thin near f1 = 1), g = 1 + 9
    mean(x2 ... xn)**0.25, f2 = g (1 - (f1 / g)**2); the front f2 = 1 - f1**2 from f1 = 0.2808."""
    n = _variables(n_var, 2)
    return _zdt("ZDT6", n, _zdt6_f1, _zdt6_g, _concave, np.zeros(n), np.ones(n),
                lambda k: _curve(np.linspace(ZDT6_LEAST, 1.0, k),
                                 1.0 - np.linspace(ZDT6_LEAST, 1.0, k) ** 2))


# ---- DTLZ -----------------------------------------------------------------------------------

def _lattice(M: int, points: int) -> Array:
    """The simplex lattice of M components with the size nearest to `points`."""
    from evocore.algorithms._moead import _lattice_near
    return _lattice_near(M, points) if M > 1 else np.ones((1, 1))


def _sphere(M: int, points: int) -> Array:
    W = _lattice(M, points)
    unit: Array = W / np.sqrt((W ** 2).sum(axis=1, keepdims=True))
    return unit


def _dtlz_g1(rest: Array) -> Array:
    g: Array = 100.0 * (rest.shape[1] + ((rest - 0.5) ** 2 - np.cos(20.0 * np.pi * (rest - 0.5)))
                        .sum(axis=1))
    return g


def _dtlz_g2(rest: Array) -> Array:
    g: Array = ((rest - 0.5) ** 2).sum(axis=1)
    return g


def _linear(x: Array, g: Array) -> Array:
    M = x.shape[1] + 1
    F = np.repeat((0.5 * (1.0 + g))[:, None], M, axis=1)
    for m in range(M):
        F[:, m] *= np.prod(x[:, :M - 1 - m], axis=1)
        if m > 0:
            F[:, m] *= 1.0 - x[:, M - 1 - m]
    return F


def _spherical(x: Array, g: Array) -> Array:
    M = x.shape[1] + 1
    angle = x * (np.pi / 2)
    F = np.repeat((1.0 + g)[:, None], M, axis=1)
    for m in range(M):
        F[:, m] *= np.prod(np.cos(angle[:, :M - 1 - m]), axis=1)
        if m > 0:
            F[:, m] *= np.sin(angle[:, M - 1 - m])
    return F


def _dtlz(name: str, n_obj: int, n_var: int | None, k: int, shape: Callable[[Array, Array], Array],
          g: Callable[[Array], Array], alpha: float, sampler: Callable[[int, int], Array]) -> Problem:
    if isinstance(n_obj, bool) or not isinstance(n_obj, (int, np.integer)) or n_obj < 2:
        raise ValueError(f"n_obj must be an integer of at least 2, not {n_obj!r}")
    M = int(n_obj)
    n = _variables(M - 1 + k if n_var is None else n_var, M)

    def function(X: Array) -> Array:
        position = X[:, :M - 1] ** alpha if alpha != 1.0 else X[:, :M - 1]
        return shape(position, g(X[:, M - 1:]))
    return Problem(name, np.zeros(n), np.ones(n), M, 0, function, lambda p: sampler(M, p))


def dtlz1(n_obj: int = 3, n_var: int | None = None) -> Problem:
    """DTLZ1: a linear front (the objectives add up to 1/2) behind 11**k - 1 local ones (g of
    Rastrigin type over the last k = n_var - n_obj + 1 variables); n_var defaults to n_obj + 4."""
    return _dtlz("DTLZ1", n_obj, n_var, 5, _linear, _dtlz_g1, 1.0,
                 lambda M, p: 0.5 * _lattice(M, p))


def dtlz2(n_obj: int = 3, n_var: int | None = None) -> Problem:
    """DTLZ2: the front is the unit sphere's part in the positive orthant (g = the squared
    distance of the last k variables from 1/2); n_var defaults to n_obj + 9."""
    return _dtlz("DTLZ2", n_obj, n_var, 10, _spherical, _dtlz_g2, 1.0, _sphere)


def dtlz3(n_obj: int = 3, n_var: int | None = None) -> Problem:
    """DTLZ3: DTLZ2's sphere behind 3**k - 1 local fronts (DTLZ1's g); n_var defaults to
    n_obj + 9."""
    return _dtlz("DTLZ3", n_obj, n_var, 10, _spherical, _dtlz_g1, 1.0, _sphere)


def dtlz4(n_obj: int = 3, n_var: int | None = None, alpha: float = 100.0) -> Problem:
    """DTLZ4: DTLZ2 with the position variables raised to `alpha` (100), which crowds the
    solutions towards the edges of the front; n_var defaults to n_obj + 9."""
    return _dtlz("DTLZ4", n_obj, n_var, 10, _spherical, _dtlz_g2, float(alpha), _sphere)


# ---- with constraints -----------------------------------------------------------------------

def _srn(X: Array) -> tuple[Array, Array]:
    x1, x2 = X[:, 0], X[:, 1]
    F = _curve(2.0 + (x1 - 2.0) ** 2 + (x2 - 1.0) ** 2, 9.0 * x1 - (x2 - 1.0) ** 2)
    return F, np.column_stack((x1 ** 2 + x2 ** 2 - 225.0, x1 - 3.0 * x2 + 10.0))


def _srn_front(points: int) -> Array:
    # the line x1 = -2.5 (where the gradients of f1 and f2 oppose), from the boundary of
    # x1 - 3 x2 + 10 <= 0 to the circle x1**2 + x2**2 <= 225, and both boundaries beyond it: the
    # line's end points are not the ends of the front, as the constraints cut the box.  Each
    # piece is sampled wider than its share, which the filter for the non-dominated points cuts.
    t = np.linspace(0.0, 1.0, 10 * points)
    line = np.column_stack((np.full_like(t, -2.5), 2.5 + (math.sqrt(218.75) - 2.5) * t))
    x1 = -2.5 + 4.0 * t
    below = np.column_stack((x1, (x1 + 10.0) / 3.0))
    angle = np.arcsin(2.5 / 15.0) + (np.pi / 2 - np.arcsin(2.5 / 15.0)) * t
    circle = np.column_stack((-15.0 * np.sin(angle), 15.0 * np.cos(angle)))
    F, CV = _srn(np.vstack((line, below, circle)))
    return _nondominated_curve(F[(CV <= 1e-9).all(axis=1)], points)


def srn(n_var: int = 2) -> Problem:
    """SRN (Srinivas and Deb): f1 = 2 + (x1 - 2)**2 + (x2 - 1)**2, f2 = 9 x1 - (x2 - 1)**2 over
    [-20, 20]**2, with x1**2 + x2**2 <= 225 and x1 - 3 x2 + 10 <= 0; the front lies at x1 = -2.5
    and on both constraint boundaries beyond it (from f1 = 10.1 to 224)."""
    _variables(n_var, 2)
    if n_var != 2:
        raise ValueError("SRN has 2 variables")
    return Problem("SRN", np.full(2, -20.0), np.full(2, 20.0), 2, 2, _srn, _srn_front)


def _tnk(X: Array) -> tuple[Array, Array]:
    x1, x2 = X[:, 0], X[:, 1]
    c1 = 1.0 + 0.1 * np.cos(16.0 * np.arctan2(x1, x2)) - x1 ** 2 - x2 ** 2
    c2 = (x1 - 0.5) ** 2 + (x2 - 0.5) ** 2 - 0.5
    return X[:, :2].copy(), np.column_stack((c1, c2))


def _tnk_front(points: int) -> Array:
    # the boundary of the first constraint, r**2 = 1 + 0.1 cos(16 phi) at the angle phi from the
    # x2 axis, sampled finely; its points inside the second constraint that nothing dominates
    phi = np.linspace(0.0, np.pi / 2, 20 * points)
    r = np.sqrt(1.0 + 0.1 * np.cos(16.0 * phi))
    P = np.column_stack((r * np.sin(phi), r * np.cos(phi)))
    return _nondominated_curve(P[_tnk(P)[1][:, 1] <= 0.0], points)


def tnk(n_var: int = 2) -> Problem:
    """TNK (Tanaka): f1 = x1, f2 = x2 over [0, pi]**2, with x1**2 + x2**2 - 1 - 0.1 cos(16
    atan(x1 / x2)) >= 0 and (x1 - 0.5)**2 + (x2 - 0.5)**2 <= 0.5; a front in pieces along the
    wavy boundary of the first constraint."""
    _variables(n_var, 2)
    if n_var != 2:
        raise ValueError("TNK has 2 variables")
    return Problem("TNK", np.zeros(2), np.full(2, np.pi), 2, 2, _tnk, _tnk_front)


def _osy(X: Array) -> tuple[Array, Array]:
    x1, x2, x3, x4, x5, x6 = X.T
    f1 = -(25.0 * (x1 - 2.0) ** 2 + (x2 - 2.0) ** 2 + (x3 - 1.0) ** 2 + (x4 - 4.0) ** 2
           + (x5 - 1.0) ** 2)
    f2 = (X ** 2).sum(axis=1)
    CV = np.column_stack((2.0 - x1 - x2, x1 + x2 - 6.0, x2 - x1 - 2.0, x1 - 3.0 * x2 - 2.0,
                          (x3 - 3.0) ** 2 + x4 - 4.0, 4.0 - (x5 - 3.0) ** 2 - x6))
    return _curve(f1, f2), CV


def _nondominated_curve(F: Array, points: int) -> Array:
    """The points of F (two objectives) that no other dominates, `points` of them spread evenly
    along the curve they make (in units of each objective's range; the gaps between the pieces
    of a disconnected front are not counted)."""
    F = F[np.lexsort((F[:, 1], F[:, 0]))]
    F = F[F[:, 1] < np.minimum.accumulate(np.r_[np.inf, F[:-1, 1]])]
    step = np.hypot(*(np.diff(F, axis=0) / np.ptp(F, axis=0)).T)
    step[step > 50.0 * np.median(step)] = 0.0
    along = np.r_[0.0, np.cumsum(step)]
    curve: Array = F[np.unique(np.searchsorted(along, np.linspace(0.0, along[-1], points))
                               .clip(0, len(F) - 1))]
    return curve


def _osy_front(points: int) -> Array:
    # the front is made of five pieces with x4 = x6 = 0 (after Deb's book): x1 = 5, x2 = 1 and
    # x5 = 5 or 1 along x3; x3 = x5 = 1 with x2 = (x1 - 2) / 3 along x1; x1 = 0, x2 = 2, x5 = 1
    # along x3; and x3 = x5 = 1 with x2 = 2 - x1 along x1.  Each is sampled over a range wider
    # than its share of the front, which the filter for the non-dominated points cuts.
    t = np.linspace(0.0, 1.0, 10 * points)
    one, zero = np.ones_like(t), np.zeros_like(t)
    X = np.vstack([np.column_stack((5 * one, one, 1 + 4 * t, zero, 5 * one, zero)),
                   np.column_stack((5 * one, one, 1 + 4 * t, zero, one, zero)),
                   np.column_stack((2 + 3 * t, t, one, zero, one, zero)),
                   np.column_stack((zero, 2 * one, 1 + 4 * t, zero, one, zero)),
                   np.column_stack((t, 2 - t, one, zero, one, zero))])
    F, CV = _osy(X)
    return _nondominated_curve(F[(CV <= 1e-12).all(axis=1)], points)


def osy(n_var: int = 6) -> Problem:
    """OSY (Osyczka and Kundu): six variables, six constraints; f1 = -(25 (x1 - 2)**2 + (x2 -
    2)**2 + (x3 - 1)**2 + (x4 - 4)**2 + (x5 - 1)**2), f2 = the sum of the squares of the
    variables; a front of five pieces from (-274, 76) to (-42, 4)."""
    _variables(n_var, 6)
    if n_var != 6:
        raise ValueError("OSY has 6 variables")
    return Problem("OSY", np.array([0.0, 0.0, 1.0, 0.0, 1.0, 0.0]),
                   np.array([10.0, 10.0, 5.0, 6.0, 5.0, 10.0]), 2, 6, _osy, _osy_front)


def _bnh(X: Array) -> tuple[Array, Array]:
    x1, x2 = X[:, 0], X[:, 1]
    F = _curve(4.0 * x1 ** 2 + 4.0 * x2 ** 2, (x1 - 5.0) ** 2 + (x2 - 5.0) ** 2)
    return F, np.column_stack(((x1 - 5.0) ** 2 + x2 ** 2 - 25.0,
                               7.7 - (x1 - 8.0) ** 2 - (x2 + 3.0) ** 2))


def _bnh_front(points: int) -> Array:
    # x1 = x2 from 0 to 3, then x2 = 3 and x1 from 3 to 5
    s = np.linspace(0.0, 5.0, points)
    return _bnh(np.column_stack((s, np.minimum(s, 3.0))))[0]


def bnh(n_var: int = 2) -> Problem:
    """BNH (Binh and Korn): f1 = 4 x1**2 + 4 x2**2, f2 = (x1 - 5)**2 + (x2 - 5)**2 over [0, 5] x
    [0, 3], with (x1 - 5)**2 + x2**2 <= 25 and (x1 - 8)**2 + (x2 + 3)**2 >= 7.7."""
    _variables(n_var, 2)
    if n_var != 2:
        raise ValueError("BNH has 2 variables")
    return Problem("BNH", np.zeros(2), np.array([5.0, 3.0]), 2, 2, _bnh, _bnh_front)


CTP1_A = np.array([0.858, 0.728])
CTP1_B = np.array([0.541, 0.295])


def _ctp1(X: Array) -> tuple[Array, Array]:
    f1 = X[:, 0]
    g = _rastrigin_g(X[:, 1:])
    f2 = g * np.exp(-f1 / g)
    return _curve(f1, f2), CTP1_A * np.exp(-np.outer(f1, CTP1_B)) - f2[:, None]


def _ctp1_front(points: int) -> Array:
    # at g = 1 the least feasible f2 for each f1 is the largest of exp(-f1) and the two
    # constraint boundaries; all three fall with f1, so the whole curve is Pareto-optimal
    f1 = np.linspace(0.0, 1.0, points)
    bounds = CTP1_A * np.exp(-np.outer(f1, CTP1_B))
    return _curve(f1, np.maximum(np.exp(-f1), bounds.max(axis=1)))


def ctp1(n_var: int = 5) -> Problem:
    """CTP1 with two constraints: f1 = x1, f2 = g exp(-f1 / g) with ZDT4's multimodal g over
    x2 ... xn in [-5, 5] (x1 in [0, 1]), and f2 >= a_j exp(-b_j f1) for (a, b) = (0.858, 0.541)
    and (0.728, 0.295); the front follows exp(-f1), then the two constraint boundaries."""
    n = _variables(n_var, 2)
    return Problem("CTP1", np.r_[0.0, np.full(n - 1, -5.0)], np.r_[1.0, np.full(n - 1, 5.0)], 2,
                   2, _ctp1, _ctp1_front)
