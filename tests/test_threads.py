"""Calls under threads: arrays written by another thread while a kernel reads them, and an
interpreter that exits while a daemon thread is inside a kernel."""

import pytest

from _support import run_python

# Calls large enough to run without the interpreter lock.  `arrays` are the arguments another
# thread scribbles on while the calls run.
WRITTEN = {
    "druvik": "F, W = r.random((3000, 8)), r.random((3000, 8)); CV = r.random((3000, 2)) - 0.5; "
              "s = np.ones(8, np.int32); arrays = [F, W, CV, s]; call = lambda P: ev.druvik(F, W, None, CV, s, P)",
    "quelan": "F, W, z = r.random((3000, 8)), r.random((3000, 8)), np.zeros(8); "
              "arrays = [F, W, z]; call = lambda P: ev.quelan(F, W, z, Parallel=P)",
    "ornavi": "F, CV = r.random((9000, 4)), r.random((9000, 2)) - 0.5; s = np.ones(4, np.int32); "
              "arrays = [F, CV, s]; call = lambda P: ev.ornavi(F, CV, s, F[0].copy())",
    "fendrik": "CV, t = r.random((6000, 8)) - 0.5, np.zeros(8); arrays = [CV, t]; "
               "call = lambda P: ev.fendrik(CV, t, True, P)",
    "ulvaro": "F, CV = r.random((20000, 1)), r.random((20000, 2)) - 0.5; arrays = [F, CV]; "
              "call = lambda P: ev.ulvaro(F, CV, None, 2)",
    "velkor": "Phen = r.random((3000, 10)); FieldD = np.array([[20] * 10, [0] * 10, [1] * 10, [1] * 10, "
              "[0] * 10, [1] * 10, [1] * 10, [0] * 10], dtype=np.int32); arrays = [Phen, FieldD]; "
              "call = lambda P: ev.velkor(Phen, FieldD, P)",
    "tamsen": "FieldDR = np.array([[0.0] * 20, [9.0] * 20, [0, 1] * 10]); arrays = [FieldDR]; "
              "call = lambda P: ev.tamsen(2000, FieldDR, P)",
    "sarnet": "C = np.array([r.permutation(200) for _ in range(3000)], dtype=np.int32); arrays = [C]; "
              "call = lambda P: (ev.sarnet(C, 1.0, False, P), ev.sarnet(C, 1.0, True, P), ev.sarnet(C, 1.0, 2999, P))",
    "polvane": "A, B = r.random((300, 30)), r.random((300, 30)); arrays = [A, B]; "
               "call = lambda P: [ev.polvane(A, B, m, P) for m in ('euclidean', 'cityblock', 'cosine', 'cosine_similarity')]",
    # the bitsets (5 objectives), the staircases (3) and the sweep (2) with constraints and needNum
    "ndsort": "F = np.abs(r.normal(size=(6000, 5))); F /= np.sqrt((F * F).sum(1))[:, None]; "
              "CV = r.random((6000, 2)) - 0.9; arrays = [F, CV]; "
              "call = lambda P: (ev.ndsort(F, None, None, None, P), ev.ndsort(F[:, :3], Parallel=P), "
              "ev.ndsort(F[:, :2], CV, None, 1000, P))",
    "crowding": "F, L = r.random((6000, 3)), r.integers(1, 4, 6000).astype(float); arrays = [F, L]; "
                "call = lambda P: ev.crowding(F, L)",
    "associate": "F, R = r.random((6000, 3)), r.random((91, 3)) + 0.01; arrays = [F, R]; "
                 "call = lambda P: ev.associate(F, R)",
}

PROBE = """
import threading, time
import numpy as np
import evocore as ev
r = np.random.default_rng(1)
{setup}
kept = [a.copy() for a in arrays]
junk = dict(f=[np.nan, np.inf, -1e308, 2.0**30], i=[2**30, -2**31, 7, -1])
stop = False

def scribble():
    k = 0
    while not stop:
        k += 1
        a, good = arrays[k % len(arrays)], kept[k % len(arrays)]
        row = (k * 7919) % len(a)
        a[row] = junk[a.dtype.kind][k % 4]
        a[row] = good[row]

writer = threading.Thread(target=scribble)
writer.start()
try:
    for P in (False, True):
        end = time.perf_counter() + {seconds}
        while time.perf_counter() < end:
            try:
                call(P)
            except (RuntimeError, ValueError, OverflowError, MemoryError):
                pass  # what the checks make of a half-written input
finally:
    stop = True
    writer.join()
print("survived")
"""


@pytest.mark.parametrize("name", WRITTEN)
def test_an_input_written_during_a_call_never_breaks_memory(name):
    done = run_python(PROBE.format(setup=WRITTEN[name], seconds=0.4), timeout=300)
    assert done.returncode == 0 and done.stdout.strip() == "survived", (done.returncode, done.stderr[-2000:])


EXIT = """
import sys, threading, time
import numpy as np
import evocore as ev
A = np.random.default_rng(0).random((500, 40))
threading.Thread(target=lambda: [ev.polvane(A, A, Parallel={parallel}) for _ in range(10**6)], daemon=True).start()
time.sleep(0.2)
"""


@pytest.mark.parametrize("parallel", [False, True])
def test_exit_while_a_daemon_thread_is_inside_a_kernel(parallel):
    # CPython ends such a thread when it asks for the lock back during finalisation
    codes = [run_python(EXIT.format(parallel=parallel)).returncode for _ in range(10)]
    assert codes == [0] * 10
