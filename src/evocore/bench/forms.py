"""forms: every form this processor supports of each kernel that picks one by processor, side
by side on a small and a large case.  The evocore column is the form the kernel picks, the
baseline its narrowest form (the plain loop, or the x86-64 baseline); the picked form must be
the fastest, or within 5 % of it."""

import numpy as np

from ._core import Bench, call, case, fmt_time
from .velkor import velkor_data


def forms_case(kernel, data, *sizes):
    def setup(mode, ops, ctx):
        _forms = ops["_forms"]
        _, _, supported, picked = next(r for r in _forms() if r[0] == kernel)
        args = data(*sizes)
        run = {form: call(_forms, kernel, form, *args) for form in supported}
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


def forms_polvane(n, dim):
    rng = np.random.default_rng(5)
    return rng.random((n, dim)), rng.random((n, dim))


for _kernel in ("_polvane_eu", "_polvane_ci", "_polvane_eu_self", "_polvane_ci_self"):
    for _n, _dim in ((100, 3), (2000, 16)):
        _size = f"{_n}x{_dim}" if _kernel.endswith("_self") else f"{_n}x{_n}x{_dim}"
        case(f"forms {_kernel} {_size}", needs=("_forms",))(forms_case(_kernel, forms_polvane, _n, _dim))
for _n in (100, 10**5):
    case(f"forms _velkor {_n}x10x20", needs=("_forms",))(forms_case("_velkor", velkor_data, _n))


def forms_genes(n, L):
    return (np.array([np.random.default_rng(i).permutation(L) for i in range(n)], dtype=np.int32),)


for _n, _L in ((100, 50), (1000, 1000)):
    case(f"forms gene_range {_n}x{_L}", needs=("_forms",))(forms_case("gene_range", forms_genes, _n, _L))


def forms_associate(n, m):
    rng = np.random.default_rng(5)
    return rng.random((n, m)), rng.random((91, m)) + 0.01


for _n in (200, 10**4):
    case(f"forms _associate {_n}x3, 91 reference points", needs=("_forms",))(forms_case("_associate", forms_associate, _n, 3))
