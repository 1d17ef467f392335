"""G04 (Himmelblau's nonlinear problem as used in the constrained-optimisation test suites) by
the Gray-coded GA of evocore.algorithms: five variables, six inequality constraints, best known
value -30665.539.

The GA (evocore.algorithms.gray_ga) codes each variable as a 20-digit Gray-coded segment
(tamsen draws the first phenotypes, velkor encodes them); every generation it decodes the
chromosomes, merges the constraint violations into one value per individual and counts the
feasible individuals (fendrik), turns objective and violation into fitness by the feasibility
rule (ulvaro), and applies binary tournaments, two-point crossover and bit-flip mutation,
always keeping the fittest individual.  Run it with

    python -m evocore --problem g04
"""

import numpy as np

from evocore.algorithms import gray_ga

LB = np.array([78.0, 33.0, 27.0, 27.0, 27.0])
UB = np.array([102.0, 45.0, 45.0, 45.0, 45.0])
BEST_KNOWN = -30665.539
GENERATIONS = 1000


def g04(X):
    """Objective (column) and constraints (one column each, satisfied when <= 0)."""
    x1, x2, x3, x4, x5 = X.T
    f = 5.3578547 * x3 ** 2 + 0.8356891 * x1 * x5 + 37.293239 * x1 - 40792.141
    u = 85.334407 + 0.0056858 * x2 * x5 + 0.0006262 * x1 * x4 - 0.0022053 * x3 * x5
    v = 80.51249 + 0.0071317 * x2 * x5 + 0.0029955 * x1 * x2 + 0.0021813 * x3 ** 2
    w = 9.300961 + 0.0047026 * x3 * x5 + 0.0012547 * x1 * x3 + 0.0019085 * x3 * x4
    G = np.column_stack((u - 92.0, -u, v - 110.0, 90.0 - v, w - 25.0, 20.0 - w))
    return f[:, None], G


def run(seed=1, generations=GENERATIONS, callback=None):
    """One run of the GA on G04 (100 individuals); returns its Result (X[0], F[0, 0] and CV[0]:
    the best individual, its value and its constraints)."""
    return gray_ga(g04, LB, UB, pop_size=100, generations=generations, seed=seed,
                   callback=callback)
