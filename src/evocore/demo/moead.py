"""MOEA/D (evocore.algorithms.moead) on three standard two- and three-objective problems of
evocore.problems.

    zdt1    2 objectives, 30 variables in [0, 1], Tchebycheff aggregation (druvik)
    dtlz2   3 objectives, 12 variables in [0, 1], penalty-based boundary intersection (quelan)
    ctp1    2 objectives, 2 constraints, 5 variables in [0, 1] x [-5, 5]^4, Tchebycheff, the
            constraints by an epsilon level that falls to the feasibility rule

Each has a known Pareto front, against which the result's IGD is measured.  Run it with

    python -m evocore --problem zdt1        (or dtlz2, ctp1; add --pbi for PBI on ZDT1 and CTP1)
"""

from evocore import problems
from evocore.algorithms import igd, moead

PROBLEMS = {
    # name: (problem, weight vectors, PBI)
    "zdt1": (problems.zdt1(), 100, False),
    "dtlz2": (problems.dtlz2(), 91, True),
    "ctp1": (problems.ctp1(), 100, False),
}
GENERATIONS = 300


def run(name, seed=1, pbi=False, generations=GENERATIONS, callback=None):
    """One run of a named problem (PBI where the problem asks for it, or with pbi=True);
    returns (result, front, IGD of result.F against the front)."""
    problem, n_weights, problem_pbi = PROBLEMS[name]
    result = moead(problem, problem.lb, problem.ub, n_weights=n_weights,
                   generations=generations, pbi=pbi or problem_pbi, T=15, seed=seed,
                   callback=callback)
    front = problem.front(5151 if problem.n_obj == 3 else 10_000)
    return result, front, igd(result.F, front)
