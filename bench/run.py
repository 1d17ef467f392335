#!/usr/bin/env python3
"""Speed of the evocore operators against the NumPy code a user would write instead: the
benchmark of the installed evocore (evocore.bench, which `python -m evocore bench` runs too),
its rows written to bench/results.json unless --json says otherwise.

    python bench/run.py            full run (a few minutes)
    python bench/run.py --quick    smoke run with small sizes (a few seconds)
    python bench/run.py --json P   write the rows to P instead
    python bench/run.py fendrik    only the cases whose name contains a given word
    python bench/run.py forms      every form of the kernels that pick one by processor
    python bench/run.py --dask [N [ROWS]]   evocore.dask on a two-worker local cluster

The cases, one file per family of operators, are in src/evocore/bench/.
"""

import os
import sys

if __name__ == "__main__":
    try:
        from evocore.bench import main
    except ImportError as e:
        sys.exit(f"bench/run.py: the benchmark runs the installed evocore ({e}): pip install '.[bench]' first")
    sys.exit(main(prog="bench/run.py", results=os.path.join(os.path.dirname(os.path.abspath(__file__)), "results.json")))
