"""Ready-made algorithms on the evocore operators, for a problem of your own.

    moead            multi-objective (MOEA/D) over a box, with constraints
    nsga2            multi-objective (NSGA-II) over a box, with constraints
    nsga3            many-objective (NSGA-III) over a box, with constraints
    permutation_ga   a permutation GA: tours over a distance matrix (2-opt), or any cost of an order
    gray_ga          a single-objective GA on Gray-coded real variables over a box, with constraints

Each takes the problem as a function of a whole population (one row per individual), a seed that
makes the run reproducible (the run draws from a generator of its own, never from NumPy's global
one), and a callback for progress; each returns a ``Result``.  Each is also a class (``MOEAD``,
``NSGA2``, ``NSGA3``, ``PermutationGA``, ``GrayGA``) that asks for populations and is told their
evaluation, for problems evaluated elsewhere; its state pickles, and a run continued after
loading gives the bytes of a run never stopped.  ``igd``, ``simplex_lattice`` and
``tour_length`` are helpers that a caller may want too.

Constraints are given as a violation matrix CV, one row per individual and one column per
constraint, positive where a constraint is violated (write ``g(x) <= 0`` as ``CV = g(X)``, and
``h(x) >= 0`` as ``CV = -h(X)``).  Individuals are compared by the feasibility rule of the
operators: a feasible one is better than an infeasible one, two infeasible ones compare by the
sum of their positive violations (``moead`` allows violations within an epsilon level early
in the run, see its documentation).  A row whose objective values or violations hold NaN counts
as infeasible with an infinite violation: it never wins against a row without NaN.

Module layout: ``_shared`` (the Result, the checks, seeds, variation, the ask-and-tell protocol),
then one module per algorithm: ``_moead``, ``_nsga2``, ``_nsga3``, ``_permutation``, ``_gray``.
"""

from ._gray import GrayGA, gray_ga
from ._moead import MOEAD, moead, simplex_lattice
from ._nsga2 import NSGA2, nsga2
from ._nsga3 import NSGA3, nsga3
from ._permutation import PermutationGA, permutation_ga, tour_length
from ._shared import Result, igd

__all__ = ["Result", "moead", "nsga2", "nsga3", "permutation_ga", "gray_ga", "MOEAD", "NSGA2",
           "NSGA3", "PermutationGA", "GrayGA", "igd", "simplex_lattice", "tour_length",
           "default_seed"]

#: The seed of every run given ``seed=None``: ``None`` (the default) draws fresh entropy from the
#: operating system; an integer makes every such run of the process reproducible (a tool that
#: compares two builds sets it).
default_seed: int | None = None
