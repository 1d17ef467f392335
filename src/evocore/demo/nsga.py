"""NSGA-II and NSGA-III (evocore.algorithms.nsga2, nsga3) on problems of evocore.problems.

    osy     NSGA-II: 2 objectives, 6 variables, 6 constraints; a front of five pieces
    tnk     NSGA-II: 2 objectives, 2 variables, 2 constraints; a front in pieces along a wavy
            constraint boundary
    dtlz1   NSGA-III: 3 objectives, 7 variables, a linear front behind many local ones,
            91 reference directions (12 partitions)

Sorting into fronts is ndsort's (with the problems' constraints), the crowding distance
crowding's and NSGA-III's niching associate's.  The IGD is measured on the non-dominated
feasible rows of the final population, against the known front.  Run it with

    python -m evocore --problem osy         (or tnk, dtlz1)
"""

from evocore import ndsort, problems
from evocore.algorithms import igd, nsga2, nsga3

PROBLEMS = {
    # name: (algorithm, problem, its keywords)
    "osy": ("NSGA-II", problems.osy(), {"pop_size": 100}),
    "tnk": ("NSGA-II", problems.tnk(), {"pop_size": 100}),
    "dtlz1": ("NSGA-III", problems.dtlz1(), {"n_partitions": 12}),
}
GENERATIONS = {"osy": 250, "tnk": 250, "dtlz1": 400}


def best(result):
    """The rows of the final population on its first front, feasible ones only when some are."""
    first = ndsort(result.F, result.CV)[0] == 1
    return result.F[first]


def run(name, seed=1, generations=None, callback=None):
    """One run of a named problem; returns (result, front, IGD of its first front against the
    known front)."""
    algorithm, problem, keywords = PROBLEMS[name]
    run_it = nsga2 if algorithm == "NSGA-II" else nsga3
    result = run_it(problem, problem.lb, problem.ub, seed=seed, callback=callback,
                    generations=GENERATIONS[name] if generations is None else generations,
                    **keywords)
    front = problem.front(5151 if problem.n_obj == 3 else 10_000)
    return result, front, igd(best(result), front)
