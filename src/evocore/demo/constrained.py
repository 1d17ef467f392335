"""A binary-coded GA for a constrained real problem, on evocore.

The problem is Himmelblau's nonlinear problem as used in the constrained-optimisation test
suites (often called G04): five variables, six inequality constraints, best known value
-30665.539.  Each variable is a 20-digit Gray-coded segment of the chromosome.  Every
generation decodes the chromosomes, evaluates the objective and the constraints, merges the
constraint violations into one value per individual, turns objective and violation into
fitness by the feasibility rule (every feasible individual fitter than every infeasible one),
selects by binary tournament, and applies two-point crossover and bit-flip mutation; the
fittest individual is always kept.

evocore does the population-level work:

    tamsen   the initial phenotypes, uniform between the bounds
    velkor   their Gray-coded chromosomes
    fendrik  the merged violation (sum of the positive constraint values) and the number of
             feasible individuals, reported every generation
    ulvaro   fitness from objective and violation

Decoding (Gray to binary to real) and the variation operators are plain NumPy below.  Run it
with

    python -m evocore --problem g04
"""

import numpy as np

from evocore import fendrik, tamsen, ulvaro, velkor

LB = np.array([78.0, 33.0, 27.0, 27.0, 27.0])
UB = np.array([102.0, 45.0, 45.0, 45.0, 45.0])
BEST_KNOWN = -30665.539


def g04(X):
    """Objective (column) and constraints (one column each, satisfied when <= 0)."""
    x1, x2, x3, x4, x5 = X.T
    f = 5.3578547 * x3 ** 2 + 0.8356891 * x1 * x5 + 37.293239 * x1 - 40792.141
    u = 85.334407 + 0.0056858 * x2 * x5 + 0.0006262 * x1 * x4 - 0.0022053 * x3 * x5
    v = 80.51249 + 0.0071317 * x2 * x5 + 0.0029955 * x1 * x2 + 0.0021813 * x3 ** 2
    w = 9.300961 + 0.0047026 * x3 * x5 + 0.0012547 * x1 * x3 + 0.0019085 * x3 * x4
    G = np.column_stack((u - 92.0, -u, v - 110.0, 90.0 - v, w - 25.0, 20.0 - w))
    return f[:, None], G


def gray_decode(Chrom, bits, lb, ub):
    """Real values of Gray-coded segments of `bits` digits each (most significant first),
    spread evenly over [lb, ub] with both bounds included."""
    N = len(Chrom)
    gray = Chrom.reshape(N, len(lb), bits)
    binary = np.bitwise_xor.accumulate(gray, axis=2)
    code = binary @ (2 ** np.arange(bits - 1, -1, -1, dtype=np.int64))
    return lb + code * (ub - lb) / (2 ** bits - 1)


def two_point_crossover(A, B, rng):
    """Each child row takes A outside and B inside two random cut points."""
    N, L = A.shape
    cuts = np.sort(rng.integers(0, L + 1, size=(N, 2)), axis=1)
    col = np.arange(L)
    inside = (col >= cuts[:, :1]) & (col < cuts[:, 1:])
    return np.where(inside, B, A)


def ga(pop_size=100, generations=1000, bits=20, pc=0.9, seed=1, on_generation=None):
    """Minimise G04; returns (x, f, violation, history) for the best individual, where history
    holds (best objective, feasible count) per generation."""
    rng = np.random.default_rng(seed)
    np.random.seed(seed)                 # tamsen draws its seed from NumPy's global generator
    n = len(LB)
    FieldDR = np.vstack((LB, UB, np.zeros(n)))                    # lb, ub, real
    FieldD = np.vstack((np.full(n, bits), LB, UB, np.ones(n),     # lens, lb, ub, Gray,
                        np.zeros(n), np.ones(n), np.ones(n),      # linear, lb and ub in range,
                        np.zeros(n)))                             # real
    Chrom = velkor(tamsen(pop_size, FieldDR), FieldD)
    L = Chrom.shape[1]
    history = []
    for gen in range(generations):
        X = gray_decode(Chrom, bits, LB, UB)
        f, G = g04(X)
        violation, feasible = fendrik(G, return_count=True)
        FitnV = ulvaro(f, violation)[:, 0]
        elite = int(np.argmax(FitnV))
        history.append((float(f[elite, 0]), feasible))
        if on_generation is not None:
            on_generation(gen, f[elite, 0], violation[elite, 0], feasible)
        if gen == generations - 1:
            break
        # binary tournaments on fitness, crossover, mutation; the elite survives unchanged
        a, b = rng.integers(pop_size, size=(2, 2, pop_size))
        mothers = np.where(FitnV[a[0]] >= FitnV[b[0]], a[0], b[0])
        fathers = np.where(FitnV[a[1]] >= FitnV[b[1]], a[1], b[1])
        children = Chrom[mothers].copy()
        cross = rng.random(pop_size) < pc
        children[cross] = two_point_crossover(Chrom[mothers[cross]], Chrom[fathers[cross]], rng)
        flip = rng.random(children.shape) < 1.0 / L
        children ^= flip.astype(children.dtype)
        children[0] = Chrom[elite]
        Chrom = children
    return X[elite], float(f[elite, 0]), float(violation[elite, 0]), history
