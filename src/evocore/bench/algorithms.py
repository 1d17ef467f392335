"""Quality and speed of the algorithms (evocore.algorithms) on the test problems of
evocore.problems, side by side with pymoo's in one process.

    python -m evocore.bench.algorithms                     every section (pymoo's MOEA/D takes ~45 s a seed)
    python -m evocore.bench.algorithms nsga2 nsga3 ask     only the sections named
    python -m evocore.bench.algorithms --pymoo-seeds 0     no pymoo in the moead section

bench/demo_quality.py in a source checkout takes the same arguments.

Sections:
    moead        MOEA/D on ZDT1 (30 variables, 100 weight vectors, 300 generations, neighbourhood
                 15) on seeds 1-5: as shipped, the same code with NumPy in place of every
                 operator, and pymoo's MOEAD with the same budget; then DTLZ2 with PBI and the
                 constrained CTP1
    nsga2        nsga2 on ZDT1 (30 variables, population 100, 200 generations, seeds 1-3)
                 against pymoo's NSGA2 with the same budget: total time, mean IGD
    nsga3        nsga3 on DTLZ2 (3 objectives, 12 variables, 91 reference directions, 250
                 generations, seeds 1-3) against pymoo's NSGA3 with the same directions
    constrained  SRN, TNK, OSY, CTP1 (seeds 1-5, population 100, 200 generations, the budget of
                 pymoo's NSGA2 example): normalised IGD of moead, nsga2 and pymoo's NSGA2
    ask          a 200-generation nsga2 run on ZDT1 through ask and tell against the function
    tsp          the TSP instances with seed 1 (length against the optimum)
    g04          the Gray-coded GA on G04, seeds 1-5

Every IGD is taken by the same routine (evocore.algorithms.igd) against the same finely sampled
true front, on the non-dominated (feasible) rows of the final population; pymoo's runs solve
pymoo's own ZDT1 and DTLZ2, and evocore.problems' SRN, TNK, OSY and CTP1.  The machine is
shared: read the times as ratios of runs made here, side by side.  A row with a target says
whether it is met.
"""

import argparse
import contextlib
import statistics
import time

import numpy as np

from evocore import ndsort, problems
from evocore.algorithms import NSGA2, _moead, _shared, igd, moead, nsga2, nsga3
from evocore.demo import constrained, moead as demo_moead, tsp

SECTIONS = ("moead", "nsga2", "nsga3", "constrained", "ask", "tsp", "g04")


# ---- MOEA/D's operators as a user would write them in NumPy ------------------------------

def np_druvik(ObjV, weights, idealPoint, CV=None):
    return np.max(weights * np.abs(ObjV - idealPoint), axis=1, keepdims=True)


def np_quelan(ObjV, weights, idealPoint, Theta=5.0):
    diff = ObjV - idealPoint
    norm_w = np.linalg.norm(weights, axis=1)
    norm_f = np.linalg.norm(diff, axis=1)
    d1 = (diff * weights).sum(axis=1) / norm_w
    d2 = np.sqrt(np.abs(1.0 - (d1 / norm_f) ** 2)) * norm_f
    return (d1 + Theta * d2)[:, None]


def np_ornavi(ObjV, old_idealPoint=None):
    z = ObjV.min(axis=0)
    return z if old_idealPoint is None else np.minimum(old_idealPoint, z)


def np_polvane(A, B):
    return np.sqrt(((A[:, None, :] - B[None, :, :]) ** 2).sum(axis=2))


def np_variation(step, X, Y, lb, ub, rand, eta, prob=1.0):
    """The compiled SBX and polynomial mutation as whole-array NumPy, the same uniform numbers
    used in the same places."""
    n, d = X.shape
    k, power = int(eta) + 1, 1.0 / (eta + 1.0)
    if step == "mutation":
        r, u = rand[:, 0::2], rand[:, 1::2]
        down = u < 0.5
        near = (X - lb) / (ub - lb)
        v, room = np.where(down, u, 1.0 - u), np.where(down, 1.0 - near, near)
        q = (2.0 * v + (1.0 - 2.0 * v) * _shared._power(room, k)) ** power - 1.0
        new = np.clip(X + np.where(down, q, -q) * (ub - lb), lb, ub)
        return np.where(r < 1.0 / d, new, X)
    y1, y2 = np.minimum(X, Y), np.maximum(X, Y)
    gap, u = y2 - y1, rand[:, 2::3]
    with np.errstate(all="ignore"):
        spread = []
        for room in (y1 - lb, ub - y2):
            ua = u * (2.0 - _shared._power(gap / (gap + 2.0 * room), k))
            spread.append(np.where(ua <= 1.0, ua, 1.0 / (2.0 - ua)) ** power)
        low = np.maximum(0.5 * (y1 + y2 - spread[0] * gap), lb)
        high = np.minimum(0.5 * (y1 + y2 + spread[1] * gap), ub)
    cross = (rand[:, :1] < prob) & (rand[:, 1::3] < 0.5) & (np.abs(X - Y) > 1e-14)
    swap = rand[:, 3::3] < 0.5
    return np.concatenate((np.where(cross, np.where(swap, high, low), X),
                           np.where(cross, np.where(swap, low, high), Y)))


