"""The worked examples: python -m evocore end to end, and the routines they report with."""

import ast
import inspect
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import evocore

OPERATORS = ("druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen", "sarnet",
             "polvane")
missing = [name for name in OPERATORS if name not in evocore._MODULES]
pytestmark = pytest.mark.skipif(bool(missing), reason=f"operators not built: {missing}")

if not missing:
    from evocore.demo import cli, constrained, moead, tsp

try:
    import matplotlib  # noqa: F401
    HAVE_MATPLOTLIB = True
except ImportError:
    HAVE_MATPLOTLIB = False

PACKAGE = Path(evocore.__file__).parent


def test_quick_demo_writes_its_pictures(tmp_path):
    out = tmp_path / "pictures"
    run = subprocess.run([sys.executable, "-m", "evocore", "--quick", "--out", str(out)],
                         cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    for name in cli.QUICK:
        assert f"\n{name}: " in run.stdout
    assert "feasible individuals per generation" in run.stdout
    if HAVE_MATPLOTLIB:
        assert f"pictures: {out.resolve()}" in run.stdout
        for name in cli.QUICK:
            assert (out / f"{name}.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    else:
        assert "pip install 'evocore[demo]'" in run.stdout


def test_unknown_problem_is_refused(tmp_path):
    with pytest.raises(SystemExit, match="unknown problem nope"):
        cli.main(["--problem", "zdt1,nope", "--out", str(tmp_path)])


@pytest.mark.parametrize("problem,pbi", [("zdt1", False), ("zdt1", True), ("dtlz2", True)])
def test_moead_is_reproducible(problem, pbi):
    first = moead.run(problem, seed=3, pbi=pbi, generations=3)
    again = moead.run(problem, seed=3, pbi=pbi, generations=3)
    assert np.array_equal(first[0], again[0]) and first[2] == again[2]


@pytest.mark.parametrize("F,front,expected", [
    ([[0.0, 1.0], [1.0, 0.0]], [[0.0, 1.0], [1.0, 0.0]], 0.0),
    ([[0.0, 1.0]], [[0.0, 1.0], [1.0, 0.0]], math.sqrt(2.0) / 2),
    ([[0.0, 0.0]], [[3.0, 4.0], [0.0, 1.0], [6.0, 8.0]], (5.0 + 1.0 + 10.0) / 3),
    ([[1.0, 1.0, 1.0], [0.0, 0.0, 0.0]], [[1.0, 1.0, 2.0]], 1.0),
])
def test_igd(F, front, expected):
    assert moead.igd(np.array(F), np.array(front)) == pytest.approx(expected, rel=1e-15)


def test_true_fronts_and_weights():
    f = moead.zdt1_front(5)
    assert np.allclose(f[:, 1], 1.0 - np.sqrt(f[:, 0])) and f[0].tolist() == [0.0, 1.0]
    assert np.allclose(np.linalg.norm(moead.dtlz2_front(10), axis=1), 1.0)
    for M, H, count in ((2, 99, 100), (3, 12, 91)):
        W = moead.simplex_lattice(M, H)
        assert W.shape == (count, M) and np.allclose(W.sum(axis=1), 1.0)
        assert len(np.unique(W, axis=0)) == count
    X = np.random.default_rng(0).random((50, 30))
    X[:, 1:] = 0.0                           # g = 1: on the front
    F = moead.zdt1(X)
    assert np.allclose(F[:, 1], 1.0 - np.sqrt(F[:, 0]))
    X = np.random.default_rng(0).random((50, 12))
    X[:, 2:] = 0.5
    assert np.allclose(np.linalg.norm(moead.dtlz2(X), axis=1), 1.0)


def test_variation_stays_in_bounds():
    rng = np.random.default_rng(1)
    P = rng.random((200, 30))
    P[:10] = 0.0
    P[10:20] = 1.0
    child = moead.polynomial_mutation(moead.sbx(P, P[::-1], rng), rng)
    assert child.shape == P.shape and child.min() >= 0.0 and child.max() <= 1.0


SQUARE = np.array([[0.0, 0.0], [10.0, 0.0], [10.0, 10.0], [0.0, 10.0]])


@pytest.mark.parametrize("tour,length", [
    ([0, 1, 2, 3], 40),
    ([0, 2, 1, 3], 10 + 14 + 10 + 14),          # two diagonals of 14.14... -> 14
    ([[3, 2, 1, 0], [1, 3, 0, 2]], [40, 48]),
])
def test_tour_length(tour, length):
    D = tsp.euc_2d(SQUARE)
    assert np.array_equal(tsp.tour_length(D, tour), length)


def test_euc_2d_rounds_to_the_nearest_integer():
    D = tsp.euc_2d(np.array([[0.0, 0.0], [3.0, 4.0], [1.0, 1.0], [1.5, 2.0]]))
    assert D[0].tolist() == [0, 5, 1, 3]        # 1.414 -> 1, 2.5 -> 3
    assert np.array_equal(D, D.T)


@pytest.mark.parametrize("near", [None, 2])
def test_two_opt_uncrosses(near):
    D = tsp.euc_2d(SQUARE)
    lists = None if near is None else tsp.neighbours(D, near)
    assert tsp.tour_length(D, tsp.two_opt(D, [0, 2, 1, 3], lists)) == 40
    rng = np.random.default_rng(5)
    coords = rng.random((40, 2)) * 1000
    D = tsp.euc_2d(coords)
    tours = np.array([rng.permutation(40) for _ in range(6)])
    better = tsp.two_opt(D, tours, lists if near is None else tsp.neighbours(D, 8))
    assert all(sorted(t) == list(range(40)) for t in better)
    assert (tsp.tour_length(D, better) < tsp.tour_length(D, tours)).all()


@pytest.mark.parametrize("name", tsp.INSTANCES if not missing else [])
def test_shipped_instances(name):
    D, coords, optimum = tsp.load(name)
    assert D.shape[0] == D.shape[1] and np.array_equal(D, D.T) and (np.diag(D) == 0).all()
    assert optimum == {"berlin52": 7542, "kroA100": 21282, "gr120": 6942, "gr17": 2085,
                       "gr24": 1272}[name]
    assert (coords is None) == name.startswith("gr")
    if name.startswith("gr"):                # the published optimal tour has that length
        doc = json.loads((PACKAGE / "demo" / "data" / f"{name}.json").read_text())
        tour = np.array(doc["OptTour"])
        tour -= tour.min()
        assert tsp.tour_length(D, tour) == optimum


def test_tsp_ga_reaches_the_optimum_of_a_small_instance():
    D, _, optimum = tsp.load("gr17")
    tour, length, _ = tsp.ga(D, pop_size=10, generations=20, seed=2, optimum=optimum)
    assert sorted(tour) == list(range(17)) and length == tsp.tour_length(D, tour) == optimum


def test_embedding_keeps_plane_distances():
    coords = np.random.default_rng(2).random((12, 2))
    D = np.sqrt(((coords[:, None] - coords[None]) ** 2).sum(axis=2))
    xy = tsp.embed(D)
    assert np.allclose(np.sqrt(((xy[:, None] - xy[None]) ** 2).sum(axis=2)), D)


@pytest.mark.parametrize("chrom,bits,lb,ub,expected", [
    ([[0, 1, 0, 0]], 4, [0.0], [10.0], [[70.0 / 15.0]]),     # Gray 0100 = binary 0111 = 7
    ([[1, 0, 0, 0]], 4, [0.0], [10.0], [[10.0]]),            # Gray 1000 = 15: the upper bound
    ([[0, 1, 1, 1, 0, 1]], 3, [0.0, -7.0], [7.0, 0.0], [[2.0, -1.0]]),   # 2, then 6
])
def test_gray_decode(chrom, bits, lb, ub, expected):
    got = constrained.gray_decode(np.array(chrom, dtype=np.int32), bits, np.array(lb),
                                  np.array(ub))
    assert np.allclose(got, expected, rtol=0, atol=1e-12)


def test_gray_decode_inverts_velkor():
    lb, ub, bits = constrained.LB, constrained.UB, 10
    codes = np.random.default_rng(3).integers(0, 2 ** bits, size=(20, len(lb)))
    X = lb + codes * (ub - lb) / (2 ** bits - 1)
    n = len(lb)
    FieldD = np.vstack((np.full(n, bits), lb, ub, np.ones(n), np.zeros(n), np.ones(n),
                        np.ones(n), np.ones(n)))            # discrete: rounded, exact codes
    Chrom = evocore.velkor(X, FieldD)
    assert np.allclose(constrained.gray_decode(Chrom, bits, lb, ub), X, rtol=0, atol=1e-9)


def test_g04_at_the_best_known_point():
    x = np.array([[78.0, 33.0, 29.9952560256815985, 45.0, 36.7758129057882073]])
    f, G = constrained.g04(x)
    assert f[0, 0] == pytest.approx(constrained.BEST_KNOWN, abs=1e-3)
    assert G.shape == (1, 6) and (G < 1e-6).all()


def test_constrained_history_counts_feasible():
    x, f, violation, history = constrained.ga(pop_size=20, generations=15, seed=4)
    assert len(history) == 15 and all(0 <= count <= 20 for _, count in history)
    best = [b for b, _ in history]
    assert best[-1] == f and violation == 0.0      # elitism on the feasible best
    assert (constrained.LB <= x).all() and (x <= constrained.UB).all()


def test_read_tsplib():
    text = ("NAME: tiny\nTYPE: TSP\nDIMENSION: 3\nOPTIMUM: 12\nEDGE_WEIGHT_TYPE: EUC_2D\n"
            "NODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\nEOF\n")
    D, coords, optimum = tsp.read_tsplib(text)
    assert D.tolist() == [[0, 3, 5], [3, 0, 4], [5, 4, 0]] and optimum == 12
    assert coords.tolist() == [[0.0, 0.0], [3.0, 0.0], [3.0, 4.0]]
    with pytest.raises(ValueError, match="EUC_2D"):
        tsp.read_tsplib(text.replace("EUC_2D", "GEO"))


def test_double_bridge_keeps_the_cities():
    rng = np.random.default_rng(0)
    tour = rng.permutation(30)
    kicked = tsp.double_bridge(tour, rng)
    assert sorted(kicked) == list(range(30)) and not np.array_equal(kicked, tour)


def test_plain_progress_lines(capsys):
    progress = cli.Progress("zdt1", 10)         # the tests' output is not a terminal
    for gen in range(10):
        progress(gen, f"at {gen}")
    progress.close()
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "  zdt1: generation 1/10  at 0"
    assert lines[-1] == "  zdt1: generation 10/10  at 9" and len(lines) == 6


def test_bench_writes_table_and_chart(tmp_path, monkeypatch, capsys):
    runner = tmp_path / "run.py"
    runner.write_text(
        "import json, sys\n"
        "path = sys.argv[sys.argv.index('--json') + 1]\n"
        "json.dump([{'case': 'a', 'ratio': 2.0}, {'case': 'b', 'ratio': 0.5},\n"
        "           {'case': 'c', 'skipped': 'not built'}], open(path, 'w'))\n")
    monkeypatch.setattr(cli, "find_runner", lambda: runner)
    out = tmp_path / "out"
    assert cli.main(["bench", "--quick", "--out", str(out)]) == 0
    assert len(json.loads((out / "bench.json").read_text())) == 3
    assert (out / "bench.png").is_file() == HAVE_MATPLOTLIB
    monkeypatch.setattr(cli, "find_runner", lambda: None)
    assert cli.main(["bench", "--out", str(out)]) == 2
    assert "source checkout" in capsys.readouterr().out


def test_bench_runner_is_found_from_a_checkout(monkeypatch):
    checkout = Path(__file__).resolve().parents[1]
    monkeypatch.chdir(checkout / "tests")
    assert cli.find_runner() == checkout / "bench" / "run.py"


# ---- type stubs ----------------------------------------------------------------------------

def stub_parameters(name):
    tree = ast.parse((PACKAGE / "core" / f"{name}.pyi").read_text())
    fn = next(n for n in tree.body if isinstance(n, ast.FunctionDef))   # the first overload
    args = fn.args.args + fn.args.kwonlyargs
    defaults = [None] * (len(fn.args.args) - len(fn.args.defaults)) + fn.args.defaults
    defaults += fn.args.kw_defaults
    return [(a.arg, inspect.Parameter.empty if d is None else ast.literal_eval(d))
            for a, d in zip(args, defaults)]


@pytest.mark.parametrize("name", [*OPERATORS, "build"])
def test_stubs_match_the_functions(name):
    function = getattr(evocore, name)
    actual = [(p.name, p.default) for p in inspect.signature(function).parameters.values()]
    assert stub_parameters(name) == actual
    assert f"from evocore.core.{name} import {name} as {name}" in (
        PACKAGE / "__init__.pyi").read_text()
    assert (PACKAGE / "py.typed").is_file()
