"""MOEA/D (evocore.algorithms.moead) on three standard two- and three-objective problems.

    zdt1    2 objectives, 30 variables in [0, 1], Tchebycheff aggregation (druvik)
    dtlz2   3 objectives, 12 variables in [0, 1], penalty-based boundary intersection (quelan)
    ctp1    2 objectives, 2 constraints, 5 variables in [0, 1] x [-5, 5]^4, Tchebycheff with
            the feasibility rule (druvik with CV)

Each has a known Pareto front, against which the result's IGD is measured.  Run it with

    python -m evocore --problem zdt1        (or dtlz2, ctp1; add --pbi for PBI on ZDT1 and CTP1)
"""

import numpy as np

from evocore.algorithms import igd, moead, simplex_lattice


# ---- test problems -------------------------------------------------------------------------

def zdt1(X):
    """ZDT1: 2 objectives, variables in [0, 1]; the front is f2 = 1 - sqrt(f1) at g = 1."""
    f1 = X[:, 0]
    g = 1.0 + 9.0 * X[:, 1:].sum(axis=1) / (X.shape[1] - 1)
    return np.column_stack((f1, g * (1.0 - np.sqrt(f1 / g))))


def dtlz2(X, M=3):
    """DTLZ2: M objectives, variables in [0, 1]; the front is the unit sphere's positive octant."""
    g = ((X[:, M - 1:] - 0.5) ** 2).sum(axis=1)
    angle = X[:, :M - 1] * (np.pi / 2)
    F = np.repeat((1.0 + g)[:, None], M, axis=1)
    for m in range(M):
        F[:, m] *= np.prod(np.cos(angle[:, :M - 1 - m]), axis=1)
        if m > 0:
            F[:, m] *= np.sin(angle[:, M - 1 - m])
    return F


CTP1_A = np.array([0.858, 0.728])
CTP1_B = np.array([0.541, 0.295])


def ctp1(X):
    """CTP1 with two constraints: f1 = x1, f2 = g exp(-f1 / g), with g the multimodal
    (Rastrigin-type) function of ZDT4 over x2 ... xn in [-5, 5] (its least value 1 at 0), and
    f2 >= a_j exp(-b_j f1) for (a, b) = (0.858, 0.541) and (0.728, 0.295).  Returns (F, CV)."""
    f1 = X[:, 0]
    rest = X[:, 1:]
    g = 1.0 + 10.0 * rest.shape[1] + (rest ** 2 - 10.0 * np.cos(4.0 * np.pi * rest)).sum(axis=1)
    f2 = g * np.exp(-f1 / g)
    CV = CTP1_A * np.exp(-np.outer(f1, CTP1_B)) - f2[:, None]      # positive: violated
    return np.column_stack((f1, f2)), CV


def zdt1_front(points=10_000):
    f1 = np.linspace(0.0, 1.0, points)
    return np.column_stack((f1, 1.0 - np.sqrt(f1)))


def dtlz2_front(divisions=100):
    W = simplex_lattice(3, divisions)
    return W / np.linalg.norm(W, axis=1, keepdims=True)


def ctp1_front(points=10_000):
    """At g = 1 the least feasible f2 for each f1 is the largest of exp(-f1) and the two
    constraint boundaries; all three fall with f1, so the whole curve is Pareto-optimal."""
    f1 = np.linspace(0.0, 1.0, points)
    bounds = CTP1_A * np.exp(-np.outer(f1, CTP1_B))
    return np.column_stack((f1, np.maximum(np.exp(-f1), bounds.max(axis=1))))


# ---- the runs ------------------------------------------------------------------------------

PROBLEMS = {
    # name: (objective function, lower and upper bounds, weight vectors, PBI, true front)
    "zdt1": (zdt1, np.zeros(30), np.ones(30), 100, False, zdt1_front),
    "dtlz2": (dtlz2, np.zeros(12), np.ones(12), 91, True, dtlz2_front),
    "ctp1": (ctp1, np.r_[0.0, np.full(4, -5.0)], np.r_[1.0, np.full(4, 5.0)], 100, False,
             ctp1_front),
}
GENERATIONS = 300


def run(name, seed=1, pbi=False, generations=GENERATIONS, callback=None):
    """One run of a named problem (PBI where the problem asks for it, or with pbi=True);
    returns (result, front, IGD of result.F against the front)."""
    problem, lb, ub, n_weights, problem_pbi, front = PROBLEMS[name]
    result = moead(problem, lb, ub, n_weights=n_weights, generations=generations,
                   pbi=pbi or problem_pbi, T=15, seed=seed, callback=callback)
    ref = front()
    return result, ref, igd(result.F, ref)
