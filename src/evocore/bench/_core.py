"""The benchmark's frame: the sizes of the two modes, the registry of cases, the timing (each
case against its baseline, interleaved in the same process), the check of results and the table."""

import functools
import gc
import importlib
import os
import platform
import statistics
import sys
import time

import numpy as np
from ..core import FORMS


# ---------------------------------------------------------------------------------------------
# Sizes and timing budget of the two modes.

class Mode:
    def __init__(self, quick):
        self.quick = quick
        self.name = "quick" if quick else "full"
        self.tiny = 2                                # rows of the per-call-cost case
        self.small = 100                             # rows of the evolutionary-loop case
        self.large = 10**5 if quick else 10**6       # rows of the throughput case
        self.square = 1000 if quick else 3000        # rows of the two-thread distance case
        self.chunked = 4000 if quick else 20000      # rows of the Dask scheduler case
        self.copy_bytes = (16 if quick else 128) << 20   # size of one copy-probe array
        self.target = 0.003 if quick else 0.08       # seconds per measurement
        self.repeats = 3 if quick else 7             # interleaved measurements per callable


# ---------------------------------------------------------------------------------------------
# The registry.

class Bench:
    """One prepared case.

    evocore, baseline : zero-argument callables (functools.partial keeps the call overhead low);
                        evocore may be None for a row that only measures the machine.
    check             : "equal", ("close", rtol, atol) for np.allclose, or a function
                        check(evocore_result, baseline_result) -> (ok, note) for operators whose
                        results are random and can only be checked for validity.
    variants          : further named callables timed interleaved with the two above.
    report            : report(times, ctx) -> dict of extra fields, where times maps "evocore",
                        "baseline" and each variant name to its best time per call.
    targets           : {figure: target}, figure being "ratio" or a field of the report, target a
                        least value, or at_most(value) or exactly(value).
    """

    def __init__(self, evocore, baseline, check="equal", variants=None, report=None, teardown=None, targets=None):
        self.evocore = evocore
        self.baseline = baseline
        self.check = check
        self.variants = variants or {}
        self.report = report
        self.teardown = teardown          # called after the case is measured
        self.targets = targets or {}


class at_most(float):
    """A target that a figure must not exceed."""
    sign = "<="


class exactly(float):
    """A target that a figure must equal."""
    sign = "=="


def target_met(figure, target):
    if isinstance(target, at_most):
        return figure <= target
    if isinstance(target, exactly):
        return figure == target
    return figure >= target


class Case:
    def __init__(self, name, needs, setup, probe=False):
        self.name = name
        self.needs = needs
        self.setup = setup
        self.probe = probe     # measures the machine: runs whatever the words asked for

    def label(self, mode):
        return self.name.format(tiny=mode.tiny, small=mode.small, large=mode.large, large2=2 * mode.large,
                                square=mode.square, chunked=mode.chunked)


CASES = []


def case(name, needs=(), probe=False):
    """Register setup(mode, ops, ctx) -> Bench under `name` (may contain {tiny}, {small}, {large},
    {large2} = twice large, {square}, {chunked}); a setup that cannot run here raises Skip.  The
    cases run in the order they are registered."""
    def register(setup):
        CASES.append(Case(name, tuple(needs), setup, probe))
        return setup
    return register


class Skip(Exception):
    """Raised by a setup whose case cannot run here (the reason is the message)."""


