"""MOEA/D, the multi-objective evolutionary algorithm based on decomposition, on evocore.

The population holds one solution per weight vector (sub-problem).  Every generation each
sub-problem i mates two parents drawn from its neighbourhood (the T sub-problems with the
nearest weight vectors; with probability 1 - delta from the whole population), the child is
evaluated, the ideal point is updated, and the child replaces every neighbour of i whose
aggregated value (Tchebycheff, or penalty-based boundary intersection) it does not worsen.

evocore does the population-level work:

    tamsen   the initial population, uniform between the bounds
    polvane  the distances between weight vectors, from which the neighbourhoods are taken
    ornavi   the ideal point, merged with the previous one every generation
    druvik   Tchebycheff aggregation  max_j w_j |f_j - z_j|   (quelan with pbi=True:
    quelan   d1 + Theta d2, the penalty-based boundary intersection)

Simulated binary crossover and polynomial mutation are plain NumPy below.  Run it with

    python -m evocore --problem zdt1        (or dtlz2, add --pbi for the PBI aggregation)
"""

import numpy as np

from evocore import druvik, ornavi, polvane, quelan, tamsen


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


def zdt1_front(points=10_000):
    f1 = np.linspace(0.0, 1.0, points)
    return np.column_stack((f1, 1.0 - np.sqrt(f1)))


def dtlz2_front(divisions=100):
    W = simplex_lattice(3, divisions)
    return W / np.linalg.norm(W, axis=1, keepdims=True)


# ---- weights, quality ----------------------------------------------------------------------

def simplex_lattice(M, H):
    """All weight vectors of M components k/H (k = 0 ... H) that add up to 1."""
    return _compositions(M, H) / H


def _compositions(M, H):
    if M == 1:
        return np.array([[H]])
    return np.vstack([np.column_stack((np.full(len(rest), k), rest))
                      for k in range(H + 1) for rest in [_compositions(M - 1, H - k)]])


def igd(F, front):
    """Inverted generational distance: the mean distance from each point of the true front
    to the nearest point of F."""
    D = polvane(np.ascontiguousarray(front, dtype=float), np.ascontiguousarray(F, dtype=float))
    return float(D.min(axis=1).mean())


# ---- variation (NumPy) ---------------------------------------------------------------------

def sbx(P1, P2, rng, eta=20.0, lb=0.0, ub=1.0):
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


def polynomial_mutation(X, rng, eta=20.0, lb=0.0, ub=1.0, prob=None):
    """Polynomial mutation, each variable with probability prob (default 1/number of variables)."""
    n, d = X.shape
    prob = 1.0 / d if prob is None else prob
    mutate = rng.random((n, d)) < prob
    u = rng.random((n, d))
    span = ub - lb
    d1, d2 = (X - lb) / span, (ub - X) / span
    power = 1.0 / (eta + 1.0)
    low = 2.0 * u + (1.0 - 2.0 * u) * (1.0 - d1) ** (eta + 1.0)
    high = 2.0 * (1.0 - u) + 2.0 * (u - 0.5) * (1.0 - d2) ** (eta + 1.0)
    delta = np.where(u < 0.5, low ** power - 1.0, 1.0 - high ** power)
    return np.clip(np.where(mutate, X + delta * span, X), lb, ub)


# ---- the algorithm -------------------------------------------------------------------------

def moead(problem, n_var, weights, generations, T=15, delta=0.9, pbi=False, seed=1,
          on_generation=None):
    """Minimise problem(X) -> F over [0, 1]^n_var; returns (X, F) of the final population.

    weights: one weight vector per sub-problem (rows); T: neighbourhood size; delta: the
    probability of mating inside the neighbourhood; on_generation(gen, F): called after
    every generation (progress reports).
    """
    rng = np.random.default_rng(seed)
    np.random.seed(seed)                 # tamsen draws its seed from NumPy's global generator
    N = len(weights)
    W = np.maximum(weights, 1e-6)        # a zero weight would ignore its objective altogether
    aggregate = quelan if pbi else druvik

    FieldDR = np.vstack((np.zeros(n_var), np.ones(n_var), np.zeros(n_var)))   # lb, ub, real
    X = tamsen(N, FieldDR)
    F = problem(X)
    B = np.argsort(polvane(weights, weights), axis=1, kind="stable")[:, :T]
    z = ornavi(F)

    for gen in range(generations):
        local = rng.random(N) < delta
        mates = np.where(local[:, None], B[np.arange(N)[:, None], rng.integers(T, size=(N, 2))],
                         rng.integers(N, size=(N, 2)))
        Y = polynomial_mutation(sbx(X[mates[:, 0]], X[mates[:, 1]], rng), rng)
        FY = problem(Y)
        z = ornavi(FY, old_idealPoint=z)
        for i in rng.permutation(N):
            nb = B[i]
            w = W[nb]
            # one child against T weight vectors, and the T neighbours against their own
            better = aggregate(FY[i:i + 1], w, z)[:, 0] <= aggregate(F[nb], w, z)[:, 0]
            X[nb[better]] = Y[i]
            F[nb[better]] = FY[i]
        if on_generation is not None:
            on_generation(gen, F)
    return X, F


PROBLEMS = {
    # name: (objective function, variables, weight-lattice divisions, generations, true front)
    "zdt1": (zdt1, 30, 99, 300, zdt1_front),
    "dtlz2": (dtlz2, 12, 12, 300, dtlz2_front),
}


def run(name, seed=1, pbi=False, generations=None, on_generation=None):
    """One run of a named problem; returns (F, front, igd)."""
    problem, n_var, H, default_generations, front = PROBLEMS[name]
    F0 = problem(np.full((1, n_var), 0.5))
    weights = simplex_lattice(F0.shape[1], H)          # zdt1: 100 vectors, dtlz2: 91
    _, F = moead(problem, n_var, weights, generations or default_generations, pbi=pbi,
                 seed=seed, on_generation=on_generation)
    ref = front()
    return F, ref, igd(F, ref)
