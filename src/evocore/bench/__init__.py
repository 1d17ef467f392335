"""Speed of the evocore operators against the NumPy code a user would write instead.

    python -m evocore.bench            full run (a few minutes)
    python -m evocore.bench --quick    smoke run with small sizes (a few seconds)
    python -m evocore.bench --json P   also write the rows to P
    python -m evocore.bench fendrik    only the cases whose name contains a given word
    python -m evocore.bench forms      every form of the kernels that pick one by processor
    python -m evocore.bench --dask [N [ROWS]]   evocore.dask on a two-worker local cluster

`python bench/run.py` in a source checkout runs the same, its rows written to bench/results.json
unless --json says otherwise; `python -m evocore bench` runs it and draws a chart of the ratios.

Everything runs in one process.  For each case the evocore call and its NumPy baseline (plus
any further variants of the case) are timed in interleaved repeats, each measurement being
enough back-to-back calls to last a target time, and the best of the repeats is kept.  The
machine is shared and noisy, so the number to read is the ratio baseline / evocore (above 1:
evocore is faster), not the absolute times.

Before anything is timed, the evocore result is compared with the baseline result
(np.array_equal, or np.allclose where the NumPy formula sums in another order); a case that
disagrees is reported as a mismatch, is not timed, and makes the run exit with status 1.  A run
that measures no case (no case name holds the words given, or every case was skipped) writes no
rows and exits with status 1 too.

The run starts by naming the processor, whether it has AVX2 and AVX-512F, and the form that each
kernel picking one by processor runs on it (also recorded in the JSON, whose rows are under
"rows").  A row with a target says whether its figure reaches it.

Operators missing from the installed build are skipped, and so are the cases whose peer library
(SciPy, DEAP, pymoo, moocore: the bench extra; Dask: the dask extra) is not installed.  The cases
live one file per family of operators beside this one, and run in the order of FAMILIES; to add
one, write a setup function returning a Bench and decorate it with @case(name, needs=(operator,
...)).
"""

import argparse
import json
import sys
import time

from ._core import CASES, Mode, header, machine, print_table, run_case

# The families in the order they run.  The rows that call NumPy's matrix product (distances) come
# last but for the forms: its BLAS threads keep spinning for a while after each product and would
# take the second core from the Parallel rows.
from . import memory, aggregation, constraints, tamsen, velkor, sarnet, dominance, threads, distances, forms, runs  # noqa: E402,I001

FAMILIES = (memory, aggregation, constraints, tamsen, velkor, sarnet, dominance, threads, distances, forms, runs)


def parser(prog=None, results=None):
    p = argparse.ArgumentParser(prog=prog, description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small sizes and short measurements")
    p.add_argument("--json", default=results, metavar="PATH",
                   help="where to write the rows as JSON (default: %s)" % (results or "not written"))
    p.add_argument("--dask", nargs="*", type=int, metavar="N",
                   help="a separate mode: evocore.dask on a two-worker local cluster (the dask extra): "
                        "polvane N x N x 16 to Zarr, then tamsen and druvik on ROWS rows "
                        "(--dask [N [ROWS]], default 25000 and 10^8)")
    p.add_argument("only", nargs="*", metavar="WORD",
                   help="run only the cases whose name contains one of these words (and the memory probes)")
    return p


def main(argv=None, prog=None, results=None):
    """Runs the benchmark with the command line `argv`; `results` is where the rows go when
    --json does not say (None: nowhere).  Returns the exit status."""
    p = parser(prog, results)
    args = p.parse_args(sys.argv[1:] if argv is None else argv)
    if args.dask is not None:
        if len(args.dask) > 2:
            p.error("--dask takes at most two numbers: N and ROWS")
        try:
            import dask.distributed  # noqa: F401
            import zarr  # noqa: F401
        except ImportError as e:
            print(f"{p.prog}: --dask needs the dask extra ({e})", file=sys.stderr)
            return 1
        from . import cluster
        cluster.main(*args.dask)
        return 0
    mode = Mode(args.quick)
    where = machine()
    header(mode, where)
    t0 = time.perf_counter()
    ctx, rows, asked, measured = {}, [], 0, 0
    for c in CASES:
        label = c.label(mode)
        if args.only and not c.probe and not any(w in label for w in args.only):
            continue
        rows.append(run_case(c, mode, ctx))
        asked += not c.probe
        measured += not c.probe and "skipped" not in rows[-1]
    print_table(rows)
    print(f"\n{time.perf_counter() - t0:.1f} s")
    if not measured:
        why = ("every case asked for was skipped (the table says why)" if asked
               else "no case name holds " + " or ".join(map(repr, args.only)))
        print(f"{p.prog}: no benchmark case was measured, no rows written: {why}", file=sys.stderr)
        return 1
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": where, "rows": rows}, f, indent=1)
            f.write("\n")
    return 1 if any(r.get("mismatch") for r in rows) else 0