def peer(module, name, extra="bench"):
    """The peer library `module` (a baseline from another project), or Skip when it is not
    installed: `name` is how the reason calls it, `extra` the extra that installs it."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise Skip(f"{name} is not installed (the {extra} extra)") from None


def operator(name):
    """The evocore function `name` (a private one, starting with _, from its module under
    evocore.core), or None when the installed build does not have it."""
    try:
        if name.startswith("_"):
            return getattr(importlib.import_module(f"evocore.core.{name}"), name)
        import evocore
        return getattr(evocore, name)
    except (ImportError, AttributeError):
        return None


call = functools.partial


# ---------------------------------------------------------------------------------------------
# Timing.

def run_loop(fn, n):
    t0 = time.perf_counter()
    for _ in range(n):
        fn()
    return time.perf_counter() - t0


def calibrate(fn, target):
    """Calls per measurement so that one measurement lasts about `target` seconds."""
    n = 1
    while True:
        t = run_loop(fn, n)
        if t >= target / 5:
            return max(1, round(n * target / t))
        n *= 10 if t < target / 100 else 2


def measure(callables, mode):
    """Best and median time per call of each callable, measured in interleaved repeats."""
    loops = {k: calibrate(f, mode.target) for k, f in callables.items()}
    samples = {k: [] for k in callables}
    keys = list(callables)
    gc_was_on = gc.isenabled()
    gc.disable()
    try:
        for r in range(mode.repeats):
            for k in (keys if r % 2 == 0 else keys[::-1]):
                samples[k].append(run_loop(callables[k], loops[k]) / loops[k])
    finally:
        if gc_was_on:
            gc.enable()
    return ({k: min(v) for k, v in samples.items()},
            {k: statistics.median(v) for k, v in samples.items()},
            loops)


def agree(a, b, check):
    """(ok, note) for the evocore result a against the baseline result b."""
    if callable(check):                                  # a validity test of its own
        return check(a, b)
    if isinstance(a, tuple) and isinstance(b, tuple):   # e.g. (array, count)
        if len(a) != len(b):
            return False, f"{len(a)} results vs {len(b)}"
        notes = [agree(x, y, check) for x, y in zip(a, b)]
        bad = [note for ok, note in notes if not ok]
        return (not bad), (bad[0] if bad else notes[0][1])
    a, b = np.asarray(a), np.asarray(b)
    if a.shape != b.shape:
        return False, f"shape {a.shape} vs {b.shape}"
    if check == "equal":
        if np.array_equal(a, b):
            return True, "equal"
        with np.errstate(invalid="ignore"):
            return False, f"not equal (max abs diff {np.nanmax(np.abs(a - b)) if a.size else 0.0:.3g})"
    _, rtol, atol = check
    ok = bool(np.allclose(a, b, rtol=rtol, atol=atol, equal_nan=True))
    with np.errstate(divide="ignore", invalid="ignore"):
        rel = np.nanmax(np.abs(a - b) / np.maximum(np.abs(b), atol)) if a.size else 0.0
    return ok, f"allclose rtol={rtol:g} atol={atol:g} (max rel diff {rel:.1e})"


def run_case(c, mode, ctx):
    row = {"case": c.label(mode), "mode": mode.name}
    ops = {}
    for need in c.needs:
        ops[need] = operator(need)
        if ops[need] is None:
            row["skipped"] = f"evocore.{need} not in this build"
            return row
    try:
        bench = c.setup(mode, ops, ctx)
    except Skip as e:
        row["skipped"] = str(e)
        return row
    try:
        return measure_case(bench, row, mode, ctx)
    finally:
        if bench.teardown is not None:
            bench.teardown()


def measure_case(bench, row, mode, ctx):
    if bench.evocore is not None and bench.check is not None:
        ok, note = agree(bench.evocore(), bench.baseline(), bench.check)
        row["check"] = note
        if not ok:
            row["mismatch"] = True
            return row
    callables = {"baseline": bench.baseline, **bench.variants}
    if bench.evocore is not None:
        callables = {"evocore": bench.evocore, **callables}
    best, median, loops = measure(callables, mode)
    row["evocore_s"] = best.get("evocore")
    row["baseline_s"] = best["baseline"]
    row["ratio"] = best["baseline"] / best["evocore"] if "evocore" in best else None
    row["median_s"] = median
    row["loops"] = loops
    row["repeats"] = mode.repeats
    if bench.report is not None:
        row["extra"] = bench.report(best, ctx)
    if bench.targets:
        figures = {"ratio": row["ratio"], **row.get("extra", {})}
        row["targets"] = {k: {"sign": getattr(v, "sign", ">="), "value": float(v), "met": bool(target_met(figures[k], v))}
                          for k, v in bench.targets.items()}
    return row


# ---------------------------------------------------------------------------------------------
# Output.

def fmt_time(s):
    if s is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s / 1e-9:.3g} ns"


def fmt_row(row):
    if "skipped" in row:
        return [row["case"], "-", "-", "-", "skipped: " + row["skipped"]]
    if row.get("mismatch"):
        return [row["case"], "-", "-", "-", "MISMATCH: " + row["check"]]
    ratio = "-" if row["ratio"] is None else f"{row['ratio']:.2f}x"
    notes = [f"{k} {v}" for k, v in row.get("extra", {}).items()]
    notes += [f"target {k} {t['sign']} {t['value']:g} {'met' if t['met'] else 'MISSED'}"
              for k, t in row.get("targets", {}).items()]
    if row.get("check", "equal") != "equal":
        notes.insert(0, row["check"])
    notes = ", ".join(notes)
    return [row["case"], fmt_time(row["evocore_s"]), fmt_time(row["baseline_s"]), ratio, notes]


def print_table(rows, out=sys.stdout):
    head = ["case", "evocore", "baseline", "ratio", "notes"]
    cells = [head] + [fmt_row(r) for r in rows]
    width = [max(len(r[i]) for r in cells) for i in range(4)]
    for i, r in enumerate(cells):
        line = [r[0].ljust(width[0])] + [r[j].rjust(width[j]) for j in (1, 2, 3)] + [r[4]]
        print("  ".join(line).rstrip(), file=out)
        if i == 0:
            print("  ".join("-" * w for w in width) + "  -----", file=out)


def machine():
    """The processor's model name, whether it has AVX2 and AVX-512F (None where /proc/cpuinfo
    does not say), and the form each kernel that picks one by processor runs on it."""
    info = {"processor": platform.processor() or platform.machine(), "avx2": None, "avx512f": None}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    info["processor"] = value.strip()
                elif key.strip() == "flags":
                    flags = value.split()
                    info["avx2"], info["avx512f"] = "avx2" in flags, "avx512f" in flags
                    break
    except OSError:
        pass
    info["forms"] = {}
    for name in FORMS:
        try:
            forms = importlib.import_module(f"evocore.core.{name}")._forms
        except (ImportError, AttributeError):
            continue
        info["forms"].update({kernel: picked for kernel, _, _, picked in forms()})
    return info


def header(mode, where):
    try:
        import evocore
        version = evocore.__version__
    except ImportError:
        version = "not installed"
    omp = " ".join(f"{k}={os.environ[k]}" for k in sorted(os.environ) if k.startswith("OMP_"))
    print(f"evocore {version}, NumPy {np.__version__}, Python {platform.python_version()}, "
          f"{os.cpu_count()} CPUs{', ' + omp if omp else ''}; {mode.name} run, best of "
          f"{mode.repeats} interleaved measurements of ~{mode.target * 1e3:g} ms each")
    has = {True: "yes", False: "no", None: "unknown"}
    print(f"processor {where['processor']}: AVX2 {has[where['avx2']]}, AVX-512F {has[where['avx512f']]}; forms picked: "
          + (", ".join(f"{k} {v}" for k, v in where["forms"].items()) or "none in this build"))
    print("time = per call; ratio = baseline / evocore (above 1: evocore is faster)\n", flush=True)


