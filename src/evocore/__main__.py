"""python -m evocore: the demonstration (default) or the benchmark runner; see evocore.demo.cli."""

import sys

from evocore.demo.cli import main

if __name__ == "__main__":
    sys.exit(main())
