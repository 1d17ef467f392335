"""python -m evocore: real optimisation on the evocore operators, with progress and pictures.

    python -m evocore [demo] [--problem NAME] [--seed N] [--out DIR] [--quick] [--pbi]
    python -m evocore bench [--quick] [--out DIR]

The algorithms are the short files beside this one (moead.py, tsp.py, constrained.py); this file
only runs them, reports progress, prints the results and draws the pictures.
"""

import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

import evocore
from evocore.demo import constrained, moead, tsp

GROUPS = {
    "moead": ("zdt1", "dtlz2"),
    "tsp": ("berlin52", "kroA100", "gr120"),
    "constrained": ("g04",),
}
PROBLEMS = ("zdt1", "dtlz2", *tsp.INSTANCES, "g04")
QUICK = ("zdt1", "dtlz2", "gr17", "berlin52", "g04")
GENERATIONS = {"zdt1": 300, "dtlz2": 300, "tsp": 200, "g04": 1000}
QUICK_GENERATIONS = {"zdt1": 20, "dtlz2": 20, "tsp": 5, "g04": 50}
NO_PICTURES = "(pictures need matplotlib: pip install 'evocore[demo]', or '.[demo]' in a checkout)"


def pyplot():
    try:
        import matplotlib
    except ImportError:
        return None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


