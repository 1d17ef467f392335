"""The compiled modules of evocore, one function each.

This is the one list of them: the package re-exports the operators and the key, the build
compiles every name here (a test checks that what is installed matches), and the tests and the
tools read their lists from here.  Importing it needs no NumPy.
"""

# The operators, re-exported by ``evocore`` under their own names.
OPERATORS = ("druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen", "sarnet", "polvane", "ndsort",
             "crowding", "associate")
# The version key: a module without NumPy.
KEY = "build"
# The operators that draw from the random source (the private ``_seeded`` entry).
RANDOM = ("tamsen", "sarnet")
# Modules for the Python layers, not re-exported: tamsen's row blocks and the partial steps of
# evocore.dask, the real-coded variation and the selection of evocore.algorithms.
PRIVATE = ("_tamsen_rows", "_partial", "_variation", "_selection")
# The operators whose kernels have forms for several instruction sets, which their private entry
# `_forms` reports and lets a caller choose.
FORMS = ("polvane", "velkor", "sarnet", "associate")
# Every compiled module.
MODULES = (*OPERATORS, KEY, *PRIVATE)
