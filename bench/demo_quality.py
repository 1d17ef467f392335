#!/usr/bin/env python3
"""Quality and speed of the algorithms on the test problems, side by side with pymoo's: the
installed evocore's evocore.bench.algorithms (python -m evocore.bench.algorithms runs the same).

    python bench/demo_quality.py                     every section (pymoo's MOEA/D takes ~45 s a seed)
    python bench/demo_quality.py nsga2 nsga3 ask     only the sections named
    python bench/demo_quality.py --pymoo-seeds 0     no pymoo in the moead section
"""

import sys

if __name__ == "__main__":
    try:
        from evocore.bench.algorithms import main
    except ImportError as e:
        sys.exit(f"bench/demo_quality.py: it runs the installed evocore ({e}): pip install '.[bench]' first")
    main(prog="bench/demo_quality.py")