def np_tamsen(randDelta, Nind, FieldDR):
    return np.random.default_rng(randDelta).uniform(FieldDR[0], FieldDR[1],
                                                    (Nind, FieldDR.shape[1]))


@contextlib.contextmanager
def numpy_operators():
    """Run moead with NumPy in place of the evocore operators and the compiled variation (ZDT1
    has no constraints)."""
    swaps = [(_moead, dict(druvik=np_druvik, quelan=np_quelan, ornavi=np_ornavi,
                           polvane=np_polvane)),
             (_shared, dict(_tamsen_seeded=np_tamsen, _variation=np_variation))]
    saved = [(module, {k: getattr(module, k) for k in swap}) for module, swap in swaps]
    for module, swap in swaps:
        for k, v in swap.items():
            setattr(module, k, v)
    try:
        yield
    finally:
        for module, old in saved:
            for k, v in old.items():
                setattr(module, k, v)


# ---- measuring ---------------------------------------------------------------------------

def timed(f, *a, **k):
    t0 = time.perf_counter()
    out = f(*a, **k)
    return out, time.perf_counter() - t0


def best_rows(F, CV=None):
    """The non-dominated rows of F among the feasible ones (all of them without CV)."""
    F = np.asarray(F, dtype=float)
    if CV is not None:
        F = F[(np.asarray(CV) <= 0).all(axis=1)]
    return F[ndsort(F)[0] == 1] if len(F) else F


def normalised_igd(F, front):
    """IGD with both sets scaled so that the front spans [0, 1] in every objective."""
    if not len(F):
        return float("inf")
    low, span = front.min(axis=0), np.ptp(front, axis=0)
    return igd((F - low) / span, (front - low) / span)


def verdict(figure, target, at_most=False):
    met = figure <= target if at_most else figure >= target
    return f"(target {'<=' if at_most else '>='} {target:g}: {'met' if met else 'NOT met'})"


def pymoo_problem(p):
    """An evocore.problems problem as a pymoo Problem."""
    from pymoo.core.problem import Problem

    class Wrapped(Problem):
        def __init__(self):
            super().__init__(n_var=p.n_var, n_obj=p.n_obj, n_ieq_constr=p.n_constr, xl=p.lb,
                             xu=p.ub)

        def _evaluate(self, x, out, *args, **kwargs):
            out["F"], out["G"] = p(x) if p.n_constr else (p(x), None)
    return Wrapped()


def pymoo_minimize(problem, algorithm, generations, seed):
    from pymoo.optimize import minimize
    res = minimize(problem, algorithm, ("n_gen", generations), seed=seed, verbose=False)
    return res.F, res.G


# ---- the sections ------------------------------------------------------------------------

def section_moead(args):
    seeds = range(1, args.seeds + 1)
    pymoo_seeds = range(1, (args.seeds if args.pymoo_seeds is None else args.pymoo_seeds) + 1)
    front = problems.zdt1().front(10_000)
    print("ZDT1, MOEA/D (Tchebycheff), 100 weight vectors, 300 generations, neighbourhood 15")
    print("seed  evocore IGD  time    NumPy IGD  time    pymoo IGD  time")
    rows = []
    for seed in seeds:
        (_, _, q_evo), t_evo = timed(demo_moead.run, "zdt1", seed=seed)
        with numpy_operators():
            (_, _, q_np), t_np = timed(demo_moead.run, "zdt1", seed=seed)
        q_pm = t_pm = None
        if seed in pymoo_seeds:
            try:
                from pymoo.algorithms.moo.moead import MOEAD
                from pymoo.problems import get_problem
                from pymoo.util.ref_dirs import get_reference_directions
            except ImportError:
                pymoo_seeds = range(0)
                print("(pymoo is not installed: pip install '.[bench]')")
            else:
                algorithm = MOEAD(get_reference_directions("uniform", 2, n_partitions=99),
                                  n_neighbors=15, prob_neighbor_mating=0.9)
                (F, _), t_pm = timed(pymoo_minimize, get_problem("zdt1", n_var=30), algorithm,
                                     300, seed)
                q_pm = igd(F, front)
        rows.append((q_evo, t_evo, q_np, t_np, q_pm, t_pm))
        pm = "-" if q_pm is None else f"{q_pm:.5f}  {t_pm:6.2f} s"
        print(f"{seed:4d}  {q_evo:.5f}    {t_evo:5.2f} s  {q_np:.5f}    {t_np:5.2f} s  {pm}",
              flush=True)
    col = list(zip(*rows))
    mean = [statistics.fmean(v) if None not in v else None for v in col]
    done = [r for r in rows if r[4] is not None]
    print(f"mean  {mean[0]:.5f}    {mean[1]:5.2f} s  {mean[2]:.5f}    {mean[3]:5.2f} s  "
          + (f"{statistics.fmean(r[4] for r in done):.5f}  "
             f"{statistics.fmean(r[5] for r in done):6.2f} s" if done else "-"))
    print(f"time ratio NumPy / evocore: {mean[3] / mean[1]:.2f}x", end="")
    if done:
        ratio = statistics.fmean(r[5] for r in done) / statistics.fmean(r[1] for r in done)
        print(f"; pymoo / evocore (same seeds): {ratio:.1f}x")
    print()
    for name, title in (("dtlz2", "DTLZ2, MOEA/D (PBI), 91 weight vectors"),
                        ("ctp1", "CTP1, MOEA/D (Tchebycheff, 2 constraints by an epsilon "
                                 "level), 100 weight vectors")):
        print(f"\n{title}, 300 generations, neighbourhood 15")
        qs = []
        for seed in seeds:
            (_, _, q), t = timed(demo_moead.run, name, seed=seed)
            qs.append(q)
            print(f"{seed:4d}  IGD {q:.5f}  {t:5.2f} s", flush=True)
        print(f"mean  IGD {statistics.fmean(qs):.5f}")


