"""Whole runs of evocore.algorithms against pymoo's (the bench extra): NSGA-II on ZDT1, NSGA-III
on DTLZ2, NSGA-II through ask and tell against its function, and the normalised IGD of moead and
nsga2 on the constrained problems.  A row times one run of each side (seed 1); its report adds the
mean quality over the seeds the targets name.  --quick runs 5 generations and sets no target.
bench/demo_quality.py prints the same comparisons seed by seed."""

import statistics

from ._core import Bench, Skip, at_most, call, case, peer


def algorithms():
    """evocore.bench.algorithms (its helpers: pymoo's problems, the IGD of the best rows), or Skip
    without pymoo."""
    peer("pymoo", "pymoo")
    from . import algorithms as a
    return a


def valid(a, b):
    ok = a.shape[1] == b.shape[1] and len(a) > 0
    return ok, f"{len(a)} and {len(b)} best rows" if ok else "the two results differ in shape"


def head_to_head(ours, theirs, front, seeds, speed):
    """ours(seed, generations) and theirs(seed, generations) -> the best rows of a run; front()
    the true front their IGD is taken against; the seeds and targets of a full run."""
    def setup(mode, ops, ctx):
        generations = 5 if mode.quick else None

        def report(times, ctx):
            if mode.quick:
                return {}
            a, f = algorithms(), front()
            q = [statistics.fmean(a.igd(run(s, generations), f) for s in seeds) for run in (ours, theirs)]
            return {"IGD": f"{q[0]:.5f} vs {q[1]:.5f}", "IGD / pymoo's": round(q[0] / q[1], 3)}
        return Bench(call(ours, 1, generations), call(theirs, 1, generations), check=valid, report=report,
                     targets=None if mode.quick else {"ratio": speed, "IGD / pymoo's": at_most(1.1)})
    return setup


def nsga2_zdt1(seed, generations):
    a = algorithms()
    p = a.problems.zdt1()
    return a.best_rows(a.nsga2(p, p.lb, p.ub, generations=generations or 200, seed=seed).F)


def pymoo_nsga2_zdt1(seed, generations):
    a = algorithms()
    from pymoo.algorithms.moo.nsga2 import NSGA2
    from pymoo.problems import get_problem
    return a.pymoo_minimize(get_problem("zdt1", n_var=30), NSGA2(pop_size=100), generations or 200, seed)[0]


def nsga3_dtlz2(seed, generations):
    a = algorithms()
    p = a.problems.dtlz2()
    return a.best_rows(a.nsga3(p, p.lb, p.ub, n_partitions=12, generations=generations or 250, seed=seed).F)


def pymoo_nsga3_dtlz2(seed, generations):
    a = algorithms()
    from pymoo.algorithms.moo.nsga3 import NSGA3
    from pymoo.problems import get_problem
    from pymoo.util.ref_dirs import get_reference_directions
    algorithm = NSGA3(get_reference_directions("das-dennis", 3, n_partitions=12), pop_size=92)
    return a.pymoo_minimize(get_problem("dtlz2", n_var=12, n_obj=3), algorithm, generations or 250, seed)[0]


case("nsga2 ZDT1 30 variables, population 100, 200 generations vs pymoo NSGA2")(
    head_to_head(nsga2_zdt1, pymoo_nsga2_zdt1, lambda: algorithms().problems.zdt1().front(10_000), range(1, 4), 20.0))
case("nsga3 DTLZ2 3 objectives, 91 directions, 250 generations vs pymoo NSGA3")(
    head_to_head(nsga3_dtlz2, pymoo_nsga3_dtlz2, lambda: algorithms().problems.dtlz2().front(5151), range(1, 4),
                 10.0))


def ask_and_tell(mode, ops, ctx):
    a = algorithms()
    p, generations = a.problems.zdt1(), 5 if mode.quick else 200

    def function():
        return a.nsga2(p, p.lb, p.ub, generations=generations, seed=1)

    def loop():
        opt = a.NSGA2(p.lb, p.ub, generations=generations, seed=1)
        while not opt.done:
            X = opt.ask()
            opt.tell(p(X))
        return opt.result()

    def same(x, y):
        ok = x.X.tobytes() == y.X.tobytes() and x.F.tobytes() == y.F.tobytes()
        return ok, "the same bytes" if ok else "the loop's bytes differ from the function's"
    # the function is the baseline: the ratio is function time / loop time
    return Bench(loop, function, check=same, targets=None if mode.quick else {"ratio": 1 / 1.05})


case("nsga2 ZDT1 200 generations through ask and tell vs the function")(ask_and_tell)


def constrained(name, algorithm):
    """moead or nsga2 on a constrained problem against pymoo's NSGA2: normalised IGD over seeds
    1-5 at most pymoo's."""
    def setup(mode, ops, ctx):
        a = algorithms()
        from pymoo.algorithms.moo.nsga2 import NSGA2
        p = getattr(a.problems, name)()
        front, generations = p.front(2000), 5 if mode.quick else 200

        def ours(seed):
            if algorithm == "moead":
                r = a.moead(p, p.lb, p.ub, n_weights=100, generations=generations, seed=seed)
            else:
                r = a.nsga2(p, p.lb, p.ub, pop_size=100, generations=generations, seed=seed)
            return a.best_rows(r.F, r.CV)

        def theirs(seed):
            return a.best_rows(*a.pymoo_minimize(a.pymoo_problem(p), NSGA2(pop_size=100), generations, seed))

        def report(times, ctx):
            if mode.quick:
                return {}
            key = f"pymoo {name}"                  # pymoo's five runs serve both rows of a problem
            if key not in ctx:
                ctx[key] = statistics.fmean(a.normalised_igd(theirs(s), front) for s in range(1, 6))
            q = statistics.fmean(a.normalised_igd(ours(s), front) for s in range(1, 6))
            return {"IGD": f"{q:.4f} vs {ctx[key]:.4f}", "IGD / pymoo's": round(q / ctx[key], 3)}
        if not hasattr(a.problems, name):
            raise Skip(f"evocore.problems has no {name}")
        return Bench(call(ours, 1), call(theirs, 1), check=valid, report=report,
                     targets=None if mode.quick else {"IGD / pymoo's": at_most(1.0)})
    return setup


for _name in ("srn", "tnk", "osy", "ctp1"):
    for _algorithm in ("moead", "nsga2"):
        case(f"{_algorithm} {_name.upper()} normalised IGD, seeds 1-5 vs pymoo NSGA2")(constrained(_name, _algorithm))
