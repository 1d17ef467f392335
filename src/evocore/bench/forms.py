"""forms: every form this processor supports of each kernel that picks one by processor, side
by side on a small and a large case.  The evocore column is the form the kernel picks, the
baseline its narrowest form (the plain loop, or the x86-64 baseline); the picked form must be
the fastest, or within 5 % of it."""

import importlib

import numpy as np

from ._core import Bench, case, fmt_time
from .velkor import velkor_data


def forms_case(name, kernel, data, *sizes):
    """Module `name`'s call on data(*sizes), its kernel running each form in turn: the form is
    chosen before every call of every variant alike (a constant added to each)."""
    def setup(mode, ops, ctx):
        forms = importlib.import_module(f"evocore.core.{name}")._forms
        _, _, supported, picked = next(r for r in forms() if r[0] == kernel)
        fn, args = data(ops[name], *sizes)

        def in_form(form):
            def run():
                forms(kernel, form)
                try:
                    return fn(*args)
                finally:
                    forms(kernel, picked)
            return run
        run = {form: in_form(form) for form in supported}
        narrowest = supported[-1]
        others = [form for form in supported if form not in (picked, narrowest)]
        variants = {f"form {form}": run[form] for form in others}

        def report(times, ctx):
            named = {picked: times["evocore"], narrowest: times["baseline"], **{k: times[f"form {k}"] for k in others}}
            fastest = min(named, key=named.get)
            out = {"picked": picked, "fastest": fastest}
            out.update({form: fmt_time(named[form]) for form in supported})
            out["fastest/picked"] = round(named[fastest] / named[picked], 3)
            return out
        return Bench(run[picked], run[narrowest], variants=variants, report=report,
                     targets={"fastest/picked": 0.95})
    return setup


def forms_polvane(metric, same):
    def data(polvane, n, dim):
        rng = np.random.default_rng(5)
        A, B = rng.random((n, dim)), rng.random((n, dim))
        return polvane, (A, A if same else B, metric)
    return data


for _kernel, _metric, _same in (("_polvane_eu", "euclidean", False), ("_polvane_ci", "cityblock", False),
                                ("_polvane_eu_self", "euclidean", True), ("_polvane_ci_self", "cityblock", True)):
    for _n, _dim in ((100, 3), (2000, 16)):
        _size = f"{_n}x{_dim}" if _same else f"{_n}x{_n}x{_dim}"
        case(f"forms {_kernel} {_size}", needs=("polvane",))(
            forms_case("polvane", "_polvane", forms_polvane(_metric, _same), _n, _dim))
for _n in (100, 10**5):
    case(f"forms _velkor {_n}x10x20", needs=("velkor",))(
        forms_case("velkor", "_velkor", lambda velkor, n: (velkor, velkor_data(n)), _n))


def forms_genes(sarnet, n, L):
    """sarnet's crossover with a fixed seed, whose range scan the forms run."""
    Chrom = np.array([np.random.default_rng(i).permutation(L) for i in range(n)], dtype=np.int32)
    return importlib.import_module("evocore.core.sarnet")._seeded, (12345, Chrom)


for _n, _L in ((100, 50), (1000, 1000)):
    case(f"forms _sarnet {_n}x{_L}", needs=("sarnet",))(forms_case("sarnet", "_sarnet", forms_genes, _n, _L))


def forms_associate(associate, n, m):
    rng = np.random.default_rng(5)
    return associate, (rng.random((n, m)), rng.random((91, m)) + 0.01)


for _n in (200, 10**4):
    case(f"forms _associate {_n}x3, 91 reference points", needs=("associate",))(
        forms_case("associate", "_associate", forms_associate, _n, 3))
