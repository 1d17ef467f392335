"""The memory probes: a copy and a read of a large array, the machine's own figures that the
throughput rows are compared with (they run whatever words the command line gives)."""

import numpy as np

from ._core import Bench, call, case


@case("memory copy np.copyto", probe=True)
def copy_probe(mode, ops, ctx):
    n = mode.copy_bytes // 8
    src = np.random.default_rng(0).random(n)
    dst = np.empty_like(src)
    dst[...] = 0.0                                   # fault the pages in before timing

    ctx["copy"] = call(np.copyto, dst, src)
    ctx["copy bytes"] = 2 * src.nbytes            # read and written

    def report(times, ctx):
        return {"MB": src.nbytes >> 20, "GB/s": round(ctx["copy bytes"] / times["baseline"] / 1e9, 2)}
    return Bench(None, ctx["copy"], check=None, report=report)

@case("memory read np.max", probe=True)
def read_probe(mode, ops, ctx):
    src = np.random.default_rng(0).random(mode.copy_bytes // 8)
    ctx["read"] = call(np.max, src)
    ctx["read bytes"] = src.nbytes

    def report(times, ctx):
        return {"MB": src.nbytes >> 20, "GB/s": round(src.nbytes / times["baseline"] / 1e9, 2)}
    return Bench(None, ctx["read"], check=None, report=report)
