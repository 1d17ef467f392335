"""python -m evocore: real optimisation on the evocore operators, with progress and pictures.

    python -m evocore [demo] [--problem NAME[,NAME...]] [--seed N] [--out DIR] [--quick] [--pbi]
    python -m evocore bench [--out DIR] [ARGUMENTS OF python -m evocore.bench ...]

The algorithms are those of evocore.algorithms; the problems are the files beside this one
(moead.py, nsga.py, tsp.py, constrained.py).  This file only runs them, reports progress, prints the
results and draws the pictures.  A mistake in the arguments is one line on stderr and status 2;
an output folder that cannot be written is one line and status 1, found before any work; Ctrl-C
stops with one line and status 130.
"""

import argparse
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import evocore
from evocore.demo import constrained, moead, nsga, tsp

PROG = "python -m evocore"
GROUPS = {
    "moead": ("zdt1", "dtlz2", "ctp1"),
    "nsga": ("osy", "tnk", "dtlz1"),
    "tsp": ("berlin52", "kroA100", "gr120"),
    "constrained": ("g04",),
}
PROBLEMS = (*moead.PROBLEMS, *nsga.PROBLEMS, *tsp.INSTANCES, "g04")
QUICK = ("zdt1", "dtlz2", "ctp1", "osy", "dtlz1", "gr17", "berlin52", "g04")
GENERATIONS = {"moead": moead.GENERATIONS, "tsp": tsp.GENERATIONS, "g04": constrained.GENERATIONS}
QUICK_GENERATIONS = {"moead": 20, "nsga": 20, "tsp": 5, "g04": 50}
NO_PICTURES = "(pictures need matplotlib: pip install 'evocore[demo]', or '.[demo]' in a checkout)"
SEED_LIMIT = 2 ** 32


class Mistake(Exception):
    """A user's mistake: one line on stderr and this exit status."""

    def __init__(self, message, status=2):
        super().__init__(message)
        self.status = status


class Parser(argparse.ArgumentParser):
    """argparse, with its errors as one line (no usage block)."""

    def error(self, message):
        raise Mistake(message)


def plural(n, word):
    return f"{n} {word}{'' if n == 1 else 's'}"


def listing(items):
    items = list(items)
    return items[0] if len(items) == 1 else f"{', '.join(items[:-1])} and {items[-1]}"


def seed_value(text):
    try:
        seed = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not 0 <= seed < SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"{seed} is outside 0 ... {SEED_LIMIT - 1}")
    return seed


def problem_names(text):
    """The problems named (comma-separated, any case; a group stands for its members), in order
    and each once."""
    canonical = {name.lower(): name for name in (*GROUPS, *PROBLEMS)}
    names = []
    for item in text.split(","):
        key = item.strip().lower()
        if key not in canonical:
            raise argparse.ArgumentTypeError(
                (f"unknown problem {item.strip()!r}" if key else "an empty problem name")
                + f"; choose from {', '.join((*GROUPS, *PROBLEMS))}")
        name = canonical[key]
        names.extend(n for n in GROUPS.get(name, (name,)) if n not in names)
    return names


def writable_folder(path):
    """Makes the folder if needed and checks that a file can be written there."""
    try:
        path.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryFile(dir=path):
            pass
    except FileExistsError:
        raise Mistake(f"--out {path}: a file of that name is in the way", 1) from None
    except OSError as e:
        raise Mistake(f"--out {path}: cannot write there ({e.strerror or e})", 1) from None
    return path


def pyplot():
    try:
        import matplotlib
    except ImportError:
        return None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def ticker():
    from matplotlib import ticker
    return ticker


