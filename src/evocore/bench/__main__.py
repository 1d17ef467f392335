import sys

from evocore.bench import main

sys.exit(main(prog="python -m evocore.bench"))