def head_to_head(title, ours, theirs, front, seeds, speed):
    """Seeds run in turn by evocore and by pymoo, after one untimed run of each (imports, first
    calls); the ratio of the total times (wall clock, and the processor time of this thread,
    which other work on the machine disturbs less) and that of the mean IGDs, with targets."""
    print(f"\n{title}")
    print("seed  evocore IGD  time      pymoo IGD  time")
    for run in (ours, theirs):
        run(seeds[0])
    q, t, cpu = ({"evocore": [], "pymoo": []} for _ in range(3))
    for seed in seeds:
        for name, run in (("evocore", ours), ("pymoo", theirs)):
            c0 = time.thread_time()
            F, seconds = timed(run, seed)
            cpu[name].append(time.thread_time() - c0)
            q[name].append(igd(F, front))
            t[name].append(seconds)
        print(f"{seed:4d}  {q['evocore'][-1]:.5f}    {t['evocore'][-1]:6.3f} s  "
              f"{q['pymoo'][-1]:.5f}    {t['pymoo'][-1]:6.3f} s", flush=True)
    ratio = sum(t["pymoo"]) / sum(t["evocore"])
    quality = statistics.fmean(q["evocore"]) / statistics.fmean(q["pymoo"])
    print(f"mean  {statistics.fmean(q['evocore']):.5f}    {statistics.fmean(t['evocore']):6.3f} s  "
          f"{statistics.fmean(q['pymoo']):.5f}    {statistics.fmean(t['pymoo']):6.3f} s")
    print(f"pymoo / evocore time: {ratio:.1f}x {verdict(ratio, speed)} (processor time "
          f"{sum(cpu['pymoo']) / sum(cpu['evocore']):.1f}x); evocore / pymoo mean IGD: "
          f"{quality:.3f} {verdict(quality, 1.1, at_most=True)}")


def section_nsga2(args):
    from pymoo.algorithms.moo.nsga2 import NSGA2 as PymooNSGA2
    from pymoo.problems import get_problem
    p = problems.zdt1()

    def ours(seed):
        return best_rows(nsga2(p, p.lb, p.ub, pop_size=100, generations=200, seed=seed).F)

    def theirs(seed):
        return pymoo_minimize(get_problem("zdt1", n_var=30), PymooNSGA2(pop_size=100), 200,
                              seed)[0]

    head_to_head("ZDT1, NSGA-II, 30 variables, population 100, 200 generations", ours, theirs,
                 p.front(10_000), range(1, 4), 20.0)


def section_nsga3(args):
    from pymoo.algorithms.moo.nsga3 import NSGA3 as PymooNSGA3
    from pymoo.problems import get_problem
    from pymoo.util.ref_dirs import get_reference_directions
    p = problems.dtlz2()

    def ours(seed):
        return best_rows(nsga3(p, p.lb, p.ub, n_partitions=12, generations=250, seed=seed).F)

    def theirs(seed):
        algorithm = PymooNSGA3(get_reference_directions("das-dennis", 3, n_partitions=12),
                               pop_size=92)
        return pymoo_minimize(get_problem("dtlz2", n_var=12, n_obj=3), algorithm, 250, seed)[0]

    head_to_head("DTLZ2, NSGA-III, 3 objectives, 12 variables, 91 reference directions "
                 "(population 92), 250 generations", ours, theirs, p.front(5151), range(1, 4),
                 10.0)