class Progress:
    """A tqdm bar on a terminal; otherwise a plain line now and then."""

    def __init__(self, label, total):
        self.label, self.total, self.bar = label, total, None
        self.every = max(1, total // 5)
        if sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                pass
            else:
                self.bar = tqdm(total=total, desc=f"{label:>9}", leave=False, unit="gen")

    def __call__(self, gen, text):
        if self.bar is not None:
            self.bar.set_postfix_str(text, refresh=False)
            self.bar.update(gen + 1 - self.bar.n)
        elif (gen + 1) % self.every == 0 or gen == 0:
            print(f"  {self.label}: generation {gen + 1}/{self.total}  {text}", flush=True)

    def close(self):
        if self.bar is not None:
            self.bar.close()


# ---- the three algorithms ------------------------------------------------------------------

def run_moead(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)[name]
    pbi = args.pbi or name == "dtlz2"
    progress = Progress(name, gens)
    t0 = time.perf_counter()
    F, front, quality = moead.run(name, seed=args.seed, pbi=pbi, generations=gens,
                                  on_generation=lambda g, F: progress(g, f"{len(F)} solutions"))
    seconds = time.perf_counter() - t0
    progress.close()
    method = "PBI (quelan)" if pbi else "Tchebycheff (druvik)"
    print(f"{name}: MOEA/D, {method}, {len(F)} weight vectors, {gens} generations: "
          f"IGD {quality:.5f} against the true front ({seconds:.2f} s)")
    picture = None
    if plt is not None:
        picture = args.out / f"{name}.png"
        fig = plt.figure(figsize=(6, 5))
        if F.shape[1] == 2:
            ax = fig.add_subplot()
            ax.plot(front[:, 0], front[:, 1], "-", color="0.6", label="true front")
            ax.plot(F[:, 0], F[:, 1], "o", ms=4, color="C3", label="MOEA/D")
            ax.set_xlabel("f1")
            ax.set_ylabel("f2")
            ax.legend()
        else:
            ax = fig.add_subplot(projection="3d")
            ax.scatter(*front[::7].T, s=1, color="0.7", label="true front")
            ax.scatter(*F.T, s=12, color="C3", label="MOEA/D")
            ax.set_xlabel("f1")
            ax.set_ylabel("f2")
            ax.set_zlabel("f3")
            ax.view_init(30, 45)
            ax.legend()
        ax.set_title(f"{name.upper()}: MOEA/D with {method}, IGD {quality:.4f}")
        fig.tight_layout()
        fig.savefig(picture, dpi=110)
        plt.close(fig)
    return dict(problem=name, result=f"IGD {quality:.5f}", reference="true front",
                seconds=seconds, picture=picture)


def run_tsp(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)["tsp"]
    progress = Progress(name, gens)
    t0 = time.perf_counter()
    tour, length, optimum, coords, used = tsp.run(
        name, seed=args.seed, generations=gens,
        on_generation=lambda g, best: progress(g - 1, f"best {best}"))
    seconds = time.perf_counter() - t0
    progress.close()
    gap = 100.0 * (length - optimum) / optimum
    print(f"{name}: GA with order crossover and 2-opt, {used} generations: tour length {length}, "
          f"optimum {optimum} ({gap:+.2f} %) ({seconds:.2f} s)")
    picture = None
    if plt is not None:
        picture = args.out / f"{name}.png"
        embedded = coords is None
        xy = tsp.embed(tsp.load(name)[0]) if embedded else coords
        closed = np.append(tour, tour[0])
        fig, ax = plt.subplots(figsize=(6, 5))
        ax.plot(xy[closed, 0], xy[closed, 1], "-", color="C0", lw=1)
        ax.plot(xy[:, 0], xy[:, 1], "o", ms=3, color="C3")
        ax.set_title(f"{name}: length {length}, optimum {optimum} ({gap:+.2f} %)")
        if embedded:
            ax.set_xlabel("cities placed by multidimensional scaling of the distance matrix "
                          "(no coordinates)", fontsize=8)
        ax.set_aspect("equal", adjustable="datalim")
        fig.tight_layout()
        fig.savefig(picture, dpi=110)
        plt.close(fig)
    return dict(problem=name, result=f"length {length}", reference=f"optimum {optimum} "
                f"({gap:+.2f} %)", seconds=seconds, picture=picture)


def run_constrained(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)["g04"]
    progress = Progress(name, gens)
    t0 = time.perf_counter()
    x, f, violation, history = constrained.ga(
        generations=gens, seed=args.seed,
        on_generation=lambda g, best, cv, count: progress(g, f"best {best:.1f}, {count} feasible"))
    seconds = time.perf_counter() - t0
    progress.close()
    counts = [c for _, c in history]
    shown = sorted({0, 1, 2, 4, 9, len(counts) // 2, len(counts) - 1} & set(range(len(counts))))
    print(f"{name}: Gray-coded GA, 100 individuals, {gens} generations: best {f:.3f} "
          f"(best known {constrained.BEST_KNOWN}), violation {violation:g} ({seconds:.2f} s)")
    print("  feasible individuals per generation: "
          + ", ".join(f"gen {g + 1}: {counts[g]}" for g in shown))
    picture = None
    if plt is not None:
        picture = args.out / f"{name}.png"
        fig, ax = plt.subplots(figsize=(6, 4))
        best = np.array([b for b, _ in history])
        ax.plot(np.arange(1, len(best) + 1), best - constrained.BEST_KNOWN, color="C3")
        ax.set_yscale("symlog", linthresh=1.0)
        ax.set_xlabel("generation")
        ax.set_ylabel("best objective - best known", color="C3")
        twin = ax.twinx()
        twin.plot(np.arange(1, len(counts) + 1), counts, color="C0", lw=0.8)
        twin.set_ylabel("feasible individuals", color="C0")
        ax.set_title(f"G04 by a Gray-coded GA: best {f:.2f}")
        fig.tight_layout()
        fig.savefig(picture, dpi=110)
        plt.close(fig)
    return dict(problem=name, result=f"best {f:.3f}", reference=f"best known "
                f"{constrained.BEST_KNOWN}", seconds=seconds, picture=picture)


def demo(args):
    names = []
    for item in (args.problem or (",".join(QUICK) if args.quick else "moead,tsp,constrained")).split(","):
        names.extend(GROUPS.get(item, (item,)))
    unknown = [n for n in names if n not in PROBLEMS]
    if unknown:
        sys.exit(f"unknown problem {', '.join(unknown)}; choose from "
                 f"{', '.join((*GROUPS, *PROBLEMS))}")
    plt = pyplot()
    if plt is not None:
        args.out.mkdir(parents=True, exist_ok=True)
    print(f"evocore {evocore.__version__}: MOEA/D, a permutation GA and a constrained "
          f"binary-coded GA on the compiled operators (seed {args.seed}"
          f"{', quick run' if args.quick else ''})\n")
    rows = []
    for name in names:
        runner = run_moead if name in moead.PROBLEMS else (
            run_constrained if name == "g04" else run_tsp)
        rows.append(runner(name, args, plt))
    print()
    width = max(len(r["problem"]) for r in rows)
    for r in rows:
        print(f"  {r['problem']:<{width}}  {r['result']:<16} {r['reference']:<24} "
              f"{r['seconds']:6.2f} s")
    if plt is None:
        print(f"\n{NO_PICTURES}")
    else:
        print(f"\npictures: {args.out.resolve()}")
    return 0


# ---- bench ---------------------------------------------------------------------------------

def find_runner():
    """bench/run.py of a source checkout: in or above the working directory, or above the
    package itself (an in-place or editable install)."""
    here = Path.cwd().resolve()
    package = Path(__file__).resolve().parents[2]
    for folder in (here, *here.parents, package, *package.parents):
        runner = folder / "bench" / "run.py"
        if runner.is_file():
            return runner
    return None


def bench(args):
    runner = find_runner()
    if runner is None:
        print("the benchmark runner bench/run.py comes with the source checkout: run this "
              "command inside it")
        return 2
    args.out.mkdir(parents=True, exist_ok=True)
    table = args.out / "bench.json"
    command = [sys.executable, str(runner), "--json", str(table)] + (["--quick"] if args.quick else [])
    status = subprocess.call(command)
    if not table.is_file():
        return status or 1
    results = json.loads(table.read_text())
    rows = results["rows"] if isinstance(results, dict) else results  # beside "machine", or alone
    rows = [r for r in rows if r.get("ratio")]
    plt = pyplot()
    if plt is None:
        print(f"\ntable: {table}\n{NO_PICTURES}")
        return status
    picture = args.out / "bench.png"
    fig, ax = plt.subplots(figsize=(8, 0.3 * len(rows) + 1.2))
    ratios = [r["ratio"] for r in rows]
    ax.barh(range(len(rows)), ratios, color=["C2" if v >= 1 else "C3" for v in ratios])
    ax.set_yticks(range(len(rows)), [r["case"] for r in rows], fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.axvline(1.0, color="0.3", lw=0.8)
    for k, v in enumerate(ratios):
        ax.text(v, k, f" {v:.3g}x", va="center", fontsize=7)
    ax.set_title("evocore against the NumPy a user would write (bench/run.py)")
    ax.set_xlabel("baseline time / evocore time (above 1: evocore is faster)")
    fig.tight_layout()
    fig.savefig(picture, dpi=110)
    plt.close(fig)
    print(f"\ntable: {table}\nchart: {picture}")
    return status


def main(argv=None):
    p = argparse.ArgumentParser(prog="python -m evocore", description=__doc__.splitlines()[0])
    p.add_argument("command", nargs="?", default="demo", choices=("demo", "bench"),
                   help="demo (the default): the algorithms; bench: the benchmark runner")
    p.add_argument("--problem", metavar="NAME",
                   help="run only these (comma-separated): " + ", ".join((*GROUPS, *PROBLEMS)))
    p.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    p.add_argument("--out", type=Path, default=Path("evocore-demo"), metavar="DIR",
                   help="folder for the pictures (default ./evocore-demo)")
    p.add_argument("--quick", action="store_true", help="a short run of every algorithm")
    p.add_argument("--pbi", action="store_true",
                   help="ZDT1 with the penalty-based boundary intersection (quelan) instead of "
                        "Tchebycheff (druvik); DTLZ2 always uses it")
    args = p.parse_args(argv)
    return demo(args) if args.command == "demo" else bench(args)
