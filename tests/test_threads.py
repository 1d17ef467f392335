"""The operators called from several Python threads at once: on a free-threaded interpreter they
run side by side without any interpreter lock, so every piece of state that calls share is
exercised here."""

import threading

import numpy as np
import pytest

import evocore
from _support import assert_bytes_equal

rng = np.random.default_rng(2024)
SMALL = rng.normal(size=(100, 3))
LARGE = rng.normal(size=(30000, 3))
WEIGHTS = rng.uniform(size=(30000, 3))
CV = rng.normal(size=(30000, 2))
FIELDD = np.array([[9] * 3, [-3] * 3, [3] * 3, [0, 1, 1], [0] * 3, [1] * 3, [1] * 3, [0, 0, 1]])
FIELDDR = np.array([[-1.0] * 5, [1.0] * 5, [0, 1, 0, 1, 0]])
CHROM = np.argsort(rng.random((400, 40)), axis=1).astype(np.int32)
MAXORMINS = np.array([1, -1, 1])

# name -> (call(Parallel), takes Parallel); sizes below and above the point where a call lets go
# of the interpreter lock.  tamsen and sarnet draw from np.random, which the test fixes.
CALLS = {
    "druvik small": (lambda P: evocore.druvik(SMALL, WEIGHTS[:100], np.zeros(3), None, None, P), True),
    "druvik large": (lambda P: evocore.druvik(LARGE, WEIGHTS, np.zeros(3), CV, MAXORMINS, P), True),
    "quelan small": (lambda P: evocore.quelan(SMALL, WEIGHTS[:100], None, CV[:100], None, 2.0, P), True),
    "quelan large": (lambda P: evocore.quelan(LARGE, WEIGHTS, np.zeros(3), None, MAXORMINS, 5, P), True),
    "ornavi small": (lambda P: evocore.ornavi(SMALL, CV[:100], MAXORMINS, np.zeros(3)), False),
    "ornavi large": (lambda P: evocore.ornavi(LARGE, None, None, None, True), False),
    "fendrik": (lambda P: evocore.fendrik(CV, 0.5, True, P), True),
    "ulvaro": (lambda P: evocore.ulvaro(LARGE[:, :1], CV, None, 2), False),
    "velkor": (lambda P: evocore.velkor(LARGE[:5000], FIELDD, P), True),
    "tamsen small": (lambda P: evocore.tamsen(50, FIELDDR, P), True),
    "tamsen large": (lambda P: evocore.tamsen(20000, FIELDDR, P), True),
    "sarnet": (lambda P: evocore.sarnet(CHROM, 0.7, False, P), True),
    "sarnet one row": (lambda P: evocore.sarnet(CHROM[:1], 0.7, True, P), True),
    "polvane small": (lambda P: evocore.polvane(SMALL[:30], SMALL[30:60], "euclidean", P), True),
    "polvane large": (lambda P: evocore.polvane(LARGE[:300], LARGE[:400], "cosine", P), True),
}
THREADS, ROUNDS = 8, 12


def as_arrays(result):
    return [np.asarray(r) for r in (result if isinstance(result, tuple) else (result,))]


@pytest.mark.parametrize("name, Parallel", [(n, p) for n, (_, takes) in CALLS.items() for p in (False, True)[:1 + takes]])
def test_operators_from_eight_threads_equal_the_serial_call(monkeypatch, name, Parallel):
    monkeypatch.setattr(np.random, "randint", lambda low, high: 987654321)
    call = CALLS[name][0]
    expected = as_arrays(call(Parallel))  # the same call, made alone
    start = threading.Barrier(THREADS)
    results, errors = [], []

    def run():
        try:
            start.wait()
            for _ in range(ROUNDS):
                results.append(call(Parallel))
        except BaseException as e:  # noqa: B036 - reported below, on the test's thread
            errors.append(e)

    threads = [threading.Thread(target=run) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    assert len(results) == THREADS * ROUNDS
    for result in results:
        for got, want in zip(as_arrays(result), expected, strict=True):
            assert_bytes_equal(got, want)
