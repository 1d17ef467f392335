#!/usr/bin/env python3
"""Quality and speed of the worked examples (evocore.demo), side by side in one process.

    python bench/demo_quality.py                   everything (pymoo's MOEA/D takes ~45 s a seed)
    python bench/demo_quality.py --pymoo-seeds 1   one pymoo run only
    python bench/demo_quality.py --pymoo-seeds 0   no pymoo

MOEA/D on ZDT1 (30 variables, 100 weight vectors, 300 generations, neighbourhood 15) runs three
ways on seeds 1-5: as shipped (evocore operators), the same code with NumPy in place of every
operator, and pymoo's MOEAD with the same budget (pip install '.[bench]').  All IGDs are taken
by the same routine against the same finely sampled true front.  Then DTLZ2 with PBI and the
constrained CTP1 (Tchebycheff with the feasibility rule) on seeds 1-5, the TSP instances with
seed 1 (length against the optimum, seconds) and the constrained GA on G04.  The machine is shared: read the times as ratios of runs made here, side by side.
"""

import argparse
import contextlib
import statistics
import time

import numpy as np

from evocore import algorithms
from evocore.demo import constrained, moead, tsp


# ---- the operators as a user would write them in NumPy -----------------------------------

def np_druvik(ObjV, weights, idealPoint):
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


def np_tamsen(Nind, FieldDR):
    return np.random.uniform(FieldDR[0], FieldDR[1], (Nind, FieldDR.shape[1]))


@contextlib.contextmanager
def numpy_operators():
    """Run evocore.algorithms.moead with NumPy in place of the evocore operators."""
    swap = dict(druvik=np_druvik, quelan=np_quelan, ornavi=np_ornavi, polvane=np_polvane,
                tamsen=np_tamsen)
    saved = {k: getattr(algorithms, k) for k in swap}
    for k, v in swap.items():
        setattr(algorithms, k, v)
    try:
        yield
    finally:
        for k, v in saved.items():
            setattr(algorithms, k, v)


def timed(f, *a, **k):
    t0 = time.perf_counter()
    out = f(*a, **k)
    return out, time.perf_counter() - t0


def pymoo_zdt1(seed):
    from pymoo.algorithms.moo.moead import MOEAD
    from pymoo.optimize import minimize
    from pymoo.problems import get_problem
    from pymoo.util.ref_dirs import get_reference_directions

    algorithm = MOEAD(get_reference_directions("uniform", 2, n_partitions=99), n_neighbors=15,
                      prob_neighbor_mating=0.9)
    res = minimize(get_problem("zdt1", n_var=30), algorithm, ("n_gen", 300), seed=seed,
                   verbose=False)
    return res.F


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--seeds", type=int, default=5, help="MOEA/D seeds 1..N (default 5)")
    p.add_argument("--pymoo-seeds", type=int, default=None,
                   help="pymoo runs on seeds 1..N (default: as --seeds; 0: none)")
    args = p.parse_args(argv)
    seeds = range(1, args.seeds + 1)
    pymoo_seeds = range(1, (args.seeds if args.pymoo_seeds is None else args.pymoo_seeds) + 1)
    front = moead.zdt1_front()

    print("ZDT1, MOEA/D (Tchebycheff), 100 weight vectors, 300 generations, neighbourhood 15")
    print("seed  evocore IGD  time    NumPy IGD  time    pymoo IGD  time")
    rows = []
    for seed in seeds:
        (_, _, q_evo), t_evo = timed(moead.run, "zdt1", seed=seed)
        with numpy_operators():
            (_, _, q_np), t_np = timed(moead.run, "zdt1", seed=seed)
        q_pm = t_pm = None
        if seed in pymoo_seeds:
            try:
                F, t_pm = timed(pymoo_zdt1, seed)
                q_pm = algorithms.igd(F, front)
            except ImportError:
                pymoo_seeds = range(0)
                print("(pymoo is not installed: pip install '.[bench]')")
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
                        ("ctp1", "CTP1, MOEA/D (Tchebycheff, 2 constraints by the feasibility "
                                 "rule), 100 weight vectors")):
        print(f"\n{title}, 300 generations, neighbourhood 15")
        qs = []
        for seed in seeds:
            (_, _, q), t = timed(moead.run, name, seed=seed)
            qs.append(q)
            print(f"{seed:4d}  IGD {q:.5f}  {t:5.2f} s", flush=True)
        print(f"mean  IGD {statistics.fmean(qs):.5f}")

    print("\nTSP, GA with order crossover and 2-opt, seed 1")
    for name in ("berlin52", "kroA100", "gr120"):
        (result, optimum, _), t = timed(tsp.run, name, seed=1)
        length = int(result.F[0, 0])
        print(f"{name:9s} length {length:6d}  optimum {optimum:6d}  "
              f"{100.0 * (length - optimum) / optimum:+5.2f} %  {result.generations:3d} "
              f"generation{'' if result.generations == 1 else 's'}  {t:5.2f} s", flush=True)

    print("\nG04, Gray-coded GA, 100 individuals, 1000 generations")
    for seed in seeds:
        result, t = timed(constrained.run, seed=seed)
        f = result.F[0, 0]
        gap = 100.0 * (f - constrained.BEST_KNOWN) / abs(constrained.BEST_KNOWN)
        print(f"{seed:4d}  best {f:.3f}  ({gap:.3f} % above the best known)  "
              f"feasible at the end {result.history['feasible'][-1]:.0f}  {t:5.2f} s", flush=True)


if __name__ == "__main__":
    main()