def section_constrained(args):
    from pymoo.algorithms.moo.nsga2 import NSGA2 as PymooNSGA2
    seeds = range(1, 6)
    print("\nNormalised IGD (the front scaled to [0, 1]) of the feasible non-dominated rows, seeds "
          "1-5, population 100, 200 generations")
    print("| problem | moead | nsga2 | pymoo NSGA2 | moead / pymoo | nsga2 / pymoo |")
    print("|---|---|---|---|---|---|")
    for name in ("srn", "tnk", "osy", "ctp1"):
        p = getattr(problems, name)()
        front = p.front(2000)
        runs = {
            "moead": lambda s: moead(p, p.lb, p.ub, n_weights=100, generations=200, seed=s),
            "nsga2": lambda s: nsga2(p, p.lb, p.ub, pop_size=100, generations=200, seed=s),
        }
        q = {k: [normalised_igd(best_rows(r.F, r.CV), front) for r in map(run, seeds)]
             for k, run in runs.items()}
        q["pymoo"] = [normalised_igd(best_rows(*pymoo_minimize(pymoo_problem(p),
                                                                PymooNSGA2(pop_size=100), 200, s)),
                                     front) for s in seeds]
        m = {k: statistics.fmean(v) for k, v in q.items()}
        print(f"| {p.name} | {m['moead']:.4f} | {m['nsga2']:.4f} | {m['pymoo']:.4f} | "
              f"{m['moead'] / m['pymoo']:.2f} | {m['nsga2'] / m['pymoo']:.2f} |", flush=True)
        for k in q:
            print(f"<!-- {p.name} {k}: {', '.join(f'{v:.4f}' for v in q[k])} -->")


def section_ask(args):
    p = problems.zdt1()

    def function():
        return nsga2(p, p.lb, p.ub, generations=200, seed=1)

    def ask_and_tell():
        opt = NSGA2(p.lb, p.ub, generations=200, seed=1)
        for _ in range(200):
            X = opt.ask()
            opt.tell(p(X))
        return opt.result()

    a, b = function(), ask_and_tell()
    assert a.X.tobytes() == b.X.tobytes() and a.F.tobytes() == b.F.tobytes()
    times = {"function": [], "ask and tell": []}
    for _ in range(7):                       # interleaved, the best of each kept
        for name, run in (("function", function), ("ask and tell", ask_and_tell)):
            times[name].append(timed(run)[1])
    best = {k: min(v) for k, v in times.items()}
    ratio = best["ask and tell"] / best["function"]
    print(f"\nnsga2 on ZDT1, 200 generations, the same bytes either way: function "
          f"{best['function']:.3f} s, ask and tell {best['ask and tell']:.3f} s (best of 7): "
          f"{ratio:.3f}x {verdict(ratio, 1.05, at_most=True)}")


def section_tsp(args):
    print("\nTSP, GA with order crossover and 2-opt, seed 1")
    for name in ("berlin52", "kroA100", "gr120"):
        (result, optimum, _), t = timed(tsp.run, name, seed=1)
        length = int(result.F[0, 0])
        print(f"{name:9s} length {length:6d}  optimum {optimum:6d}  "
              f"{100.0 * (length - optimum) / optimum:+5.2f} %  {result.generations:3d} "
              f"generation{'' if result.generations == 1 else 's'}  {t:5.2f} s", flush=True)


def section_g04(args):
    print("\nG04, Gray-coded GA, 100 individuals, 1000 generations")
    for seed in range(1, args.seeds + 1):
        result, t = timed(constrained.run, seed=seed)
        f = result.F[0, 0]
        gap = 100.0 * (f - constrained.BEST_KNOWN) / abs(constrained.BEST_KNOWN)
        print(f"{seed:4d}  best {f:.3f}  ({gap:.3f} % above the best known)  "
              f"feasible at the end {result.history['feasible'][-1]:.0f}  {t:5.2f} s", flush=True)


def main(argv=None, prog=None):
    p = argparse.ArgumentParser(prog=prog, description=" ".join(__doc__.split("\n\n")[0].split()))
    p.add_argument("sections", nargs="*", choices=[[], *SECTIONS], metavar="SECTION",
                   help=f"the sections to run (default all): {', '.join(SECTIONS)}")
    p.add_argument("--seeds", type=int, default=5, help="moead and g04 seeds 1..N (default 5)")
    p.add_argument("--pymoo-seeds", type=int, default=None,
                   help="pymoo's MOEA/D on seeds 1..N (default: as --seeds; 0: none)")
    args = p.parse_args(argv)
    for name in args.sections or SECTIONS:
        globals()[f"section_{name}"](args)


if __name__ == "__main__":
    main(prog="python -m evocore.bench.algorithms")
