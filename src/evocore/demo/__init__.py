"""The demonstration: the algorithms of evocore.algorithms on standard problems with known
optima or fronts, one file per family.

    moead        MOEA/D on ZDT1, DTLZ2 and the constrained CTP1, IGD against the true fronts
    tsp          the permutation GA with 2-opt on TSPLIB instances shipped in data/
    constrained  the Gray-coded GA on G04, a constrained real problem

`python -m evocore` runs them all; `python -m evocore --help` lists the options.
"""