class Progress:
    """A tqdm bar on a terminal; otherwise a plain line now and then.  Called with a generation
    counted from 1."""

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
            self.bar.update(gen - self.bar.n)
        elif gen % self.every == 0 or gen == 1:
            print(f"  {self.label}: generation {gen}/{self.total}  {text}", flush=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.bar is not None:
            self.bar.close()


def save(fig, picture, plt):
    fig.savefig(picture, dpi=110)
    plt.close(fig)
    return picture


# ---- the algorithms --------------------------------------------------------------------------

def front_picture(name, F, front, label, title, args, plt):
    """The result's objective values over the true front: a plane for two objectives, a cube
    for three."""
    fig = plt.figure(figsize=(6, 5), layout="constrained")
    if F.shape[1] == 2:
        ax = fig.add_subplot()
        ax.plot(front[:, 0], front[:, 1], ".", ms=1, color="0.6", label="true front")
        ax.plot(F[:, 0], F[:, 1], "o", ms=4, color="C3", label=label)
    else:
        ax = fig.add_subplot(projection="3d")
        ax.scatter(*front[::7].T, s=1, color="0.7", label="true front")
        ax.scatter(*F.T, s=12, color="C3", label=label)
        ax.set_zlabel("f3")
        ax.view_init(30, 45)
        ax.set_box_aspect(None, zoom=0.85)
    ax.set_xlabel("f1")
    ax.set_ylabel("f2")
    ax.legend()
    ax.set_title(title, fontsize=10)
    return save(fig, args.out / f"{name}.png", plt)


def progress_text(result):
    return (f"{int(result.history['feasible'][-1])} feasible" if result.CV is not None
            else f"{len(result.F)} solutions")


def run_moead(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)["moead"]
    pbi = args.pbi or moead.PROBLEMS[name][2]
    t0 = time.perf_counter()
    with Progress(name, gens) as progress:
        result, front, quality = moead.run(
            name, seed=args.seed, pbi=pbi, generations=gens,
            callback=lambda g, r: progress(g, progress_text(r)))
    seconds = time.perf_counter() - t0
    F = result.F
    method = "PBI (quelan)" if pbi else "Tchebycheff (druvik)"
    constraints = "" if result.CV is None else \
        f", {plural(result.CV.shape[1], 'constraint')}"
    print(f"{name}: MOEA/D, {method}{constraints and constraints + ' by an epsilon level'}, "
          f"{plural(moead.PROBLEMS[name][1], 'weight vector')}, {plural(len(F), 'point')} found, "
          f"{plural(gens, 'generation')}: IGD {quality:.5f} against the true front "
          f"({seconds:.2f} s)")
    picture = None
    if plt is not None:
        picture = front_picture(name, F, front, "MOEA/D", f"{name.upper()}: MOEA/D, {method}"
                                f"{constraints}\nIGD {quality:.4f}, {plural(gens, 'generation')}, "
                                f"seed {args.seed}", args, plt)
    return dict(problem=name, result=f"IGD {quality:.5f}", reference="true front",
                seconds=seconds, picture=picture)


def run_nsga(name, args, plt):
    algorithm, problem, _ = nsga.PROBLEMS[name]
    gens = QUICK_GENERATIONS["nsga"] if args.quick else nsga.GENERATIONS[name]
    t0 = time.perf_counter()
    with Progress(name, gens) as progress:
        result, front, quality = nsga.run(name, seed=args.seed, generations=gens,
                                          callback=lambda g, r: progress(g, progress_text(r)))
    seconds = time.perf_counter() - t0
    F = nsga.best(result)
    constraints = "" if result.CV is None else f", {plural(result.CV.shape[1], 'constraint')}"
    print(f"{name}: {algorithm}{constraints and constraints + ' by the feasibility rule'}, "
          f"population {len(result.F)}, {plural(gens, 'generation')}: {len(F)} on the first "
          f"front, IGD {quality:.5f} against the true front ({seconds:.2f} s)")
    picture = None
    if plt is not None:
        picture = front_picture(name, F, front, f"{algorithm}, first front",
                                f"{problem.name}: {algorithm}{constraints}\nIGD {quality:.4f}, "
                                f"{plural(gens, 'generation')}, seed {args.seed}", args, plt)
    return dict(problem=name, result=f"IGD {quality:.5f}", reference="true front",
                seconds=seconds, picture=picture)


def run_tsp(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)["tsp"]
    t0 = time.perf_counter()
    with Progress(name, gens) as progress:
        result, optimum, coords = tsp.run(
            name, seed=args.seed, generations=gens,
            callback=lambda g, r: progress(g, f"best {r.F[0, 0]:.0f}"))
    seconds = time.perf_counter() - t0
    tour, length = result.X[0], int(result.F[0, 0])
    gap = 100.0 * (length - optimum) / optimum
    print(f"{name}: GA with order crossover and 2-opt, {plural(result.generations, 'generation')}: "
          f"tour length {length}, optimum {optimum} ({gap:+.2f} %) ({seconds:.2f} s)")
    picture = None
    if plt is not None:
        embedded = coords is None
        xy = tsp.embed(tsp.load(name)[0]) if embedded else coords
        closed = np.append(tour, tour[0])
        # a canvas of the cities' own proportions, so that equal axes leave no empty band
        width, height = np.ptp(xy, axis=0) * 1.06
        aspect = min(max(height / width, 0.4), 1.6)
        fig, ax = plt.subplots(figsize=(6.4, 6.4 * aspect + 0.9), layout="constrained")
        ax.plot(xy[closed, 0], xy[closed, 1], "-", color="C0", lw=1)
        ax.plot(xy[:, 0], xy[:, 1], "o", ms=3, color="C3")
        ax.set_aspect("equal", adjustable="datalim")
        ax.margins(0.03)
        if embedded:
            ax.set_xlabel("first scaling coordinate")
            ax.set_ylabel("second scaling coordinate")
            note = "\n(no coordinates: cities placed by multidimensional scaling of the distances)"
        else:
            ax.set_xlabel("x (TSPLIB coordinates)")
            ax.set_ylabel("y")
            note = ""
        ax.set_title(f"{name}: length {length}, optimum {optimum} ({gap:+.2f} %){note}",
                     fontsize=10)
        picture = save(fig, args.out / f"{name}.png", plt)
    return dict(problem=name, result=f"length {length}", reference=f"optimum {optimum} "
                f"({gap:+.2f} %)", seconds=seconds, picture=picture)


def run_constrained(name, args, plt):
    gens = (QUICK_GENERATIONS if args.quick else GENERATIONS)["g04"]
    t0 = time.perf_counter()
    with Progress(name, gens) as progress:
        result = constrained.run(
            seed=args.seed, generations=gens,
            callback=lambda g, r: progress(g, f"best {r.F[0, 0]:.1f}, "
                                              f"{int(r.history['feasible'][-1])} feasible"))
    seconds = time.perf_counter() - t0
    f, violation = result.F[0, 0], float(np.clip(result.CV[0], 0, None).sum())
    counts = result.history["feasible"].astype(int)
    shown = sorted({0, 1, 2, 4, 9, len(counts) // 2, len(counts) - 1} & set(range(len(counts))))
    print(f"{name}: Gray-coded GA, 100 individuals, {plural(gens, 'generation')}: best {f:.3f} "
          f"(best known {constrained.BEST_KNOWN}), violation {violation:g} ({seconds:.2f} s)")
    print("  feasible individuals per generation: "
          + ", ".join(f"gen {g + 1}: {counts[g]}" for g in shown))
    picture = None
    if plt is not None:
        fig, (top, bottom) = plt.subplots(2, 1, figsize=(6.4, 5.6), sharex=True,
                                          height_ratios=(3, 2), layout="constrained")
        tick = ticker()
        gen = np.arange(1, len(counts) + 1)
        best = result.history["best"]
        feasible = result.history["violation"] == 0
        # above the best known value (positive: the best known is rounded down)
        above = np.maximum(best - constrained.BEST_KNOWN, 1e-4)
        top.plot(gen[feasible], above[feasible], color="C3", lw=1.2)
        top.set_yscale("log")
        top.yaxis.set_major_locator(tick.LogLocator(subs=(1.0, 2.0, 5.0)))
        top.yaxis.set_major_formatter(tick.FormatStrFormatter("%g"))
        top.yaxis.set_minor_formatter(tick.NullFormatter())
        top.set_ylabel("best − best known\n(feasible best)")
        top.grid(True, which="major", color="0.9")
        top.set_title(f"G04 by a Gray-coded GA: best {f:.3f}, best known "
                      f"{constrained.BEST_KNOWN}", fontsize=10)
        bottom.plot(gen, counts, color="C0", lw=0.7)
        bottom.set_ylim(0, 100)
        bottom.set_ylabel("feasible individuals\n(of 100)")
        bottom.set_xlabel("generation")
        bottom.grid(True, color="0.9")
        picture = save(fig, args.out / f"{name}.png", plt)
    return dict(problem=name, result=f"best {f:.3f}", reference=f"best known "
                f"{constrained.BEST_KNOWN}", seconds=seconds, picture=picture)


def kind(name):
    if name in moead.PROBLEMS:
        return "moead"
    if name in nsga.PROBLEMS:
        return nsga.PROBLEMS[name][0]
    return "g04" if name == "g04" else "tsp"


def banner(names, args):
    """What will run, in the order it runs."""
    label = {"moead": "MOEA/D on", "NSGA-II": "NSGA-II on", "NSGA-III": "NSGA-III on",
             "tsp": "a permutation GA on", "g04": "a Gray-coded GA on"}
    groups = {}
    for name in names:
        groups.setdefault(kind(name), []).append(name.upper() if kind(name) != "tsp" else name)
    return (f"evocore {evocore.__version__}, seed {args.seed}{', quick run' if args.quick else ''}: "
            + "; ".join(f"{label[k]} {listing(v)}" for k, v in groups.items()))


def demo(argv):
    p = Parser(prog=PROG, description=__doc__.splitlines()[0],
               epilog=f"{PROG} bench [--out DIR] [ARGS]: the benchmark (evocore.bench), its other "
                      "arguments passed on (python -m evocore.bench --help lists them)")
    p.add_argument("command", nargs="?", default="demo", choices=("demo", "bench"),
                   help="demo (the default): the algorithms; bench: see below")
    p.add_argument("--problem", metavar="NAME", type=problem_names,
                   help="run only these (comma-separated, any case): " + ", ".join((*GROUPS, *PROBLEMS)))
    p.add_argument("--seed", type=seed_value, default=1,
                   help=f"random seed, 0 ... {SEED_LIMIT - 1} (default 1)")
    p.add_argument("--out", type=Path, default=Path("evocore-demo"), metavar="DIR",
                   help="folder for the pictures (default ./evocore-demo)")
    p.add_argument("--quick", action="store_true", help="a short run of every algorithm")
    p.add_argument("--pbi", action="store_true",
                   help="ZDT1 and CTP1 with the penalty-based boundary intersection (quelan) "
                        "instead of Tchebycheff (druvik); DTLZ2 always uses it")
    args = p.parse_args(argv)
    if args.command == "bench":
        raise Mistake(f"bench comes first, its arguments after it: {PROG} bench [--out DIR] [ARGS]")
    names = args.problem or list(QUICK if args.quick else
                                 [n for group in GROUPS.values() for n in group])
    plt = pyplot()
    if plt is not None:
        writable_folder(args.out)
    print(banner(names, args) + "\n", flush=True)
    runner = {"moead": run_moead, "NSGA-II": run_nsga, "NSGA-III": run_nsga, "tsp": run_tsp,
              "g04": run_constrained}
    rows = [runner[kind(name)](name, args, plt) for name in names]
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

# The benchmark of the installed package, in a process of its own.
BENCH = [sys.executable, "-m", "evocore.bench"]


def run_child(command):
    """The command's exit status; on Ctrl-C the child (in a session of its own, so that the
    terminal's interrupt reaches only this process) is ended quietly first."""
    child = subprocess.Popen(command, start_new_session=True)
    try:
        return child.wait()
    except KeyboardInterrupt:
        child.terminate()
        child.wait()
        raise


def bench(argv):
    p = Parser(prog=f"{PROG} bench",
               description="The benchmark (evocore.bench), with a chart of its ratios; the other "
                           "arguments are passed on to it (python -m evocore.bench --help lists "
                           "them: --quick, WORD ...).")
    p.add_argument("--out", type=Path, default=Path("evocore-demo"), metavar="DIR",
                   help="folder for bench.json and bench.png (default ./evocore-demo)")
    args, rest = p.parse_known_args(argv)
    if "--dask" in rest:   # figures of its own, no table
        return run_child([*BENCH, *rest])
    writable_folder(args.out)
    table = args.out / "bench.json"
    table.unlink(missing_ok=True)
    status = run_child([*BENCH, *rest, "--json", str(table)])
    if not table.is_file():
        if status == 0:
            raise Mistake("the benchmark ended without writing its table", 1)
        return status
    results = json.loads(table.read_text())
    rows = results["rows"] if isinstance(results, dict) else results  # beside "machine", or alone
    rows = [r for r in rows if r.get("ratio")]
    plt = pyplot()
    if plt is None or not rows:
        print(f"\ntable: {table}" + (f"\n{NO_PICTURES}" if plt is None else ""))
        return status
    picture = args.out / "bench.png"
    fig, ax = plt.subplots(figsize=(8, 0.26 * len(rows) + 1.3), layout="constrained")
    fig.get_layout_engine().set(w_pad=0.15, h_pad=0.1)
    ratios = [r["ratio"] for r in rows]
    ax.barh(range(len(rows)), ratios, color=["C2" if v >= 1 else "C3" for v in ratios])
    ax.set_yticks(range(len(rows)), [r["case"] for r in rows], fontsize=7)
    ax.set_ylim(len(rows) - 0.4, -0.6)
    ax.set_xscale("log")
    ax.set_xlim(min(0.5, min(ratios) / 1.5), max(ratios) * 2.2)   # room for the labels
    tick = ticker()
    ax.xaxis.set_major_locator(tick.LogLocator(subs=(1.0, 2.0, 5.0)))
    ax.xaxis.set_major_formatter(tick.FormatStrFormatter("%g"))
    ax.xaxis.set_minor_formatter(tick.NullFormatter())
    ax.axvline(1.0, color="0.3", lw=0.8)
    for k, v in enumerate(ratios):
        ax.text(v, k, f" {v:.3g}x", va="center", fontsize=7)
    ax.set_title("evocore against the NumPy a user would write\n(evocore.bench; above 1: "
                 "evocore is faster)", fontsize=10)
    ax.set_xlabel("baseline time / evocore time")
    save(fig, picture, plt)
    print(f"\ntable: {table}\nchart: {picture}")
    return status


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        return bench(argv[1:]) if argv[:1] == ["bench"] else demo(argv)
    except Mistake as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return e.status
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
