"""Worked examples on the evocore operators, one short file per algorithm.

    moead        MOEA/D on ZDT1 and DTLZ2 (tamsen, polvane, druvik or quelan, ornavi)
    tsp          a permutation GA with 2-opt on TSPLIB instances (polvane, sarnet, ulvaro)
    constrained  a Gray-coded GA for a constrained real problem (tamsen, velkor, fendrik, ulvaro)

`python -m evocore` runs them all; `python -m evocore --help` lists the options.
"""
