"""evocore.dask on a local cluster of two worker processes: the bytes of the one-machine call."""

import os
import signal
import time

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")

import evocore  # noqa: E402
import evocore.dask as ed  # noqa: E402

N = 103
# uneven, one chunk, more than workers, blocks without rows (row 0 in the second block)
CHUNKINGS = [((40, 1, 62),), ((N,),), ((13,) * 7 + (12,),), ((0, 52, 0, 51),)]


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, memory_limit="1GB")
    c = distributed.Client(cluster)
    yield c
    c.close()
    cluster.close()


def same(a, b):
    a, b = np.asarray(a), np.asarray(b)
    assert (a.dtype, a.shape) == (b.dtype, b.shape)
    assert a.tobytes() == b.tobytes()


def data():
    rng = np.random.default_rng(7)
    X = rng.normal(size=(N, 3))
    # NaN and both zeros at the chunk edges (rows 39/40/41, 12/13, 0)
    X[0, 1] = np.nan
    X[39, 2], X[40, 2], X[41, 2] = 0.0, -0.0, 0.0
    X[13, 0] = np.nan
    X[12, 2] = -0.0
    W = rng.random((N, 3))
    CV = rng.normal(size=(N, 2))
    CV[40, 0] = np.nan
    return X, W, CV


def chunked(x, rows):
    return da.from_array(x, chunks=rows + ((x.shape[1],) if x.ndim == 2 else ()))


@pytest.mark.parametrize("rows", CHUNKINGS)
@pytest.mark.parametrize("cv", [False, True])
@pytest.mark.parametrize("maxormins", [None, np.array([1, -1, 1])])
def test_ideal_point_and_aggregations(client, rows, cv, maxormins):
    X, W, CV = data()
    CV = CV if cv else None
    Xd, Wd = chunked(X, rows), chunked(W, rows)
    old = np.array([-0.5, np.nan, 0.0])
    for reverse in (False, True):
        same(ed.ornavi(Xd, CV, maxormins, reverse=reverse).compute(), evocore.ornavi(X, CV, maxormins, reverse=reverse))
        same(ed.ornavi(Xd, CV, maxormins, old, reverse).compute(), evocore.ornavi(X, CV, maxormins, old, reverse))
    z = np.array([0.1, -0.2, 0.3])
    for name in ("druvik", "quelan"):
        for point in (None, z):
            got = getattr(ed, name)(Xd, Wd, point, CV, maxormins).compute()
            same(got, getattr(evocore, name)(X, W, point, CV, maxormins))


@pytest.mark.parametrize("nan_opens_a_chunk", [False, True])
def test_feasibility_maxima_are_global(client, nan_opens_a_chunk):
    # the largest value sits in a chunk whose rows are all feasible
    X, _, CV = data()
    X[13, 0] = 0.5
    X[60, 0] = 50.0
    CV[:, :] = -1.0
    CV[5, 1] = 2.0
    if nan_opens_a_chunk:  # passed over as in any row but row 0; every row penalised by the maxima
        X[40, 2] = np.nan
        CV[:, 0] = 1.0
    Xd = chunked(X, ((40, 63),))
    same(ed.ornavi(Xd, CV, reverse=True).compute(), evocore.ornavi(X, CV, reverse=True))


@pytest.mark.parametrize("rows", CHUNKINGS)
def test_row_wise(client, rows):
    X, _, CV = data()
    for threshold in (None, 0.5):
        flags, count = ed.fendrik(chunked(CV, rows), threshold, True)
        f0, c0 = evocore.fendrik(CV, threshold, True)
        same(flags.compute(), f0)
        assert int(count.compute()) == c0
        same(ed.fendrik(chunked(CV, rows), threshold).compute(), evocore.fendrik(CV, threshold))
    # rows: lens, lb, ub, codes, scales, lbin, ubin, varTypes
    FieldD = np.array([[8, 6, 5], [-1, 0, -3], [1, 2, 3], [0, 1, 0], [0, 0, 0], [1, 1, 1], [1, 0, 1], [0, 0, 1]],
                      float)
    Phen = np.random.default_rng(3).uniform(-1, 1, size=(N, 3)) + [0, 1, -1]
    same(ed.velkor(chunked(Phen, rows), FieldD).compute(), evocore.velkor(Phen, FieldD))


@pytest.mark.parametrize("rows", CHUNKINGS)
@pytest.mark.parametrize("case", ["plain", "penalised", "equal", "zeros"])
def test_ulvaro(client, rows, case):
    X, _, CV = data()
    Y = X[:, 2:3].copy()
    if case == "equal":
        Y[:] = 3.0
    if case != "zeros":
        Y[Y == 0] = 1.0
    cv = CV if case == "penalised" else None
    for k in (1, 2.5):
        got = ed.ulvaro(chunked(Y, rows), cv, np.array([-1]), k).compute()
        same(got, evocore.ulvaro(Y, cv, np.array([-1]), k))


@pytest.mark.parametrize("rows", CHUNKINGS)
def test_polvane_blocks(client, rows):
    X, W, _ = data()
    X[0, 1] = 1.0
    for metric in ("euclidean", "cityblock", "cosine"):
        got = ed.polvane(chunked(X, rows), chunked(W[:50], ((17, 33),)), metric).compute()
        same(got, evocore.polvane(X, W[:50], metric))


def test_polvane_to_zarr(client, tmp_path):
    zarr = pytest.importorskip("zarr")
    A = np.random.default_rng(1).random((300, 4))
    ed.polvane(chunked(A, ((100,) * 3,)), chunked(A, ((150,) * 2,))).to_zarr(str(tmp_path / "d.zarr"))
    same(zarr.open(str(tmp_path / "d.zarr"), mode="r")[:], evocore.polvane(A, A))


def test_polvane_survives_a_killed_worker(client):
    A = np.random.default_rng(2).random((2000, 8))
    future = client.compute(ed.polvane(chunked(A, ((100,) * 20,)), chunked(A, ((250,) * 8,))))
    workers = list(client.scheduler_info()["workers"])
    pid = client.run(os.getpid, workers=[workers[0]])[workers[0]]
    time.sleep(0.3)  # some blocks done, others not yet
    os.kill(pid, signal.SIGKILL)
    same(future.result(timeout=60), evocore.polvane(A, A))


@pytest.mark.parametrize("chunks", [333, 1000, 90])
@pytest.mark.parametrize("types", [[0, 1, 0], [1, 1, 1]])
def test_tamsen_is_the_parallel_matrix(client, chunks, types):
    F = np.array([[0, -5, 1.0], [1, 5, 9], types], float)
    np.random.seed(11)
    expected = evocore.tamsen(1000, F, True)
    np.random.seed(11)
    same(ed.tamsen(1000, F, chunks=chunks).compute(), expected)
    assert np.random.randint(2, 2147483647) == (np.random.seed(11), np.random.randint(2, 2147483647),
                                                np.random.randint(2, 2147483647))[2]


def test_tamsen_checks_first(client):
    with pytest.raises(Exception, match="Nind must be an integer"):
        ed.tamsen(0, np.zeros((3, 2)))
    with pytest.raises(Exception, match="3 rows"):
        ed.tamsen(5, np.zeros((2, 2)))
