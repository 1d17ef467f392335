"""The worked examples: python -m evocore end to end, and the routines they report with."""

import json
import math
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest

import evocore
from evocore import algorithms
from evocore.demo import cli, constrained, tsp

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
    assert run.stdout.startswith(f"evocore {evocore.__version__}, seed 1, quick run: MOEA/D on "
                                 "ZDT1, DTLZ2 and CTP1; NSGA-II on OSY; NSGA-III on DTLZ1; a "
                                 "permutation GA on gr17 and berlin52; a Gray-coded GA on G04\n")
    for name in cli.QUICK:
        assert f"\n{name}: " in run.stdout
    assert "feasible individuals per generation" in run.stdout
    if HAVE_MATPLOTLIB:
        assert f"pictures: {out.resolve()}" in run.stdout
        for name in cli.QUICK:
            assert (out / f"{name}.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    else:
        assert "pip install 'evocore[demo]'" in run.stdout


@pytest.mark.parametrize("F,front,expected", [
    ([[0.0, 1.0], [1.0, 0.0]], [[0.0, 1.0], [1.0, 0.0]], 0.0),
    ([[0.0, 1.0]], [[0.0, 1.0], [1.0, 0.0]], math.sqrt(2.0) / 2),
    ([[0.0, 0.0]], [[3.0, 4.0], [0.0, 1.0], [6.0, 8.0]], (5.0 + 1.0 + 10.0) / 3),
    ([[1.0, 1.0, 1.0], [0.0, 0.0, 0.0]], [[1.0, 1.0, 2.0]], 1.0),
])
def test_igd(F, front, expected):
    assert algorithms.igd(np.array(F), np.array(front)) == pytest.approx(expected, rel=1e-15)


def test_simplex_lattice():
    for M, H, count in ((2, 99, 100), (3, 12, 91)):
        W = algorithms.simplex_lattice(M, H)
        assert W.shape == (count, M) and np.allclose(W.sum(axis=1), 1.0)
        assert len(np.unique(W, axis=0)) == count


SQUARE = np.array([[0.0, 0.0], [10.0, 0.0], [10.0, 10.0], [0.0, 10.0]])


@pytest.mark.parametrize("tour,length", [
    ([0, 1, 2, 3], 40),
    ([0, 2, 1, 3], 10 + 14 + 10 + 14),          # two diagonals of 14.14... -> 14
    ([[3, 2, 1, 0], [1, 3, 0, 2]], [40, 48]),
])
def test_tour_length(tour, length):
    D = tsp.euc_2d(SQUARE)
    assert np.array_equal(algorithms.tour_length(D, tour), length)


def test_euc_2d_rounds_to_the_nearest_integer():
    D = tsp.euc_2d(np.array([[0.0, 0.0], [3.0, 4.0], [1.0, 1.0], [1.5, 2.0]]))
    assert D[0].tolist() == [0, 5, 1, 3]        # 1.414 -> 1, 2.5 -> 3
    assert np.array_equal(D, D.T)


@pytest.mark.parametrize("name", tsp.INSTANCES)
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
        assert algorithms.tour_length(D, tour) == optimum


def test_tsp_ga_reaches_the_optimum_of_a_small_instance():
    D, _, optimum = tsp.load("gr17")
    result = algorithms.permutation_ga(D, pop_size=10, generations=20, seed=2, target=optimum)
    tour = result.X[0]
    assert sorted(tour) == list(range(17))
    assert result.F[0, 0] == algorithms.tour_length(D, tour) == optimum


def test_embedding_keeps_plane_distances():
    coords = np.random.default_rng(2).random((12, 2))
    D = np.sqrt(((coords[:, None] - coords[None]) ** 2).sum(axis=2))
    xy = tsp.embed(D)
    assert np.allclose(np.sqrt(((xy[:, None] - xy[None]) ** 2).sum(axis=2)), D)


def test_g04_at_the_best_known_point():
    x = np.array([[78.0, 33.0, 29.9952560256815985, 45.0, 36.7758129057882073]])
    f, G = constrained.g04(x)
    assert f[0, 0] == pytest.approx(constrained.BEST_KNOWN, abs=1e-3)
    assert G.shape == (1, 6) and (G < 1e-6).all()


def test_constrained_history_counts_feasible():
    result = constrained.run(generations=15, seed=4)
    counts = result.history["feasible"]
    assert len(counts) == 15 and (counts >= 0).all() and (counts <= 100).all()
    assert counts[-1] == (result.CV.max(axis=1) <= 0).sum()
    assert result.history["best"][-1] == result.F[0, 0] and result.history["violation"][-1] == 0
    X = result.X
    assert (constrained.LB <= X).all() and (X <= constrained.UB).all()


def test_read_tsplib():
    text = ("NAME: tiny\nTYPE: TSP\nDIMENSION: 3\nOPTIMUM: 12\nEDGE_WEIGHT_TYPE: EUC_2D\n"
            "NODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\nEOF\n")
    D, coords, optimum = tsp.read_tsplib(text)
    assert D.tolist() == [[0, 3, 5], [3, 0, 4], [5, 4, 0]] and optimum == 12
    assert coords.tolist() == [[0.0, 0.0], [3.0, 0.0], [3.0, 4.0]]
    with pytest.raises(ValueError, match="EUC_2D"):
        tsp.read_tsplib(text.replace("EUC_2D", "GEO"))


def test_plain_progress_lines(capsys):
    with cli.Progress("zdt1", 10) as progress:   # the tests' output is not a terminal
        for gen in range(1, 11):
            progress(gen, f"at {gen}")
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "  zdt1: generation 1/10  at 1"
    assert lines[-1] == "  zdt1: generation 10/10  at 10" and len(lines) == 6


def test_bench_passes_its_arguments_on_and_draws_the_chart(tmp_path, monkeypatch):
    runner = tmp_path / "run.py"
    runner.write_text(
        "import json, sys\n"
        "path = sys.argv[sys.argv.index('--json') + 1]\n"
        "json.dump([{'case': ' '.join(sys.argv[1:-2]), 'ratio': 2.0}, {'case': 'b', 'ratio': 0.5},\n"
        "           {'case': 'c', 'skipped': 'not built'}], open(path, 'w'))\n")
    monkeypatch.setattr(cli, "BENCH", [sys.executable, str(runner)])
    out = tmp_path / "out"
    assert cli.main(["bench", "--quick", "polvane", "--out", str(out), "sarnet"]) == 0
    rows = json.loads((out / "bench.json").read_text())
    assert len(rows) == 3 and rows[0]["case"] == "--quick polvane sarnet"
    assert (out / "bench.png").is_file() == HAVE_MATPLOTLIB


def test_problem_runs_the_named_problems_once_each_in_order(monkeypatch, capsys):
    ran = []
    for runner in ("run_moead", "run_nsga", "run_tsp", "run_constrained"):
        monkeypatch.setattr(cli, runner, lambda name, args, plt, runner=runner: ran.append((runner, name))
                            or dict(problem=name, result="", reference="", seconds=0.0))
    monkeypatch.setattr(cli, "pyplot", lambda: None)
    assert cli.main(["--problem", "ZDT1, kroa100,Constrained,zdt1,tnk", "--seed", "7"]) == 0
    assert ran == [("run_moead", "zdt1"), ("run_tsp", "kroA100"), ("run_constrained", "g04"), ("run_nsga", "tnk")]
    banner = capsys.readouterr().out.splitlines()[0]
    assert "seed 7:" in banner and all(name.lower() in banner.lower() for _, name in ran)


@pytest.mark.parametrize("args,status,line", [
    (["--seed", "-5"], 2, "argument --seed: -5 is outside 0 ... 4294967295"),
    (["--seed", "4294967296"], 2, "argument --seed: 4294967296 is outside 0 ... 4294967295"),
    (["--seed", "x"], 2, "argument --seed: not an integer: 'x'"),
    (["--problem", "zdt1,nope"], 2, "argument --problem: unknown problem 'nope'; choose from moead"),
    (["--problem", ""], 2, "argument --problem: an empty problem name; choose from moead"),
    (["--frobnicate"], 2, "unrecognized arguments: --frobnicate"),
    (["--quick", "bench"], 2, "bench comes first, its arguments after it"),
    (["--out", "{tmp}/file"], 1, "--out {tmp}/file: a file of that name is in the way"),
    (["--out", "{tmp}/file/sub"], 1, "--out {tmp}/file/sub: cannot write there (Not a directory)"),
    (["--out", "/sys/evocore-demo"], 1, "--out /sys/evocore-demo: cannot write there"),
    (["bench", "--out", "{tmp}/file"], 1, "--out {tmp}/file: a file of that name is in the way"),
])
def test_mistakes_are_one_line_before_any_work(args, status, line, tmp_path, capsys, monkeypatch):
    (tmp_path / "file").write_text("")
    monkeypatch.setattr(cli, "pyplot", lambda: object())   # pictures asked for: --out is checked
    for runner in ("run_moead", "run_nsga", "run_tsp", "run_constrained", "run_child"):
        monkeypatch.setattr(cli, runner, lambda *a: pytest.fail("work began"))
    assert cli.main([a.format(tmp=tmp_path) for a in args]) == status
    captured = capsys.readouterr()
    assert captured.out == ""
    assert captured.err.startswith(f"python -m evocore: {line.format(tmp=tmp_path)}")
    assert captured.err.count("\n") == 1


@pytest.mark.parametrize("command", [[], ["bench"]])
def test_interrupt_is_one_line_and_status_130(command, tmp_path):
    checkout = Path(__file__).resolve().parents[1]
    run = subprocess.Popen([sys.executable, "-m", "evocore", *command, "--out", str(tmp_path)],
                           cwd=checkout, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    run.stdout.readline()                   # the banner: work has begun
    time.sleep(0.5)
    run.send_signal(signal.SIGINT)
    _, err = run.communicate(timeout=60)
    assert (run.returncode, err) == (130, "python -m evocore: interrupted\n")


@pytest.mark.parametrize("words,status,err", [
    (["k=2"], 0, ""),
    (["no-such-case"], 1, "python -m evocore.bench: no benchmark case was measured, no rows written: "
                          "no case name holds 'no-such-case'\n"),
])
def test_bench_runs_from_the_installed_package(words, status, err, tmp_path):
    run = subprocess.run([sys.executable, "-m", "evocore", "bench", "--quick", "--out", str(tmp_path), *words],
                         cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert (run.returncode, run.stderr) == (status, err)
    table = tmp_path / "bench.json"
    assert table.is_file() == (status == 0)
    if status == 0:
        assert [r["case"] for r in json.loads(table.read_text())["rows"] if r.get("ratio")] == ["ulvaro 100x1 k=2"]
